// Qt's own texts come out in Italian once the translation is installed.

#include "window/ItalianTranslation.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestItalianTranslation : public QObject {
    Q_OBJECT

    static QString buttonText(QDialogButtonBox::StandardButton which) {
        QDialogButtonBox box(which);
        return box.button(which)->text().remove(u'&');
    }

private Q_SLOTS:
    void cleanup() {
        for (QTranslator* t : qApp->findChildren<QTranslator*>()) {
            QCoreApplication::removeTranslator(t);
            delete t;
        }
    }

    void standardTextsAreItalian_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("english");
        QTest::addColumn<QString>("italian");
        QTest::newRow("yes") << int(QDialogButtonBox::Yes) << u"Yes"_s << u"Sì"_s;
        QTest::newRow("no") << int(QDialogButtonBox::No) << u"No"_s << u"No"_s;
        QTest::newRow("cancel") << int(QDialogButtonBox::Cancel) << u"Cancel"_s << u"Annulla"_s;
    }
    void standardTextsAreItalian() {
        QFETCH(int, button);
        QFETCH(QString, english);
        QFETCH(QString, italian);
        const auto which = QDialogButtonBox::StandardButton(button);
        QCOMPARE(buttonText(which), english);
        QVERIFY(kv::ui::installItalianTranslation(*qApp));
        QCOMPARE(buttonText(which), italian);
        // The message box the program asks its questions with.
        QMessageBox question(QMessageBox::Question, u"t"_s, u"?"_s,
                             QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(question.button(QMessageBox::Yes)->text().remove(u'&'), u"Sì"_s);
        // The text fields' context menu.
        QLineEdit field;
        field.setText(u"testo"_s);
        std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
        QStringList actions;
        for (QAction* action : menu->actions())
            actions << action->text().remove(u'&').section(u'\t', 0, 0);
        QVERIFY2(actions.contains(u"Incolla"_s), qPrintable(actions.join(u", ")));
    }

    // The folder picker's own labels.
    void folderDialogIsItalian() {
        QVERIFY(kv::ui::installItalianTranslation(*qApp));
        QFileDialog dialog(nullptr, u"Cartella"_s);
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setFileMode(QFileDialog::Directory);
        QStringList texts;
        for (QPushButton* button : dialog.findChildren<QPushButton*>())
            texts << button->text().remove(u'&');
        QVERIFY2(texts.contains(u"Annulla"_s), qPrintable(texts.join(u", ")));
        QVERIFY(!texts.contains(u"Cancel"_s));
    }
};

QTEST_MAIN(TestItalianTranslation)
#include "test_italiantranslation.moc"
