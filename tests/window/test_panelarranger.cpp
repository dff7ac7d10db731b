// Caption heights in twips and the vertical stacking of a settings panel's children.
#include "window/PanelArranger.h"

#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

using namespace kv::ui;

namespace {

QFont smallFont(int pixels = 10) { // lines well under 200 twips
    QFont f;
    f.setPixelSize(pixels);
    return f;
}

struct Viewport {
    QWidget main;
    QWidget* panel = new QWidget(&main);
    QScrollBar* bar = new QScrollBar(Qt::Vertical, &main);
    Viewport() {
        main.resize(400, 300);
        bar->resize(16, 300);
        panel->setFont(smallFont());
    }
    QLabel* label(const QString& text, int y) {
        auto* l = new QLabel(text, panel);
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
        // Narrower widths and bigger fonts: test_form1's labelsShowTheirWholeText.
        QTest::newRow("long text, wide enough")
            << "Avviando il server alcune delle schede diverranno inattive: per modificarne le "
               "impostazioni sarà necessario arrestare il server."
            << 15000 << 1;
    }
    void captionHeightCountsWrappedLines() {
        QFETCH(QString, text);
        QFETCH(int, width);
        QFETCH(int, lines);
        QCOMPARE(MisuraAltezzaTesto(text, width, smallFont()), lines * 200 + 30);
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
        arrangePanel(0, v.panel, &v.main, v.bar, false, {}); // a hidden window is not laid out
        QCOMPARE(first->geometry(), QRect(8, 50, 100, 10));
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
        QCOMPARE(first->x() + first->width() + first->x(), v.panel->width()); // equal margins
        QCOMPARE(v.panel->height(), 300);
        QVERIFY(!v.bar->isEnabled());
    }
};

QTEST_MAIN(TestPanelArranger)
#include "test_panelarranger.moc"
