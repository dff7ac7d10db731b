// Runs the FTP engine without a window for the benchmark: one account
// "bench"/"bench" with every right, the root folder and port from the command
// line, listening on 127.0.0.1 only. Prints READY once it listens. With
// --tls it offers AUTH TLS with the given PEM files and, as the program's
// default, requires data connections to resume their control session.
// With --data-dir the folder is hidden from clients as the program's own data
// folder is (to measure what that costs, with the root holding it or not).
//
//   kv_bench_server ROOT_FOLDER PORT [yescrypt|sha512crypt] [--tls CERT_FILE KEY_FILE]
//                   [--data-dir FOLDER]
//
// As in the program, transfers go through a rate limiter over an empty
// limits book; KV_BENCH_NO_LIMITER=1 leaves it out (the engine as it was, to
// measure what the limits cost when none is set), KV_BENCH_RATE_DOWN_KIB=N
// limits the server's downloads to N KiB/s.
//
// With a hash kind the account's password is stored as that crypt(3) hash
// (yescrypt as the account panel stores it, SHA-512-crypt with libcrypt's
// default 5000 rounds as the peers' bench user has it) and every login
// verifies it, without the program's memory of recent answers.

#include "access/PasswordHash.h"
#include "files/OwnFiles.h"
#include "ftp/FtpServer.h"
#include "session/RateLimiter.h"
#include "net/DescriptorLimit.h"
#include "net/EpollDispatcher.h"

#include <crypt.h>
#include <memory>
#include <optional>

#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

using kv::session::ConnectionObject;
using kv::session::LoginDecision;

// Grants every right to the bench account; log lines are only counted so the
// engine's logging cost stays in the measurement without any file output.
class BenchEvents final : public kv::session::EngineEvents {
public:
    BenchEvents(QString root, QString stored)
        : root_(std::move(root)), stored_(std::move(stored)) {}

    kv::session::LoginDecision LoginRequest(kv::session::ConnectionObject& c) override {
        if (c.UserName() != QLatin1String("bench") ||
            !kv::access::passwordMatches(stored_, c.Password()))
            return kv::session::LoginDecision::refused(QStringLiteral("password errata"));
        auto grant = std::make_shared<kv::files::LoginGrant>();
        grant->accountId = 1;
        grant->login = c.UserName();
        grant->rights = kv::files::Rights::all();
        grant->root = root_;
        grant->address = c.RemoteHost();
        return kv::session::LoginDecision::accepted(std::move(grant));
    }
    void LogLine(kv::session::ConnectionObject&, const QString&) override { ++logLines_; }

    qint64 logLines() const { return logLines_; }

private:
    QString root_;
    QString stored_;
    qint64 logLines_ = 0;
};

// SIGTERM and SIGINT end the event loop normally (so sanitizers can report at
// exit): the handler only writes a byte to a pipe that the loop watches.
int quitPipe[2] = {-1, -1};

void onQuitSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(quitPipe[1], &byte, 1);
}

bool quitOnSignals(QCoreApplication& app) {
    if (::pipe(quitPipe) != 0)
        return false;
    auto* notifier = new QSocketNotifier(quitPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::signal(SIGTERM, onQuitSignal);
    std::signal(SIGINT, onQuitSignal);
    return true;
}

int fail(const QString& message) {
    QTextStream(stderr) << message << '\n';
    return 2;
}

// The stored form of the password "bench": clear text, or a hash of `kind`.
std::optional<QString> storedPassword(const QString& kind) {
    if (kind.isEmpty())
        return QStringLiteral("bench");
    if (kind == QLatin1String("yescrypt"))
        return kv::access::hashPassword(QStringLiteral("bench"));
    if (kind != QLatin1String("sha512crypt"))
        return std::nullopt;
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (!crypt_gensalt_rn("$6$", 0, nullptr, 0, setting, sizeof setting))
        return std::nullopt;
    auto data = std::make_unique<crypt_data>();
    const char* hash = crypt_rn("bench", setting, data.get(), sizeof *data);
    return hash && hash[0] != '*' ? std::optional<QString>(QString::fromLatin1(hash))
                                  : std::nullopt;
}

} // namespace

int main(int argc, char* argv[]) {
    // Like the headless program: epoll, unless KV_QT_DISPATCHER=1 asks for Qt's
    // own (to compare the two).
    if (qEnvironmentVariableIntValue("KV_QT_DISPATCHER") != 1) {
        auto dispatcher = std::make_unique<kv::net::EpollDispatcher>();
        if (dispatcher->isValid())
            QCoreApplication::setEventDispatcher(dispatcher.release());
    }
    kv::net::raiseDescriptorLimit(); // thousands of idle sessions in the idle rows
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString usage = QStringLiteral("usage: kv_bench_server ROOT_FOLDER PORT "
                                         "[yescrypt|sha512crypt] [--tls CERT_FILE KEY_FILE] "
                                         "[--data-dir FOLDER]");
    QStringList extra = args.mid(3);
    const QString hashKind = !extra.isEmpty() && !extra.first().startsWith(QLatin1String("--"))
                                 ? extra.takeFirst()
                                 : QString();
    QString dataFolder;
    if (extra.size() >= 2 && extra.at(extra.size() - 2) == QLatin1String("--data-dir")) {
        dataFolder = QDir(extra.takeLast()).absolutePath();
        extra.removeLast();
    }
    const bool withTls = extra.size() == 3 && extra.at(0) == QLatin1String("--tls");
    if (args.size() < 3 || (!extra.isEmpty() && !withTls))
        return fail(usage);
    const std::optional<QString> stored = storedPassword(hashKind);
    if (!stored)
        return fail(QStringLiteral("cannot store the password as %1").arg(hashKind));

    const QString root = QDir(args.at(1)).absolutePath();
    if (!QDir(root).exists())
        return fail(QStringLiteral("root folder does not exist: %1").arg(root));
    bool portOk = false;
    const int port = args.at(2).toInt(&portOk);
    if (!portOk || port < 1 || port > 65535)
        return fail(QStringLiteral("port must be a number from 1 to 65535"));

    if (!quitOnSignals(app))
        return fail(QStringLiteral("cannot set up the signal pipe"));

    BenchEvents events(root, *stored);
    std::optional<kv::files::OwnFiles> ownFiles;
    kv::ftp::FtpServer server;
    if (!dataFolder.isEmpty()) {
        ownFiles.emplace(dataFolder);
        if (!ownFiles->usable())
            return fail(QStringLiteral("cannot open the data folder %1").arg(dataFolder));
        server.setOwnFiles(&*ownFiles);
    }
    kv::session::LimitsBook limitsBook;
    kv::session::RateLimiter rates(limitsBook);
    if (qEnvironmentVariableIntValue("KV_BENCH_NO_LIMITER") != 1)
        server.setRateLimiter(&rates);
    kv::session::ServerLimits serverLimits;
    serverLimits.rateDownKib = qEnvironmentVariableIntValue("KV_BENCH_RATE_DOWN_KIB");
    limitsBook.setServer(serverLimits);
    server.setEvents(&events);
    server.setLocalAddress(QStringLiteral("127.0.0.1"));
    server.setPort(quint16(port));
    server.setServerRootDir(root);
    server.setTimeout(600); // idle sessions must survive the memory measurement
    kv::ftp::EngineLimits limits = server.limits();
    // For timing the passive reply's pacing against none (bench/abtest.py).
    if (const QByteArray delay = qgetenv("KV_BENCH_PASSIVE_DELAY_US"); !delay.isEmpty())
        limits.passiveReplyDelayUs = delay.toInt();
    server.setLimits(limits);
    if (withTls) {
        kv::ftp::TlsSettings tls;
        tls.mode = kv::ftp::TlsMode::On;
        tls.certificateFile = QDir(extra.at(1)).absolutePath();
        tls.privateKeyFile = QDir(extra.at(2)).absolutePath();
        server.setTls(tls);
    }
    if (!server.Listen())
        return fail(QStringLiteral("cannot listen on 127.0.0.1:%1: %2")
                        .arg(port)
                        .arg(server.ListenError()));

    std::fputs("READY\n", stdout);
    std::fflush(stdout);
    const int status = app.exec();
    server.StopListening();
    QTextStream(stdout) << "log lines: " << events.logLines() << '\n';
    return status;
}
