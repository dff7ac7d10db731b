// From the panel to a real client: an account created on the "Account" panel
// logs in to the program's own FTP engine on loopback with exactly the rights
// ticked, through curl.

#include "PanelTestHost.h"
#include "admin/ui/AdminPanels.h"
#include "app/engine/FtpServer.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTcpServer>
#include <QtTest>

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
        process.start(QStringLiteral("curl"),
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
        return QStringLiteral("ftp://127.0.0.1:%1/%2").arg(port).arg(path);
    }

private Q_SLOTS:
    void initTestCase() {
        if (QStandardPaths::findExecutable(QStringLiteral("curl")).isEmpty())
            QSKIP("curl is not installed");
        port = freePort();
        QVERIFY(port > 0);
        QFile file(root.filePath(QStringLiteral("ciao.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("ciao dal server\n");
    }

    void accountFromThePanelLogsInWithItsRights() {
        PanelTestHost host([] { return std::make_unique<kv::engine::FtpServer>(); });
        host.exec({QStringLiteral("UPDATE settings SET ip='127.0.0.1', port='%1'").arg(port)});
        host.core().views().openAll();
        QWidget panel;
        kv::ui::buildAccountPanel(&panel, host);
        const auto find = [&panel](const QString& name) { return panel.findChild<QWidget*>(name); };

        qobject_cast<QPushButton*>(find(QStringLiteral("cmdAdd")))->click();
        QTest::keyClicks(find(QStringLiteral("txtLogin")), QStringLiteral("ospite"));
        QTest::keyClicks(find(QStringLiteral("txtPassword")), QStringLiteral("parola"));
        for (const char* box : {"chkAbilitato", "chkRead", "chkNavigazione"})
            qobject_cast<QCheckBox*>(find(QLatin1String(box)))->click();
        host.pickerAnswer = root.path();
        qobject_cast<QPushButton*>(find(QStringLiteral("cmdUserBrowse")))->click();

        // The toolbar's Start: every view commits its row, then the server starts.
        host.core().views().commitAll();
        QVERIFY(host.core().server().ServerStart());

        const CurlResult download =
            curl({QStringLiteral("--user"), QStringLiteral("ospite:parola"), url("ciao.txt")});
        QCOMPARE(download.exitCode, 0);
        QCOMPARE(download.output, QByteArray("ciao dal server\n"));

        QFile upload(local.filePath(QStringLiteral("nuovo.txt")));
        QVERIFY(upload.open(QIODevice::WriteOnly));
        upload.write("nuovo");
        upload.close();
        // Writing was not ticked: the upload is refused and nothing appears.
        const CurlResult refused =
            curl({QStringLiteral("--user"), QStringLiteral("ospite:parola"), QStringLiteral("-T"),
                  upload.fileName(), url("nuovo.txt")});
        QVERIFY(refused.exitCode != 0);
        QVERIFY(!QFile::exists(root.filePath(QStringLiteral("nuovo.txt"))));

        const CurlResult wrong =
            curl({QStringLiteral("--user"), QStringLiteral("ospite:sbagliata"), url("ciao.txt")});
        QVERIFY(wrong.exitCode != 0);

        // The account switched off on the panel (with the server stopped) no longer logs in.
        host.core().server().ServerStop();
        qobject_cast<QCheckBox*>(find(QStringLiteral("chkAbilitato")))->click();
        host.core().views().commitAll();
        QVERIFY(host.core().server().ServerStart());
        const CurlResult disabled =
            curl({QStringLiteral("--user"), QStringLiteral("ospite:parola"), url("ciao.txt")});
        QVERIFY(disabled.exitCode != 0);
        host.core().server().ServerStop();
    }
};

QTEST_MAIN(TestAdminEndToEnd)
#include "test_adminendtoend.moc"
