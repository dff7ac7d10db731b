#pragma once
// Shared test fixture: a FtpServer on 127.0.0.1 with a recording fake of the
// program's event handlers, and real FTP clients (python3 ftplib)
// run as child processes while the test's event loop keeps serving.

#include "engine/FtpServer.h"

#include <QHash>
#include <QSet>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

struct FakeEvents : kv::engine::EngineEvents {
    using Verdict = kv::engine::Verdict;
    using Conn = kv::engine::ConnectionObject;

    // Accepted logins: user -> password. The root given at login is `root`.
    QHash<QString, QString> accounts{{QStringLiteral("alice"), QStringLiteral("secret")}};
    QString root;
    QList<kv::engine::VirtualDir> virtualDirs;
    QSet<QString> denied; // names of check events that answer Deny
    QStringList calls;    // "Event path..." in order
    QStringList logLines;
    bool keepLog = true;
    int closedCount = 0;

    Verdict check(const QString& event, const QString& detail);

    Verdict LoginRequest(Conn& c) override;
    void ConnectionClosed(Conn&) override { ++closedCount; }
    void LogLine(Conn&, const QString& line) override {
        if (keepLog)
            logLines << line;
    }
    Verdict ChangeDirCheck(Conn&, const QString& p) override { return check("ChangeDirCheck", p); }
    Verdict MakeDirCheck(Conn&, const QString& p) override { return check("MakeDirCheck", p); }
    Verdict RemoveDirCheck(Conn&, const QString& p) override { return check("RemoveDirCheck", p); }
    Verdict DeleteCheck(Conn&, const QString& p) override { return check("DeleteCheck", p); }
    Verdict RenameCheck(Conn&, const QString& a, const QString& b) override {
        return check("RenameCheck", a + " -> " + b);
    }
    Verdict UploadCheck(Conn&, const QString& p) override { return check("UploadCheck", p); }
    Verdict DownloadCheck(Conn&, const QString& p) override { return check("DownloadCheck", p); }
    Verdict OtherCheckA(Conn&, const QString& s) override { return check("OtherCheckA", s); }
    Verdict OtherCheckB(Conn&, const QString& p) override { return check("OtherCheckB", p); }
    void OtherNoticeA(Conn&, const QString& p, qint64 n) override {
        calls << QStringLiteral("OtherNoticeA %1 %2").arg(p).arg(n);
    }
    void OtherNoticeB(Conn&, const QString& p, qint64 n, bool complete) override {
        calls << QStringLiteral("OtherNoticeB %1 %2 %3").arg(p).arg(n).arg(complete);
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
    // Starts the engine on a free port of 127.0.0.1 below 32768, with `tls`
    // (and, with an implicit port wanted, a free one for that as well).
    bool start();
    // TLS settings with a fresh self-signed certificate in the temp folder.
    kv::engine::TlsSettings tlsWith(kv::engine::TlsMode mode, bool requireReuse = true);
    QString path(const QString& relative) const { return dir.filePath(relative); }
    void write(const QString& relative, const QByteArray& data) const;
    QByteArray read(const QString& relative) const;

    // Runs a python3 script with ftplib imported, PORT set and a helper
    // login(user, password) -> FTP and resp(ftp, line) -> reply text; with
    // TLS on, tlslogin(...) -> FTP_TLS and ReuseFTP, a client whose data
    // connections resume the control connection's session.
    ClientRun python(const QString& body, int timeoutMs = 30000);

    QTemporaryDir dir;
    FakeEvents events;
    std::unique_ptr<kv::engine::FtpServer> server;
    quint16 port = 0;
    kv::engine::TlsSettings tls;
    bool wantImplicit = false;
    quint16 implicitPort = 0;
};
