#pragma once
// A window's copy of a remote server's accounts.dat (access/MirrorDatabase),
// kept in step with the server through the channel: the copy is filled from
// a "snapshot"; what the panels then write to it goes out as one "apply" of
// the changes since that snapshot; accepted, the snapshot counts as what
// the copy holds; refused, the server's reason is told and the copy is
// filled again. When another administrator changed something
// ("dataChanged", which the server also sends for this window's own
// changes: that one is not news), the copy is filled again once it holds
// nothing unsent.

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QSqlDatabase>

namespace kv {

class AdminConnection;

// `tables` (a snapshot) with `changes` (as access::changesSince gives them) made.
QJsonObject snapshotWithChanges(QJsonObject tables, const QJsonArray& changes);

class RemoteSync : public QObject {
    Q_OBJECT
public:
    RemoteSync(AdminConnection& connection, QSqlDatabase copy, QObject* parent = nullptr);

    // Asks for a snapshot; the copy takes it unless it holds unsent changes
    // (then those go first). reloaded() or fetchFailed() follows.
    void fetch();
    // Sends what changed in the copy since the snapshot, if anything.
    void sendChanges();
    // Another administrator changed the server's data.
    void onDataChanged();
    // The channel ended: answers still awaited will not come.
    void reset();
    // The copy holds the server's data (a snapshot arrived since the connection).
    bool loaded() const { return loaded_; }
    bool hasUnsentChanges() const;

Q_SIGNALS:
    // The copy is in step with the server; `rowsChanged` when its rows were
    // replaced (the views are to read them again).
    void reloaded(bool rowsChanged);
    // The server took the changes; `reloadError` when it could not apply them at once.
    void applied(const QString& reloadError);
    // The server refused the changes (nothing written); the copy is filled again.
    void refused(const QString& reason);
    void fetchFailed(const QString& reason);

private:
    void requestSnapshot(bool evenOverChanges);
    void onSnapshot(const QJsonObject& tables, bool evenOverChanges);
    void onApplied(const QJsonObject& answer, const QJsonArray& sent);

    AdminConnection& connection_;
    QSqlDatabase copy_;
    QJsonObject base_; // the snapshot the copy's changes are counted from
    bool loaded_ = false;
    bool fetching_ = false;
    bool applying_ = false;
    int newsWhileApplying_ = 0;  // "dataChanged" heard while changes were on their way
    bool ownNewsToCome_ = false; // the news of this window's last change is yet to come
};

} // namespace kv
