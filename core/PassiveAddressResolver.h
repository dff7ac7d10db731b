#pragma once
// Keeps the engine's public passive address current when the operator named
// a host (a dynamic-DNS name of the router): the name is looked up without
// blocking at start and again a few minutes after each answer, the last good IPv4 answer
// stays in use, and a name that does not resolve is logged once, PASV
// replies then naming the address the client connected to.

#include "ftp/FtpEngine.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTimer>
#include <functional>

namespace kv {

class PassiveAddressResolver : public QObject {
    Q_OBJECT
public:
    using Answer = std::function<void(const QList<QHostAddress>& addresses)>;
    // Looks `name` up and calls `answer` later on this thread, unless
    // `context` is gone by then.
    using LookupFn = std::function<void(const QString& name, QObject* context, Answer answer)>;
    using WriteLogFn = std::function<void(const QString&)>;

    static constexpr int kRefreshMs = 5 * 60 * 1000;

    PassiveAddressResolver(ftp::FtpEngine& engine, WriteLogFn writeLog,
                           LookupFn lookup = systemLookup, int refreshMs = kRefreshMs);

    // Starts following `name`; an empty name follows nothing.
    void start(const QString& name);
    // Stops; an answer still on its way is dropped.
    void stop();

    // QHostInfo::lookupHost, except that names under ".invalid" never
    // resolve and are not asked of any name server.
    static void systemLookup(const QString& name, QObject* context, Answer answer);

private:
    void lookUp();
    void onAnswer(quint64 round, const QList<QHostAddress>& addresses);

    ftp::FtpEngine& engine_;
    WriteLogFn writeLog_;
    LookupFn lookup_;
    QTimer refresh_;
    QString name_;
    quint64 round_ = 0; // answers of an earlier start are dropped
    bool failureLogged_ = false;
};

} // namespace kv
