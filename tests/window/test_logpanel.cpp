#include "tests/support/WindowHarness.h"

#include "access/DataView.h"
#include "window/LogPanel.h"
#include "window/LogViewer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>

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
        h.setRow("ip", "127.0.0.1");
        ui::Form1& w = h.started();
        ui::LogPanel& log = w.logPanel();
        QVERIFY(!log.check()->isChecked());
        QVERIFY(!log.logToFile());
        h.core->WriteLog("riga uno");
        h.core->WriteLog("riga due");
        QCOMPARE(log.logText(), u"riga uno\r\nriga due\r\n"_s);
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

        // A server start goes to the file after an empty line.
        log.check()->click();
        w.toolbarClick("kStart");
        const QByteArray text = fileText(h.core->logFilePath());
        QVERIFY(text.startsWith("riga tre\r\n\r\n["));
        QVERIFY(text.endsWith("] SERVER START ON IP 127.0.0.1\r\n"));
    }

    void cancellaLog_data() {
        QTest::addColumn<bool>("fileExists");
        QTest::addColumn<int>("messages");
        QTest::newRow("with a file") << true << 1;
        QTest::newRow("without a file") << false << 0;
    }
    void cancellaLog() {
        QFETCH(bool, fileExists);
        QFETCH(int, messages);
        WindowHarness h;
        h.setRow("log", false);
        ui::Form1& w = h.started();
        if (fileExists)
            writeFile(h.core->logFilePath(), "vecchia riga\r\n");
        h.core->WriteLog("a schermo");
        w.logPanel().clearButton()->click();
        QCOMPARE(w.logPanel().logText(), QString());
        QVERIFY(!QFile::exists(h.core->logFilePath()));
        QCOMPARE(h.messages.shown.size(), messages);
        if (messages) {
            QCOMPARE(h.messages.shown.first().first, ui::kLogDeletedMessage);
            QCOMPARE(h.messages.shown.first().second, MessageIcon::Information);
        }
    }

    void viewerShowsTheFileAsItIsNow() {
        WindowHarness h;
        h.setRow("ip", "127.0.0.1");
        ui::Form1& w = h.started();
        ui::LogPanel& log = w.logPanel();
        const QString path = h.core->logFilePath();

        // No file: an empty viewer.
        log.showButton()->click();
        QVERIFY(log.viewer() && log.viewer()->isVisible());
        QCOMPARE(log.viewer()->box()->toPlainText(), QString());

        writeFile(path, "prima\r\n");
        log.showButton()->click();
        QCOMPARE(log.viewer()->box()->toPlainText(), u"prima\n"_s);
        writeFile(path, "prima\r\nseconda\r\n");
        log.showButton()->click(); // opening again reads the file again
        QCOMPARE(log.viewer()->box()->toPlainText(), u"prima\nseconda\n"_s);
        // The file gone: an open viewer keeps its text.
        QVERIFY(QFile::remove(path));
        log.showButton()->click();
        QCOMPARE(log.viewer()->box()->toPlainText(), u"prima\nseconda\n"_s);

        // The box keeps its margins inside the window.
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

        // A successful start closes the viewer.
        w.toolbarClick("kStart");
        QTRY_VERIFY(!log.viewer() || !log.viewer()->isVisible());
    }
};

QTEST_MAIN(TestLogPanel)
#include "test_logpanel.moc"
