// From the panel to a real client: an account created on the "Account" panel
// logs in to the program's own FTP engine on loopback with exactly the rights
// ticked, through curl.

#include "admin/ui/AdminPanels.h"
#include "engine/FtpServer.h"
#include "tests/support/PanelTestHost.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTcpServer>
#include <QtTest>

using namespace Qt::StringLiterals;

using kv::testing::PanelTestHost;

namespace {

// A loopback port that fits the engine's 16-bit port setting.
int freePort() {
    for (int attempt = 0; attempt < 200; ++attempt) {
        const int port = 20000 + (QCoreApplication::applicationPid() * 7 + attempt * 37) % 12000;
        QTcpServer probe;
        if (probe.listen(QHostAddress::LocalHost, quint16(port)))
            return port;
    }
    return 0;
}

struct CurlResult {
    int exitCode = -1;
    QByteArray output;
};

} // namespace

class TestAdminEndToEnd : public QObject {
    Q_OBJECT

    QTemporaryDir root;
    QTemporaryDir local; // the client's side
    int port = 0;

    // Runs curl while the event loop keeps serving the engine.
    CurlResult curl(const QStringList& arguments) {
        QProcess process;
        QSignalSpy finished(&process, &QProcess::finished);
        process.start(u"curl"_s,
                      QStringList{"--silent", "--show-error", "--max-time", "10"} + arguments);
        CurlResult result;
        if (!process.waitForStarted(5000))
            return result;
        if (!finished.wait(15000)) {
            process.kill();
            process.waitForFinished(2000);
            return result;
        }
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.output = process.readAllStandardOutput();
        return result;
    }
    QString url(const QString& path) const {
        return u"ftp://127.0.0.1:%1/%2"_s.arg(port).arg(path);
    }

private Q_SLOTS:
    void initTestCase() {
        if (QStandardPaths::findExecutable(u"curl"_s).isEmpty())
            QSKIP("curl is not installed");
        port = freePort();
        QVERIFY(port > 0);
        QFile file(root.filePath(u"ciao.txt"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("ciao dal server\n");
    }

    void accountFromThePanelLogsInWithItsRights() {
        PanelTestHost host([] { return std::make_unique<kv::engine::FtpServer>(); });
        host.exec({u"UPDATE settings SET ip='127.0.0.1', port='%1'"_s.arg(port)});
        host.core().views().openAll();
        QWidget panel;
        kv::ui::buildAccountPanel(&panel, host);
        const auto find = [&panel](const QString& name) { return panel.findChild<QWidget*>(name); };

        qobject_cast<QPushButton*>(find(u"cmdAdd"_s))->click();
        QTest::keyClicks(find(u"txtLogin"_s), u"ospite"_s);
        QTest::keyClicks(find(u"txtPassword"_s), u"parola"_s);
        for (const char* box : {"chkAbilitato", "chkRead", "chkNavigazione"})
            qobject_cast<QCheckBox*>(find(QLatin1String(box)))->click();
        host.pickerAnswer = root.path();
        qobject_cast<QPushButton*>(find(u"cmdUserBrowse"_s))->click();

        // The toolbar's Start: every view commits its row, then the server starts.
        host.core().views().commitAll();
        // The password typed reaches the file only as a hash.
        QVERIFY(host.column(u"SELECT password FROM users"_s).value(0).startsWith(u"$y$"_s));
        QVERIFY(host.core().server().ServerStart());

        const CurlResult download = curl({u"--user"_s, u"ospite:parola"_s, url("ciao.txt")});
        QCOMPARE(download.exitCode, 0);
        QCOMPARE(download.output, QByteArray("ciao dal server\n"));

        QFile upload(local.filePath(u"nuovo.txt"_s));
        QVERIFY(upload.open(QIODevice::WriteOnly));
        upload.write("nuovo");
        upload.close();
        // Writing was not ticked: the upload is refused and nothing appears.
        const CurlResult refused =
            curl({u"--user"_s, u"ospite:parola"_s, u"-T"_s, upload.fileName(), url("nuovo.txt")});
        QVERIFY(refused.exitCode != 0);
        QVERIFY(!QFile::exists(root.filePath(u"nuovo.txt"_s)));

        const CurlResult wrong = curl({u"--user"_s, u"ospite:sbagliata"_s, url("ciao.txt")});
        QVERIFY(wrong.exitCode != 0);

        // The account switched off on the panel (with the server stopped) no longer logs in.
        host.core().server().ServerStop();
        qobject_cast<QCheckBox*>(find(u"chkAbilitato"_s))->click();
        host.core().views().commitAll();
        QVERIFY(host.core().server().ServerStart());
        const CurlResult disabled = curl({u"--user"_s, u"ospite:parola"_s, url("ciao.txt")});
        QVERIFY(disabled.exitCode != 0);
        host.core().server().ServerStop();
    }
};

QTEST_MAIN(TestAdminEndToEnd)
#include "test_adminendtoend.moc"
