// Following the host name of passive_address.
#include "core/PassiveAddressResolver.h"

#include <QHostInfo>

namespace kv {

PassiveAddressResolver::PassiveAddressResolver(ftp::FtpEngine& engine, WriteLogFn writeLog,
                                               LookupFn lookup, int refreshMs)
    : engine_(engine), writeLog_(std::move(writeLog)), lookup_(std::move(lookup)) {
    // Asked again a while after each answer, so a slow name server never
    // has two questions of ours waiting.
    refresh_.setSingleShot(true);
    refresh_.setInterval(refreshMs);
    connect(&refresh_, &QTimer::timeout, this, &PassiveAddressResolver::lookUp);
}

void PassiveAddressResolver::start(const QString& name) {
    stop();
    name_ = name;
    failureLogged_ = false;
    if (!name_.isEmpty())
        lookUp();
}

void PassiveAddressResolver::stop() {
    ++round_;
    refresh_.stop();
    name_.clear();
}

void PassiveAddressResolver::lookUp() {
    const quint64 round = round_;
    lookup_(name_, this,
            [this, round](const QList<QHostAddress>& addresses) { onAnswer(round, addresses); });
}

void PassiveAddressResolver::onAnswer(quint64 round, const QList<QHostAddress>& addresses) {
    if (round != round_)
        return;
    refresh_.start();
    // PASV replies carry IPv4 only.
    for (const QHostAddress& address : addresses) {
        if (address.protocol() != QAbstractSocket::IPv4Protocol)
            continue;
        ftp::PassiveSettings passive = engine_.Passive();
        if (passive.publicAddress != address) {
            passive.publicAddress = address;
            engine_.setPassive(passive);
            writeLog_(QStringLiteral("Indirizzo passivo: %1 = %2").arg(name_, address.toString()));
        }
        failureLogged_ = false;
        return;
    }
    // The last good answer stays; without one the engine names the address
    // each client connected to.
    if (failureLogged_)
        return;
    failureLogged_ = true;
    const bool kept = !engine_.Passive().publicAddress.isNull();
    writeLog_(QStringLiteral("Indirizzo passivo: il nome %1 non corrisponde a nessun indirizzo "
                             "IPv4; %2")
                  .arg(name_, kept ? QStringLiteral("resta in uso l'ultimo indirizzo trovato (%1)")
                                         .arg(engine_.Passive().publicAddress.toString())
                                   : QStringLiteral("le risposte PASV indicano l'indirizzo a cui "
                                                    "il client si è collegato")));
}

void PassiveAddressResolver::systemLookup(const QString& name, QObject* context, Answer answer) {
    // RFC 6761: such names are never resolved, so no query leaves the machine.
    if (name.endsWith(QLatin1String(".invalid")) || name.endsWith(QLatin1String(".invalid."))) {
        QMetaObject::invokeMethod(
            context, [answer] { answer({}); }, Qt::QueuedConnection);
        return;
    }
    QHostInfo::lookupHost(name, context,
                          [answer](const QHostInfo& info) { answer(info.addresses()); });
}

} // namespace kv
