#include "core/AccountLimitsKeeper.h"

#include "access/AccountLimitFields.h"
#include "access/AccountLimitsTable.h"
#include "access/AccountService.h"
#include "files/LoginGrant.h"

#include <algorithm>

namespace kv {

AccountLimitsKeeper::AccountLimitsKeeper(session::LimitsBook& book, QSqlDatabase db,
                                         events::ServerEvents& bus, Sessions sessions,
                                         WriteLog writeLog, Clock clock)
    : book_(book), db_(std::move(db)), bus_(bus), sessions_(std::move(sessions)),
      writeLog_(std::move(writeLog)), clock_(std::move(clock)) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer); // a coarse one may fire before midnight
    connect(&timer_, &QTimer::timeout, this, &AccountLimitsKeeper::checkExpiries);
}

void AccountLimitsKeeper::serverRead(const session::ServerLimits& server) {
    if (!(book_.server() == server))
        book_.setServer(server);
    watching_ = true;
    (void)refreshAccounts();
}

void AccountLimitsKeeper::serverStopped() {
    watching_ = false;
    timer_.stop();
    nextCheck_ = {};
}

bool AccountLimitsKeeper::refreshAccounts() {
    const auto all = access::AccountLimitsTable(db_).readAll();
    if (!all)
        return false;
    // Only what holds a limit: the book answers "none" for the others.
    QHash<qint32, files::AccountLimits> limited;
    for (auto it = all->begin(); it != all->end(); ++it) {
        if (!(it.value() == files::AccountLimits()))
            limited.insert(it.key(), it.value());
    }
    if (limited != accounts_) {
        accounts_ = limited;
        book_.setAccounts(accounts_);
    }
    checkExpiries();
    return true;
}

void AccountLimitsKeeper::checkExpiries() {
    if (!watching_)
        return;
    const QDateTime now = clock_();
    for (auto it = accounts_.cbegin(); it != accounts_.cend(); ++it) {
        if (access::isExpired(it.value().expires, now))
            endAccount(it.key(), it.value().expires);
    }
    arm();
}

void AccountLimitsKeeper::endAccount(qint32 account, const QDate& expires) {
    // Sessions that logged in before the date ended; none can log in after.
    int closed = 0;
    const QList<session::ConnectionObject*> sessions =
        sessions_ ? sessions_() : QList<session::ConnectionObject*>();
    for (session::ConnectionObject* c : sessions) {
        const files::LoginGrant* grant = c->Grant();
        if (grant && grant->accountId == account) {
            c->Disconnect();
            ++closed;
        }
    }
    access::AccountLimitsTable table(db_);
    const bool told =
        told_.contains({account, expires}) || table.expiryAnnounced(account) == expires;
    if (closed == 0 && told)
        return;
    const QString login = loginOf(account);
    const QString detail =
        QStringLiteral("account scaduto il %1").arg(access::expiresText(expires));
    if (writeLog_) {
        const QString stamp = clock_().toString(QStringLiteral("dd-MM-yyyy HH:mm:ss"));
        writeLog_(QStringLiteral("[%1] Account %2: %3, sessioni chiuse: %4")
                      .arg(stamp, login, detail)
                      .arg(closed));
    }
    if (told)
        return;
    told_.insert({account, expires});
    (void)table.rememberExpiryAnnounced(account, expires);
    Q_EMIT bus_.accountExpired({login, detail});
}

QString AccountLimitsKeeper::loginOf(qint32 account) const {
    if (account == files::kAnonymousAccountId)
        return QStringLiteral("anonymous");
    return access::AccountService(db_).storedLogin(account).value_or(
        QStringLiteral("#%1").arg(account));
}

void AccountLimitsKeeper::arm() {
    timer_.stop();
    nextCheck_ = {};
    const QDateTime now = clock_();
    QDateTime soonest;
    for (const files::AccountLimits& limits : std::as_const(accounts_)) {
        if (!limits.expires.isValid() || access::isExpired(limits.expires, now))
            continue;
        const QDateTime at = access::expiryMoment(limits.expires);
        if (!soonest.isValid() || at < soonest)
            soonest = at;
    }
    if (!soonest.isValid())
        return;
    const qint64 wait = std::clamp<qint64>(now.msecsTo(soonest), 0, kLongestWaitMs);
    nextCheck_ = now.addMSecs(wait);
    timer_.start(int(wait));
}

} // namespace kv
