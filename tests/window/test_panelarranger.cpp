#include "window/PanelArranger.h"

#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

using namespace kv;
using namespace kv::ui;

namespace {

QFont smallFont() {
    QFont f;
    f.setPixelSize(10); // lines well under 200 twips
    return f;
}

struct Viewport {
    QWidget main;
    QWidget* panel;
    QScrollBar* bar;
    Viewport() {
        main.resize(400, 300);
        panel = new QWidget(&main);
        bar = new QScrollBar(Qt::Vertical, &main);
        bar->resize(16, 300);
        panel->setFont(smallFont());
    }
    QLabel* label(const QString& text, int y, const QString& name = {}) {
        auto* l = new QLabel(text, panel);
        l->setObjectName(name);
        l->setWordWrap(true);
        l->setGeometry(8, y, 100, 10);
        return l;
    }
};

} // namespace

class TestPanelArranger : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void captionHeightCountsWrappedLines_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("lines");
        QTest::newRow("empty caption is one line") << "" << 3000 << 1;
        QTest::newRow("short") << "Registra log" << 3000 << 1;
        QTest::newRow("explicit breaks") << "uno\ndue\ntre" << 3000 << 3;
        QTest::newRow("blank line counts") << "uno\n\ntre" << 3000 << 3;
    }
    void captionHeightCountsWrappedLines() {
        QFETCH(QString, text);
        QFETCH(int, width);
        QFETCH(int, lines);
        QCOMPARE(MisuraAltezzaTesto(text, width, smallFont()), lines * 200 + 30);
    }

    void narrowerWidthWrapsIntoMoreLines() {
        const QString text = QStringLiteral(
            "Avviando il server alcune delle schede diverranno inattive: per modificarne le "
            "impostazioni sarà necessario arrestare il server.");
        const int wide = MisuraAltezzaTesto(text, 15000, smallFont());
        const int narrow = MisuraAltezzaTesto(text, 1500, smallFont());
        QCOMPARE(wide, 230);
        QVERIFY(narrow >= 4 * 200 + 30);
        // A bigger font never gets clipped lines: the line height follows it.
        QFont big;
        big.setPixelSize(30);
        QVERIFY(MisuraAltezzaTesto(QString(), 15000, big) > 230);
    }

    void stacksVisibleChildrenOnly() {
        Viewport v;
        QLabel* second = v.label("secondo", 200);
        QLabel* first = v.label("primo", 50);
        QLabel* hidden = v.label("nascosto", 100);
        hidden->hide();
        auto* sep = v.label("via", 150);
        kv::shell::setLayoutKind(sep, kv::shell::ChildKind::Separator);
        auto* button = new QPushButton("ok", v.panel);
        button->setGeometry(8, 300, 80, 20);
        v.main.show();
        arrangePanel(0, v.panel, &v.main, v.bar, true, {});
        QCOMPARE(first->y(), 8);       // 120 twips
        QCOMPARE(first->height(), 15); // 230 twips
        QCOMPARE(sep->y(), 31);        // 470 twips
        QCOMPARE(sep->height(), 0);
        QCOMPARE(sep->text(), QString());
        QCOMPARE(second->y(), 39);  // 590 twips
        QCOMPARE(hidden->y(), 100); // keeps its place
        QCOMPARE(button->size(), QSize(80, 20));
        // Label width: right margin equals left margin.
        QCOMPARE(first->x() + first->width() + first->x(), v.panel->width());
        QCOMPARE(v.panel->height(), 300);
        QVERIFY(!v.bar->isEnabled());
    }

    void hiddenWindowIsNotLaidOut() {
        Viewport v;
        QLabel* l = v.label("testo", 77);
        arrangePanel(0, v.panel, &v.main, v.bar, false, {});
        QCOMPARE(l->y(), 77);
        QCOMPARE(l->height(), 10);
    }

    void tallContentEnablesTheBar() {
        Viewport v;
        for (int i = 0; i < 30; ++i)
            v.label(QString::number(i), i * 10);
        v.main.show();
        arrangePanel(0, v.panel, &v.main, v.bar, true, {});
        QVERIFY(v.bar->isEnabled());
        QVERIFY(v.bar->isVisible());
        QCOMPARE(v.bar->maximum(), 6120); // 30 captions and gaps, less the viewport, in twips
        arrangePanel(5, v.panel, &v.main, v.bar, true, {});
        QVERIFY(!v.bar->isVisible());
    }
};

QTEST_MAIN(TestPanelArranger)
#include "test_panelarranger.moc"
