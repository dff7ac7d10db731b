// The window's copy of a remote server's data, sent and refreshed through the channel.
#include "adminchannel/RemoteSync.h"

#include "access/MirrorDatabase.h"
#include "adminchannel/AdminConnection.h"

#include <utility>

namespace kv {

namespace {

const QString kRows = QStringLiteral("rows");
const QString kColumns = QStringLiteral("columns");

// The values of a row, in the table's column order, from `row` (rowid
// first) with `after`'s columns over them.
QJsonArray rowWith(qint64 rowid, const QJsonArray& columns, const QJsonArray& row,
                   const QJsonObject& after) {
    QJsonArray made{rowid};
    for (qsizetype i = 0; i < columns.size(); ++i) {
        const QString name = columns.at(i).toString();
        made.append(after.contains(name) ? after.value(name) : row.at(i + 1));
    }
    return made;
}

} // namespace

QJsonObject snapshotWithChanges(QJsonObject tables, const QJsonArray& changes) {
    for (const QJsonValue& value : changes) {
        const QJsonObject change = value.toObject();
        const QString name = change.value(QStringLiteral("table")).toString();
        const qint64 rowid = qint64(change.value(QStringLiteral("rowid")).toDouble());
        const QJsonValue after = change.value(QStringLiteral("after"));
        QJsonObject table = tables.value(name).toObject();
        const QJsonArray columns = table.value(kColumns).toArray();
        QJsonArray rows = table.value(kRows).toArray();
        qsizetype at = -1;
        for (qsizetype i = 0; i < rows.size() && at < 0; ++i) {
            if (qint64(rows.at(i).toArray().at(0).toDouble()) == rowid)
                at = i;
        }
        if (!after.isObject()) {
            if (at >= 0)
                rows.removeAt(at);
        } else if (at >= 0) {
            rows[at] = rowWith(rowid, columns, rows.at(at).toArray(), after.toObject());
        } else {
            rows.append(rowWith(rowid, columns, QJsonArray(), after.toObject()));
        }
        table.insert(kRows, rows);
        tables.insert(name, table);
    }
    return tables;
}

RemoteSync::RemoteSync(AdminConnection& connection, QSqlDatabase copy, QObject* parent)
    : QObject(parent), connection_(connection), copy_(std::move(copy)) {}

bool RemoteSync::hasUnsentChanges() const {
    return loaded_ && !access::changesSince(copy_, base_).isEmpty();
}

void RemoteSync::reset() {
    fetching_ = false;
    applying_ = false;
    newsWhileApplying_ = 0;
    ownNewsToCome_ = false;
}

void RemoteSync::fetch() {
    requestSnapshot(false);
}

void RemoteSync::onDataChanged() {
    if (applying_) {
        ++newsWhileApplying_; // possibly of this window's change: judged with its answer
        return;
    }
    if (std::exchange(ownNewsToCome_, false))
        return;
    if (!hasUnsentChanges())
        requestSnapshot(false);
}

void RemoteSync::requestSnapshot(bool evenOverChanges) {
    if (fetching_)
        return;
    fetching_ = true;
    connection_.request(
        {{QStringLiteral("op"), QStringLiteral("snapshot")}},
        [this, evenOverChanges](const std::optional<QJsonObject>& answer) {
            fetching_ = false;
            if (!answer)
                return; // the channel ended: the link says so
            if (!answer->value(QStringLiteral("ok")).toBool()) {
                Q_EMIT fetchFailed(answer->value(QStringLiteral("error")).toString());
                return;
            }
            onSnapshot(answer->value(QStringLiteral("tables")).toObject(), evenOverChanges);
        });
}

void RemoteSync::onSnapshot(const QJsonObject& tables, bool evenOverChanges) {
    if (loaded_ && !evenOverChanges && hasUnsentChanges()) {
        Q_EMIT reloaded(false);
        sendChanges(); // the operator's edits first: the server judges them against its rows
        return;
    }
    // A copy already holding the same data is left alone, and so are the
    // rows the operator is on.
    if (loaded_ && access::changesSince(copy_, tables).isEmpty()) {
        base_ = tables;
        Q_EMIT reloaded(false);
        return;
    }
    if (const std::optional<QString> problem = access::loadSnapshot(copy_, tables)) {
        Q_EMIT fetchFailed(*problem);
        return;
    }
    base_ = tables;
    loaded_ = true;
    Q_EMIT reloaded(true);
}

void RemoteSync::sendChanges() {
    if (!loaded_ || applying_ || fetching_ || !connection_.isConnected())
        return;
    const QJsonArray changes = access::changesSince(copy_, base_);
    if (changes.isEmpty())
        return;
    applying_ = true;
    const QJsonObject request{{QStringLiteral("op"), QStringLiteral("apply")},
                              {QStringLiteral("changes"), changes},
                              {QStringLiteral("wholeDisk"), true}};
    connection_.request(request, [this, changes](const std::optional<QJsonObject>& answer) {
        applying_ = false;
        if (answer)
            onApplied(*answer, changes);
    });
}

void RemoteSync::onApplied(const QJsonObject& answer, const QJsonArray& sent) {
    const int news = std::exchange(newsWhileApplying_, 0);
    if (!answer.value(QStringLiteral("ok")).toBool()) {
        Q_EMIT refused(answer.value(QStringLiteral("error")).toString());
        requestSnapshot(true);
        return;
    }
    base_ = snapshotWithChanges(base_, sent);
    // The server tells every follower of an applied change, this window too.
    ownNewsToCome_ = news == 0;
    Q_EMIT applied(answer.value(QStringLiteral("reloadError")).toString());
    if (hasUnsentChanges()) {
        sendChanges(); // written while these were on their way
        return;
    }
    if (news > 1)
        requestSnapshot(false); // someone else's too
}

} // namespace kv
