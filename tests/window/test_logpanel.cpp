#include "tests/support/WindowHarness.h"

#include "access/DataView.h"
#include "window/LogPanel.h"
#include "window/LogViewer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>

using namespace Qt::StringLiterals;

using namespace kv;
using kv::testing::WindowHarness;

namespace {

QByteArray fileText(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
}

} // namespace

class TestLogPanel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void registraLogFollowsTheSettingsRow() {
        WindowHarness h;
        h.setRow("log", false);
        ui::LogPanel& log = h.started().logPanel();
        QVERIFY(!log.check()->isChecked() && !log.logToFile());
        h.core->WriteLog("riga uno");
        h.core->WriteLog("riga due");
        QCOMPARE(log.logText(), u"riga uno\r\nriga due\r\n"_s);
        // The box lays the lines of a moment out together, once.
        QCOMPARE(log.box()->toPlainText(), QString());
        QTRY_COMPARE(log.box()->toPlainText(), u"riga uno\nriga due\n"_s);
        QVERIFY(!QFile::exists(h.core->logFilePath()));

        // Ticking the box edits the settings row and sends the next lines to the file.
        log.check()->click();
        QCOMPARE(h.core->views().Data2().isTrue("log"), true);
        h.core->WriteLog("riga tre");
        QCOMPARE(fileText(h.core->logFilePath()), QByteArray("riga tre\r\n"));
        log.check()->click();
        QCOMPARE(h.core->views().Data2().isTrue("log"), false);
        h.core->WriteLog("riga quattro");
        QCOMPARE(fileText(h.core->logFilePath()), QByteArray("riga tre\r\n"));
        QVERIFY(log.logText().endsWith("riga quattro\r\n"));
        // The caption says where the file is: the data folder, not the program's.
        const auto* where = h.form->findChild<QLabel*>(u"lblLogFile"_s);
        QVERIFY(where);
        QVERIFY2(where->text().contains(u"ftp.log nella cartella dei dati."_s),
                 qPrintable(where->text()));
        QCOMPARE(where->toolTip(), QDir::toNativeSeparators(h.core->dataFolder() + u"/ftp.log"_s));
    }

    // The file goes only after a yes; without a file nothing is asked.
    void cancellaLog_data() {
        QTest::addColumn<bool>("fileExists");
        QTest::addColumn<bool>("answer");
        QTest::newRow("with a file, yes") << true << true;
        QTest::newRow("with a file, no") << true << false;
        QTest::newRow("without a file") << false << false;
    }
    void cancellaLog() {
        QFETCH(bool, fileExists);
        QFETCH(bool, answer);
        WindowHarness h;
        h.setRow("log", false);
        ui::Form1& w = h.started();
        const QString path = h.core->logFilePath();
        if (fileExists)
            writeFile(path, "vecchia riga\r\n");
        h.core->WriteLog("a schermo");
        h.messages.answer = answer;
        w.logPanel().clearButton()->click();
        QCOMPARE(h.messages.asked,
                 fileExists ? QStringList{ui::deleteLogQuestion(path)} : QStringList{});
        QVERIFY(h.messages.asked.isEmpty() || h.messages.asked.first().contains(u"ftp.log"_s));
        const bool gone = !fileExists || answer;
        QCOMPARE(w.logPanel().logText(), gone ? QString() : u"a schermo\r\n"_s);
        QCOMPARE(fileText(path), gone ? QByteArray("<missing>") : QByteArray("vecchia riga\r\n"));
        using Shown = decltype(h.messages.shown);
        const Shown deleted{{u"Il log registrato è stato cancellato"_s, MessageIcon::Information}};
        QCOMPARE(h.messages.shown, fileExists && answer ? deleted : Shown{});
    }

    void viewerShowsTheFileAsItIsNow() {
        WindowHarness h;
        h.setRow("ip", "127.0.0.1");
        ui::Form1& w = h.started();
        ui::LogPanel& log = w.logPanel();
        const QString path = h.core->logFilePath();

        log.showButton()->click();
        QVERIFY(log.viewer() && log.viewer()->isVisible());
        QCOMPARE(log.viewer()->box()->toPlainText(), QString());

        writeFile(path, "prima\r\nseconda\r\n");
        log.showButton()->click(); // opening again reads the file again
        QCOMPARE(log.viewer()->box()->toPlainText(), u"prima\nseconda\n"_s);
        // The file gone: an open viewer keeps its text.
        QVERIFY(QFile::remove(path));
        log.showButton()->click();
        QCOMPARE(log.viewer()->box()->toPlainText(), u"prima\nseconda\n"_s);

        log.viewer()->resize(500, 300);
        QCOMPARE(log.viewer()->box()->geometry(), QRect(8, 8, 484, 284));

        // Rotated files are offered above the box, newest first; the log itself opens.
        writeFile(path, "oggi\r\n");
        writeFile(path + ".1", "ieri\r\n");
        writeFile(path + ".2", "l'altro ieri\r\n");
        log.showButton()->click();
        QComboBox* files = log.viewer()->fileList();
        QVERIFY(files->isVisible());
        QCOMPARE(files->count(), 3);
        QCOMPARE(files->itemText(2), u"ftp.log.2"_s);
        QCOMPARE(log.viewer()->box()->toPlainText(), u"oggi\n"_s);
        QVERIFY(log.viewer()->box()->y() > files->geometry().bottom());
        Q_EMIT files->activated(2);
        QCOMPARE(log.viewer()->box()->toPlainText(), u"l'altro ieri\n"_s);

        w.toolbarClick("kStart"); // a start closes it
        QTRY_VERIFY(!log.viewer());
        w.toolbarClick("kStop");

        // The viewer opens at the end, where the newest lines are, moves with
        // Ctrl+Home/Ctrl+End although read-only, and Escape closes it.
        QByteArray lines;
        for (int i = 1; i <= 400; ++i)
            lines += "riga " + QByteArray::number(i) + "\r\n";
        writeFile(path, lines);
        log.showButton()->click();
        QPlainTextEdit* box = log.viewer()->box();
        QVERIFY(QTest::qWaitForWindowExposed(log.viewer()));
        QCOMPARE(box->textCursor().position(), box->document()->characterCount() - 1);
        QScrollBar* bar = box->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());

        QTest::keyClick(box, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(box->textCursor().position(), 0);
        QCOMPARE(bar->value(), 0);
        QTest::keyClick(box, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(box->textCursor().position(), box->document()->characterCount() - 1);
        // The last line in view; how far that scrolls depends on the font's line height.
        QVERIFY(bar->value() > 0);
        QVERIFY(box->viewport()->rect().contains(box->cursorRect()));
        QVERIFY(box->toPlainText().endsWith(u"riga 400\n"_s));

        QTest::keyClick(box, Qt::Key_Escape);
        QTRY_VERIFY(!log.viewer());
    }
};

QTEST_MAIN(TestLogPanel)
#include "test_logpanel.moc"
