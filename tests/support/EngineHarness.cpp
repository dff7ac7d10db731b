#include "tests/support/EngineHarness.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

using namespace kv::engine;

Verdict FakeEvents::check(const QString& event, const QString& detail) {
    calls << event + u' ' + detail;
    return denied.contains(event) ? Verdict::Deny : Verdict::Allow;
}

Verdict FakeEvents::LoginRequest(Conn& c) {
    calls << QStringLiteral("LoginRequest %1").arg(c.UserName());
    lastRemoteHost = c.RemoteHost();
    const bool ok = accounts.contains(c.UserName()) && accounts.value(c.UserName()) == c.Password();
    c.setRootDir(root);
    for (const VirtualDir& v : std::as_const(virtualDirs))
        c.VirtualDirs().Add(v.name, v.source, v.destination);
    return denyIf(!ok);
}

QStringList outputOf(const ClientRun& run) {
    if (run.exitCode != 0)
        return {QStringLiteral("exit %1").arg(run.exitCode), QString::fromUtf8(run.err)};
    return QString::fromUtf8(run.out).split(u'\n');
}

EngineHarness::EngineHarness() {
    QDir(dir.path()).mkpath(QStringLiteral("root"));
    events.root = dir.filePath(QStringLiteral("root"));
}

bool EngineHarness::start() {
    server = std::make_unique<FtpServer>();
    server->setEvents(&events);
    server->setLocalAddress(QStringLiteral("127.0.0.1"));
    server->setServerRootDir(events.root);
    // Port is a signed 16-bit value, so tests use ports below 32768.
    for (int attempt = 0; attempt < 50; ++attempt) {
        port = quint16(20000 + QRandomGenerator::global()->bounded(12000));
        server->setPort(qint16(port));
        if (server->Listen())
            return true;
    }
    return false;
}

void EngineHarness::write(const QString& relative, const QByteArray& data) const {
    const QString p = dir.filePath(relative);
    QDir().mkpath(QFileInfo(p).path());
    QFile f(p);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(data);
}

QByteArray EngineHarness::read(const QString& relative) const {
    QFile f(dir.filePath(relative));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

static ClientRun runProcess(const QString& exe, const QStringList& args, int timeoutMs) {
    ClientRun run;
    QProcess proc;
    proc.start(exe, args);
    if (!proc.waitForStarted(5000))
        return run;
    proc.closeWriteChannel();
    // Keep the engine's event loop turning while the client works.
    const QDeadlineTimer deadline(timeoutMs);
    while (proc.state() != QProcess::NotRunning && !deadline.hasExpired())
        QTest::qWait(5);
    if (proc.state() != QProcess::NotRunning) {
        proc.kill();
        proc.waitForFinished(2000);
        run.err = "timed out";
        return run;
    }
    run.exitCode = proc.exitStatus() == QProcess::NormalExit ? proc.exitCode() : -2;
    run.out = proc.readAllStandardOutput();
    run.err += proc.readAllStandardError();
    return run;
}

ClientRun EngineHarness::python(const QString& body, int timeoutMs) {
    const QString prelude = QStringLiteral(R"(
import ftplib, sys, socket, hashlib, os, time, io, threading
PORT = %1
ROOT = %2
def login(user='alice', password='secret', timeout=20):
    f = ftplib.FTP()
    f.connect('127.0.0.1', PORT, timeout=timeout)
    f.login(user, password)
    return f
def resp(f, line):
    try:
        return f.sendcmd(line)
    except ftplib.all_errors as e:
        return str(e)
def fetch(f, cmd):
    buf = io.BytesIO()
    f.retrbinary(cmd, buf.write)
    return buf.getvalue()
def lines(f, cmd):
    out = []
    f.retrlines(cmd, out.append)
    return out
)")
                                .arg(port)
                                .arg(QStringLiteral("'%1'").arg(events.root));
    return runProcess(QStringLiteral("python3"), {QStringLiteral("-c"), prelude + body}, timeoutMs);
}

ClientRun EngineHarness::program(const QString& exe, QStringList args, int timeoutMs) {
    for (QString& a : args)
        a.replace(QStringLiteral("%PORT%"), QString::number(port));
    return runProcess(exe, args, timeoutMs);
}
