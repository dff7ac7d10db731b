// The window on a server that runs headless in another process, reached
// over remote administration on loopback: the first connection's
// fingerprint trusted (the one the server's own command prints), the
// server's folders in the folder chooser, an account added in the Account
// panel that then logs in over FTP, and that session kicked from the online
// list.
#include "adminchannel/AttachedServer.h"
#include "adminchannel/KnownServers.h"
#include "adminchannel/RemoteCopyFolder.h"
#include "adminchannel/RemoteSync.h"
#include "core/ProgramCore.h"
#include "ftp/FtpServer.h"
#include "settings/FolderPresence.h"
#include "tests/support/RecordingMessages.h"
#include "window/BrowseDialog.h"
#include "window/Form1.h"
#include "window/OnlinePanel.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

using namespace kv;

namespace {

const QString kAdminPassword = QStringLiteral("amministra");

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// A headless server of the real program on its own data folder.
struct HeadlessServer {
    QTemporaryDir data;
    quint16 ftpPort = freePort();
    quint16 adminPort = freePort();
    QProcess process;

    static QString program() {
        return qEnvironmentVariable("KV_BUILD_DIR") + QStringLiteral("/program/kestrova");
    }
    // A command of the program on this folder; its standard output.
    QString run(QStringList args, const QByteArray& input = {}) const {
        QProcess p;
        p.start(program(), args << QStringLiteral("--data-dir") << data.path());
        p.write(input);
        p.closeWriteChannel();
        if (!p.waitForFinished(20000) || p.exitCode() != 0)
            qWarning() << args << p.readAllStandardError();
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }
    bool start() {
        run({"settings", "set", "ip", "127.0.0.1"});
        run({"settings", "set", "port", QString::number(ftpPort)});
        run({"settings", "set", "rootdir", data.path()});
        run({"option", "set", "admin_port", QString::number(adminPort)});
        run({"admin", "passwd"}, kAdminPassword.toUtf8() + '\n');
        process.start(program(), {"--headless", "--data-dir", data.path()});
        if (!process.waitForStarted(10000))
            return false;
        for (int i = 0; i < 100; ++i) { // at most 10 s
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, adminPort);
            if (probe.waitForConnected(100))
                return true;
            QTest::qWait(100);
        }
        return false;
    }
    ~HeadlessServer() {
        process.terminate();
        process.waitForFinished(10000);
    }
};

// One FTP reply line (the last of a multi-line one).
QByteArray reply(QTcpSocket& ftp) {
    for (int i = 0; i < 50; ++i) {
        if (ftp.canReadLine() || ftp.waitForReadyRead(200)) {
            while (ftp.canReadLine()) {
                const QByteArray line = ftp.readLine();
                if (line.size() > 3 && line[3] == ' ')
                    return line.trimmed();
            }
        }
    }
    return {};
}

} // namespace

class TestRemoteWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void trustAddAnAccountAndKickItsSession() {
        HeadlessServer server;
        QVERIFY(server.start());
        const QString fingerprint = server.run({"admin", "fingerprint"}).section(u' ', -1);
        QVERIFY2(fingerprint.startsWith("SHA256:"), qPrintable(fingerprint));

        QTemporaryDir home;
        settings::setFoldersAreRemote(true); // as the remote window does
        const RemoteCopyFolder copy;
        QVERIFY(copy.problem().isEmpty());
        MemorySettingsStore settings;
        testing::RecordingMessages messages;
        ProgramCore core(copy.path(), settings, [] { return std::make_unique<ftp::FtpServer>(); });
        QStringList asked;
        ui::Form1Options options;
        options.trayAvailable = false;
        options.desktopOpen = [](const QString&, const QString&) { return true; };
        options.showNotice = [](ui::StartNotice&) {};
        ui::RemoteWindowSetup remote;
        remote.server = {QStringLiteral("127.0.0.1"), server.adminPort};
        remote.password = kAdminPassword;
        remote.knownServersFile = home.filePath("known_servers");
        remote.questions.trustFirst = [&asked](const RemoteServerAddress&, const QString& seen) {
            asked << seen;
            return true;
        };
        options.remote = remote;
        ui::Form1 window(core, messages, nullptr, options);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        if (!window.alreadyActivated())
            window.Form_Activate();

        // Trusted once, by the fingerprint the server's command prints; then the copy arrives.
        QTRY_VERIFY_WITH_TIMEOUT(window.picPanel(0)->isEnabled(), 15000);
        QCOMPARE(asked, QStringList{fingerprint});
        QCOMPARE(KnownServers(remote.knownServersFile).fingerprintFor(remote.server),
                 std::optional(fingerprint));
        const QString where = remote.server.text();
        QCOMPARE(window.windowTitle(), "Kestrova Vellim — server remoto " + where);
        QCOMPARE(window.statusText(), "Online: server remoto " + where);
        QCOMPARE(window.picPanel(1)->findChild<QLabel*>("lblAdminFingerprint")->text(),
                 "Impronta del certificato: " + fingerprint);
        QVERIFY(!window.startButton()->isEnabled() && !window.stopButton()->isEnabled());
        QCOMPARE(window.startButton()->toolTip(),
                 QStringLiteral("Il server remoto si avvia e si arresta sul suo PC"));

        // The folder chooser lists the server's folders, goes down and up.
        QTemporaryDir share;
        QVERIFY(QDir(share.path()).mkpath("sotto"));
        ui::BrowseDialog browse(window.attachedServer().connection(), "Cartella", share.path());
        QSignalSpy shown(&browse, &ui::BrowseDialog::shown);
        QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 5000);
        const QString top = browse.shownFolder();
        QCOMPARE(browse.list()->count(), 1);
        Q_EMIT browse.list()->itemActivated(browse.list()->item(0));
        QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 2, 5000);
        QCOMPARE(browse.shownFolder(), top + "/sotto");
        browse.findChild<QPushButton*>("cmdUp")->click();
        QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 3, 5000);
        browse.accept();
        QCOMPARE(browse.chosen(), top);
        // The file chooser (certificates) lists the server's files too, after its folders.
        QFile certificate(share.filePath("cert.pem"));
        QVERIFY(certificate.open(QIODevice::WriteOnly));
        ui::BrowseDialog pickFile(window.attachedServer().connection(), "File", share.path(),
                                  nullptr, ui::BrowseDialog::Pick::File);
        QSignalSpy fileShown(&pickFile, &ui::BrowseDialog::shown);
        QTRY_COMPARE_WITH_TIMEOUT(fileShown.size(), 1, 5000);
        QCOMPARE(pickFile.list()->count(), 2);
        pickFile.list()->setCurrentRow(1);
        pickFile.accept();
        QCOMPARE(pickFile.result(), int(QDialog::Accepted));
        QCOMPARE(pickFile.chosen(), top + "/cert.pem");

        // An account added in the panel reaches the server and logs in over FTP.
        window.selectItem(1);
        QWidget* accounts = window.picPanel(0);
        accounts->findChild<QPushButton*>("cmdAdd")->click();
        for (const auto& [box, text] : {std::pair{"txtLogin", "carla"}, {"txtPassword", "pw"}}) {
            QLineEdit* edit = accounts->findChild<QLineEdit*>(box);
            edit->setFocus();
            edit->selectAll();
            QTest::keyClicks(edit, text);
        }
        accounts->findChild<QPushButton*>("cmdAdd")->click(); // leaving the row saves it
        // Sent and accepted: the copy holds nothing the server has not taken.
        QTRY_VERIFY_WITH_TIMEOUT(!window.remoteSync()->hasUnsentChanges(), 15000);
        QVERIFY(server.run({"user", "list"}).contains("carla"));
        QVERIFY2(messages.shown.isEmpty(), qPrintable(messages.texts().join('\n')));

        QTcpSocket ftp;
        ftp.connectToHost(QHostAddress::LocalHost, server.ftpPort);
        QVERIFY(ftp.waitForConnected(5000));
        QVERIFY(reply(ftp).startsWith("220"));
        ftp.write("USER carla\r\n");
        QVERIFY(reply(ftp).startsWith("331"));
        ftp.write("PASS pw\r\n");
        QCOMPARE(reply(ftp).left(3), QByteArray("230"));

        // Its session shows in the online list; Disconnetti ends it on the server.
        window.selectItem(5);
        QTreeWidget* online = window.online().list();
        QTRY_VERIFY_WITH_TIMEOUT(
            online->topLevelItemCount() == 1 && online->topLevelItem(0)->text(0) == "carla", 10000);
        online->topLevelItem(0)->setSelected(true);
        window.online().DisconnettiUtente();
        QTRY_COMPARE_WITH_TIMEOUT(ftp.state(), QAbstractSocket::UnconnectedState, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(online->topLevelItemCount(), 0, 10000);
    }
};

QTEST_MAIN(TestRemoteWindow)
#include "test_remotewindow.moc"
