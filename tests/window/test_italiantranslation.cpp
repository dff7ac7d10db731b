// Qt's own texts and formats come out in Italian once the translation is
// installed, whatever the locale (the test runs under LANG=C).

#include "window/ItalianTranslation.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
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
    // context menu, the folder picker's own labels and what its list shows.
    void qtTextsAreItalian() {
        QCOMPARE(qgetenv("LANG"), QByteArray("C"));
        QCOMPARE(yesText(), u"Yes"_s);
        QCOMPARE(QLocale::system().formattedDataSize(12), u"12 bytes"_s);
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

        // The dialog's list: the type of a folder, the size of a small file.
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(u"sotto"_s));
        QFile file(dir.filePath(u"dodici.txt"_s));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("dodici byte!") == 12);
        file.close();
        QFileSystemModel model;
        QSignalSpy loaded(&model, &QFileSystemModel::directoryLoaded);
        const QModelIndex root = model.setRootPath(dir.path());
        QVERIFY(loaded.wait(5000));
        QTRY_COMPARE(model.rowCount(root), 2);
        const QModelIndex folder = model.index(dir.filePath(u"sotto"_s), 2);
        const QModelIndex small = model.index(dir.filePath(u"dodici.txt"_s), 1);
        QCOMPARE(model.data(folder).toString(), u"Cartella"_s);
        QCOMPARE(model.data(small).toString(), u"12 byte"_s);
    }
};

QTEST_MAIN(TestItalianTranslation)
#include "test_italiantranslation.moc"
