// Qt's own texts come out in Italian once the translation is installed.

#include "window/ItalianTranslation.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestItalianTranslation : public QObject {
    Q_OBJECT

    static QString yesText() {
        QMessageBox question(QMessageBox::Question, u"t"_s, u"?"_s,
                             QMessageBox::Yes | QMessageBox::No);
        return question.button(QMessageBox::Yes)->text().remove(u'&');
    }

private Q_SLOTS:
    // The message box the program asks its questions with, the text fields'
    // context menu and the folder picker's own labels.
    void qtTextsAreItalian() {
        QCOMPARE(yesText(), u"Yes"_s);
        QVERIFY(kv::ui::installItalianTranslation(*qApp));
        QCOMPARE(yesText(), u"Sì"_s);
        QLineEdit field;
        field.setText(u"testo"_s);
        std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
        QStringList texts;
        for (QAction* action : menu->actions())
            texts << action->text().remove(u'&').section(u'\t', 0, 0);
        QVERIFY2(texts.contains(u"Incolla"_s), qPrintable(texts.join(u", ")));
        QFileDialog dialog(nullptr, u"Cartella"_s);
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setFileMode(QFileDialog::Directory);
        texts.clear();
        for (QPushButton* button : dialog.findChildren<QPushButton*>())
            texts << button->text().remove(u'&');
        QVERIFY2(texts.contains(u"Annulla"_s), qPrintable(texts.join(u", ")));
    }
};

QTEST_MAIN(TestItalianTranslation)
#include "test_italiantranslation.moc"
