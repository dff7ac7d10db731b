#include "tests/support/EngineHarness.h"

#include "ftp/TlsCertificate.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using namespace kv::ftp;

namespace {

QString transferLine(const kv::events::TransferEvent& e) {
    using kv::events::TransferOutcome;
    const char* outcome = e.outcome == TransferOutcome::Complete  ? "complete"
                          : e.outcome == TransferOutcome::Aborted ? "aborted"
                                                                  : "failed";
    return QStringLiteral("%1 %2 %3 %4")
        .arg(e.kind == kv::events::TransferKind::Upload ? QStringLiteral("Upload")
                                                        : QStringLiteral("Download"),
             e.clientPath)
        .arg(e.bytes)
        .arg(QLatin1String(outcome));
}

} // namespace

FakeEvents::FakeEvents() {
    QObject::connect(&bus, &kv::events::ServerEvents::transferFinished,
                     [this](const kv::events::TransferEvent& e) {
                         if (e.kind != kv::events::TransferKind::Listing)
                             calls << transferLine(e);
                     });
    QObject::connect(&bus, &kv::events::ServerEvents::sessionClosed,
                     [this](const kv::events::SessionInfo&) { ++closedCount; });
}

kv::session::LoginDecision FakeEvents::LoginRequest(Conn& c) {
    calls << QStringLiteral("LoginRequest %1").arg(c.UserName());
    if (accountsUnreadable)
        return kv::session::LoginDecision::unavailable(
            QStringLiteral("impossibile leggere gli account"));
    if (!accounts.contains(c.UserName()) || accounts.value(c.UserName()) != c.Password())
        return kv::session::LoginDecision::refused(QStringLiteral("password errata"));
    auto grant = std::make_shared<kv::files::LoginGrant>();
    grant->login = c.UserName();
    grant->accountId = accountIds.value(c.UserName(), accountId);
    grant->rights = rights;
    grant->root = root;
    grant->virtualDirs = virtualDirs;
    grant->address = c.RemoteHost();
    return kv::session::LoginDecision::accepted(std::move(grant));
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
    server->setNotifications(&events.bus);
    server->setQuotaKeeper(quota);
    server->setLocalAddress(QStringLiteral("127.0.0.1"));
    server->setServerRootDir(events.root);
    // Port is a signed 16-bit value, so tests use ports below 32768.
    for (int attempt = 0; attempt < 50; ++attempt) {
        port = quint16(20000 + QRandomGenerator::global()->bounded(12000));
        server->setPort(quint16(port));
        if (wantImplicit) {
            implicitPort = quint16(port + 1);
            tls.implicitPort = implicitPort;
        }
        server->setTls(tls);
        if (server->Listen())
            return true;
    }
    return false;
}

TlsSettings EngineHarness::tlsWith(TlsMode mode, bool requireReuse) {
    TlsSettings t;
    t.mode = mode;
    t.requireSessionReuse = requireReuse;
    t.certificateFile = dir.filePath(QStringLiteral("cert.pem"));
    t.privateKeyFile = dir.filePath(QStringLiteral("key.pem"));
    if (!QFile::exists(t.certificateFile))
        generateSelfSignedCertificate(t.certificateFile, t.privateKeyFile,
                                      QStringLiteral("localhost"), {QStringLiteral("127.0.0.1")});
    return t;
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

EngineHarness::~EngineHarness() {
    if (squeeze_)
        setrlimit(RLIMIT_NOFILE, &descriptors_);
    if (background_) {
        background_->kill();
        background_->waitForFinished(5000);
    }
}

ClientRun EngineHarness::python(const QString& body, int timeoutMs) {
    return runProcess(QStringLiteral("python3"), {QStringLiteral("-c"), script(body)}, timeoutMs);
}

QProcess& EngineHarness::background(const QString& body) {
    background_ = std::make_unique<QProcess>();
    background_->start(QStringLiteral("python3"), {QStringLiteral("-c"), script(body)});
    return *background_;
}

void EngineHarness::squeezeDescriptorsOn(const QString& flag) {
    getrlimit(RLIMIT_NOFILE, &descriptors_);
    squeeze_ = std::make_unique<QTimer>();
    QObject::connect(squeeze_.get(), &QTimer::timeout, [this, flag] {
        if (!QFile::remove(events.root + u'/' + flag))
            return;
        const int lowest = ::open("/dev/null", O_RDONLY);
        ::close(lowest);
        const struct rlimit none { rlim_t(lowest), descriptors_.rlim_max };
        setrlimit(RLIMIT_NOFILE, &none);
        QTimer::singleShot(400, squeeze_.get(),
                           [this] { setrlimit(RLIMIT_NOFILE, &descriptors_); });
    });
    squeeze_->start(20);
}

QString EngineHarness::script(const QString& body) const {
    const QString prelude = QStringLiteral(R"(
import ftplib, sys, socket, hashlib, os, time, io, threading
PORT = %1
ROOT = %2
def login(user='alice', password='secret', timeout=20):
    f = ftplib.FTP(); f.connect('127.0.0.1', PORT, timeout=timeout); f.login(user, password)
    return f
def resp(f, line):
    try: return f.sendcmd(line)
    except ftplib.all_errors as e: return str(e)
def fetch(f, cmd):
    buf = io.BytesIO(); f.retrbinary(cmd, buf.write); return buf.getvalue()
def lines(f, cmd):
    out = []; f.retrlines(cmd, out.append); return out
import ssl
def tls_context(maximum=None):
    c = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT); c.check_hostname = False; c.verify_mode = ssl.CERT_NONE
    if maximum: c.minimum_version, c.maximum_version = ssl.TLSVersion.MINIMUM_SUPPORTED, maximum
    return c
class ReuseFTP(ftplib.FTP_TLS): # data connections resume this one's session (or `borrow`'s)
    borrow = None
    def ntransfercmd(self, cmd, rest=None):
        conn, size = ftplib.FTP.ntransfercmd(self, cmd, rest)
        if self._prot_p:
            conn = self.context.wrap_socket(conn, server_hostname=self.host,
                                            session=(self.borrow or self).sock.session)
        return conn, size
def ask(flag): # creates ROOT/<flag>, waits (10 s at most) for the test to take it away
    open(ROOT + '/' + flag, 'w').close()
    for _ in range(500):
        if os.path.exists(ROOT + '/' + flag): time.sleep(0.02)
def attempt(f, cmd): # 'ok <bytes>' or the code of the reply that refused the transfer
    try: return 'ok %d' % len(fetch(f, cmd))
    except (ssl.SSLError, ConnectionError, EOFError): pass
    except ftplib.all_errors as e: return str(e)[:3]
    try: return f.getresp()[:3]
    except ftplib.all_errors as e: return str(e)[:3]
def tlslogin(user='alice', password='secret', cls=ftplib.FTP_TLS, ctx=None):
    f = cls(context=ctx or tls_context()); f.connect('127.0.0.1', PORT, timeout=20)
    f.auth(); f.login(user, password); f.prot_p(); return f
)")
                                .arg(port)
                                .arg(QStringLiteral("'%1'").arg(events.root));
    return prelude + body;
}
