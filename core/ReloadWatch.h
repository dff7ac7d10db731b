#pragma once
// What a running server takes from accounts.dat only when it starts or
// reloads: the settings it listens and serves with (address, port, root,
// time-outs, the list switches), the options and the address lists. The
// window notes it when its server starts or it attaches to one, and after its
// own writes asks whether any of that changed, so the server reloads only
// then. An account change needs no reload (every login reads the accounts),
// but a change of an account's limits does: the limits book of the running
// server, which its transfers follow, is filled at a reread.

#include <QByteArray>
#include <QSqlDatabase>

namespace kv {

class ReloadWatch {
public:
    explicit ReloadWatch(QSqlDatabase db) : db_(std::move(db)) {}

    // Remembers what the server runs with now.
    void rebase();
    // True once after this connection wrote something that changed what the
    // server reads at a reload; from then on that is what is remembered.
    bool reloadNeeded();

private:
    qint64 writtenChanges() const;
    QByteArray digest() const;

    QSqlDatabase db_;
    qint64 changes_ = -1;
    QByteArray digest_;
};

} // namespace kv
