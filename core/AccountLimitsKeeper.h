#pragma once
// Keeps the limits book (session/LimitsBook.h) as accounts.dat and the
// options say, and ends accounts at their expiry date while the server runs.
//
// The book's server part comes from the options at every start and reread;
// its accounts from the table account_limits then, and whenever this program
// changes an account (refreshAccounts()). An account with expiry date D ends
// at the local midnight that starts D + 1 (access::expiryMoment): then its
// open sessions, FTP and SFTP alike, are closed with a line in the log, and
// accountExpired is told once per account and date, also across restarts
// (the table remembers the date told). One single-shot timer waits for the
// soonest such moment; it is armed again after every change.

#include "events/ServerEvents.h"
#include "session/Connection.h"
#include "session/LimitsBook.h"

#include <QDateTime>
#include <QObject>
#include <QSet>
#include <QSqlDatabase>
#include <QTimer>
#include <functional>

namespace kv {

class AccountLimitsKeeper : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;
    using Sessions = std::function<QList<session::ConnectionObject*>()>;
    using WriteLog = std::function<void(const QString&)>;
    // The longest the timer waits before looking again (the clock may jump).
    static constexpr int kLongestWaitMs = 60 * 60 * 1000;

    AccountLimitsKeeper(session::LimitsBook& book, QSqlDatabase db, events::ServerEvents& bus,
                        Sessions sessions, WriteLog writeLog,
                        Clock clock = &QDateTime::currentDateTime);

    // The server has started or reread its options: the book takes `server`
    // and the accounts' limits, and expiry dates are watched from now on.
    void serverRead(const session::ServerLimits& server);
    // The server stopped: nothing is watched until it starts again.
    void serverStopped();
    // Rereads every account's limits into the book (after a change made by
    // this program); false when the table cannot be read (the book keeps
    // what it had).
    bool refreshAccounts();

    // When the timer fires next; invalid when it is not armed.
    QDateTime nextCheck() const { return nextCheck_; }

public Q_SLOTS:
    // Ends the accounts whose date has passed, then arms the timer.
    void checkExpiries();

private:
    void endAccount(qint32 account, const QDate& expires);
    QString loginOf(qint32 account) const;
    void arm();

    session::LimitsBook& book_;
    QSqlDatabase db_;
    events::ServerEvents& bus_;
    Sessions sessions_;
    WriteLog writeLog_;
    Clock clock_;
    QHash<qint32, files::AccountLimits> accounts_;
    // Told in this run, for a file whose memory of it cannot be written.
    QSet<QPair<qint32, QDate>> told_;
    QTimer timer_;
    QDateTime nextCheck_;
    bool watching_ = false;
};

} // namespace kv
