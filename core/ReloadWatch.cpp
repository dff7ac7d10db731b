#include "core/ReloadWatch.h"

#include "core/ServerBoxes.h"
#include "settings/OptionCatalog.h"

#include <QCryptographicHash>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

namespace kv {

namespace {

// The settings columns a start or a reload reads.
QString settingsQuery() {
    QStringList columns;
    for (const ServerBox box : kServerBoxes)
        columns << QLatin1Char('"') + SettingsRowBoxes::fieldName(box) + QLatin1Char('"');
    for (const QString& listSwitch : {settings::setting::kIpOk, settings::setting::kIpKo})
        columns << QLatin1Char('"') + listSwitch + QLatin1Char('"');
    return QStringLiteral("SELECT %1 FROM settings").arg(columns.join(QLatin1Char(',')));
}

// Every row of `select` into `hash`, values told apart from nulls and from
// each other; a query that fails (a table missing) adds its failure.
void addRows(QCryptographicHash& hash, const QSqlDatabase& db, const QString& select) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(select)) {
        hash.addData(QByteArrayView("\x01"
                                    "failed"));
        return;
    }
    while (query.next()) {
        hash.addData(QByteArrayView("\x02"));
        for (int i = 0; i < query.record().count(); ++i) {
            const QVariant value = query.value(i);
            hash.addData(value.isNull() ? QByteArrayView("\x03")
                                        : QByteArrayView(value.toString().toUtf8() + '\x04'));
        }
    }
}

} // namespace

qint64 ReloadWatch::writtenChanges() const {
    QSqlQuery query(db_);
    if (!query.exec(QStringLiteral("SELECT total_changes()")) || !query.next())
        return 0;
    return query.value(0).toLongLong();
}

QByteArray ReloadWatch::digest() const {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    addRows(hash, db_, settingsQuery());
    addRows(hash, db_, QStringLiteral("SELECT name, value FROM options ORDER BY name"));
    addRows(hash, db_, QStringLiteral("SELECT IP FROM IPok ORDER BY IP"));
    addRows(hash, db_, QStringLiteral("SELECT IP FROM IPko ORDER BY IP"));
    // The accounts' limits reach running transfers at a reread; a file
    // without the table adds the same failure every time.
    addRows(hash, db_, QStringLiteral("SELECT * FROM account_limits ORDER BY account"));
    return hash.result();
}

void ReloadWatch::rebase() {
    changes_ = writtenChanges();
    digest_ = digest();
}

bool ReloadWatch::reloadNeeded() {
    const qint64 now = writtenChanges();
    if (now == changes_)
        return false; // nothing written: nothing to read again
    changes_ = now;
    const QByteArray current = digest();
    if (current == digest_)
        return false;
    digest_ = current;
    return true;
}

} // namespace kv
