#pragma once
// Shared test fixture: a FtpServer on 127.0.0.1 with a recording fake of the
// program's event handlers, and real FTP clients (python3 ftplib)
// run as child processes while the test's event loop keeps serving.

#include "events/ServerEvents.h"
#include "ftp/FtpServer.h"

#include <QHash>
#include <QProcess>
#include <QSet>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>
#include <sys/resource.h>

// The program's side as the engine sees it: a fixed table of accounts, each
// granted `rights`, `root` and `virtualDirs`; what happens is recorded from
// the event bus in `calls` ("LoginRequest alice", "Upload /a.txt 5 complete").
struct FakeEvents : kv::session::EngineEvents {
    using Conn = kv::session::ConnectionObject;

    // Accepted logins: user -> password.
    QHash<QString, QString> accounts{{QStringLiteral("alice"), QStringLiteral("secret")}};
    // Account numbers the grants carry (user -> number); others get `accountId`.
    QHash<QString, qint32> accountIds;
    QString root;
    QList<kv::ftp::VirtualDir> virtualDirs;
    kv::files::Rights rights = kv::files::Rights::all();
    bool accountsUnreadable = false;            // every login is answered as unavailable
    qint32 accountId = kv::files::kNoAccountId; // of every login
    QStringList calls;
    QStringList logLines;
    bool keepLog = true;
    int closedCount = 0;
    kv::events::ServerEvents bus;

    FakeEvents();
    kv::session::LoginDecision LoginRequest(Conn& c) override;
    void LogLine(Conn&, const QString& line) override {
        if (keepLog)
            logLines << line;
    }
};

struct ClientRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// The client's output lines; when it failed, its exit code and error text
// instead, so a comparison shows why.
QStringList outputOf(const ClientRun& run);

class EngineHarness {
public:
    EngineHarness();
    ~EngineHarness();
    // Starts the engine on a free port of 127.0.0.1 below 32768, with `tls`
    // (and, with an implicit port wanted, a free one for that as well).
    bool start();
    // TLS settings with a fresh self-signed certificate in the temp folder.
    kv::ftp::TlsSettings tlsWith(kv::ftp::TlsMode mode, bool requireReuse = true);
    QString path(const QString& relative) const { return dir.filePath(relative); }
    void write(const QString& relative, const QByteArray& data) const;
    QByteArray read(const QString& relative) const;

    // Runs a python3 script with ftplib imported, PORT and ROOT set and
    // helpers: login(user, password) -> FTP, resp(ftp, line) -> reply text,
    // ask(flag) to signal the test through a file in the root; with
    // TLS on, tlslogin(...) -> FTP_TLS and ReuseFTP, a client whose data
    // connections resume the control connection's session.
    ClientRun python(const QString& body, int timeoutMs = 30000);
    // The same script started in the background (for a test that acts
    // while the client waits); killed with the harness.
    QProcess& background(const QString& body);
    // While the client's script creates root/<flag>, the process may open no
    // descriptor for 400 ms; the limit comes back by itself.
    void squeezeDescriptorsOn(const QString& flag);

    QTemporaryDir dir;
    FakeEvents events;
    std::unique_ptr<kv::ftp::FtpServer> server;
    quint16 port = 0;
    kv::ftp::TlsSettings tls;
    bool wantImplicit = false;
    kv::session::QuotaKeeper* quota = nullptr; // handed to the server at start()
    quint16 implicitPort = 0;

private:
    QString script(const QString& body) const;
    std::unique_ptr<QProcess> background_;
    std::unique_ptr<QTimer> squeeze_;
    struct rlimit descriptors_ {};
};
