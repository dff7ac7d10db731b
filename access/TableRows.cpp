#include "access/TableRows.h"

#include "settings/OptionCatalog.h"

#include <QSqlQuery>

namespace kv::access {

QJsonValue jsonOfValue(const QVariant& value) {
    if (value.isNull())
        return QJsonValue::Null;
    switch (value.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::ULongLong:
    case QMetaType::UInt:
    case QMetaType::Bool:
        return value.toLongLong();
    case QMetaType::Double:
        return value.toDouble();
    case QMetaType::QByteArray:
        return QString::fromUtf8(value.toByteArray());
    default:
        return value.toString();
    }
}

QVariant valueOfJson(const QJsonValue& value) {
    switch (value.type()) {
    case QJsonValue::Bool:
        return qint64(value.toBool());
    case QJsonValue::Double: {
        // Whole numbers stay whole (a quota in bytes may pass 2^53).
        const qint64 whole = value.toInteger();
        return double(whole) == value.toDouble() ? QVariant(whole) : QVariant(value.toDouble());
    }
    case QJsonValue::String:
        return value.toString();
    default:
        return QVariant(); // null; arrays and objects are no values
    }
}

QString quotedName(const QString& name) {
    QString quoted = name;
    quoted.replace(u'"', QLatin1String("\"\""));
    return u'"' + quoted + u'"';
}

QStringList tableColumns(const QSqlDatabase& db, const QString& table) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
    QStringList columns;
    if (!query.exec(QStringLiteral("PRAGMA table_info(%1)").arg(quotedName(table))))
        return columns;
    while (query.next())
        columns << query.value(1).toString();
    return columns;
}

bool isSecret(const QString& table, const QString& column, const QJsonObject& row) {
    if (table == QLatin1String("users"))
        return column == QLatin1String("password");
    if (table != QLatin1String("options") || column != QLatin1String("value"))
        return false;
    const settings::OptionDef* option =
        settings::optionCatalog().find(row.value(QStringLiteral("name")).toString());
    return option && option->writeOnly;
}

QJsonObject maskedRow(const QString& table, QJsonObject row) {
    for (auto it = row.begin(); it != row.end(); ++it) {
        if (isSecret(table, it.key(), row) && !it.value().toString().isEmpty())
            it.value() = settings::kWriteOnlyMask;
    }
    return row;
}

bool isMask(const QJsonValue& value) {
    return value.isString() && value.toString() == settings::kWriteOnlyMask;
}

std::optional<QJsonObject> readRow(const QSqlDatabase& db, const QString& table, qint64 rowid,
                                   const QStringList& columns) {
    QStringList quoted;
    for (const QString& column : columns)
        quoted << quotedName(column);
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT %1 FROM %2 WHERE rowid = ?")
                      .arg(quoted.isEmpty() ? QStringLiteral("rowid") : quoted.join(u','),
                           quotedName(table)));
    query.addBindValue(rowid);
    if (!query.exec() || !query.next())
        return std::nullopt;
    QJsonObject row;
    for (int i = 0; i < columns.size(); ++i)
        row.insert(columns[i], jsonOfValue(query.value(i)));
    return row;
}

} // namespace kv::access
