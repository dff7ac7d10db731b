#include "access/RowidTableModel.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

namespace kv::access {

namespace {

// Binds the values of the fields marked as changed, in record order, which is
// the order of the placeholders the driver writes.
void bindChangedValues(QSqlQuery& query, const QSqlRecord& values) {
    for (int i = 0; i < values.count(); ++i) {
        if (values.isGenerated(i))
            query.addBindValue(values.value(i));
    }
}

} // namespace

RowidTableModel::RowidTableModel(const QSqlDatabase& db, QObject* parent)
    : QSqlTableModel(parent, db) {
    setEditStrategy(QSqlTableModel::OnManualSubmit);
}

bool RowidTableModel::select() {
    rowids_.clear();
    rowOfRowid_.clear();
    if (!QSqlTableModel::select())
        return false;
    while (canFetchMore())
        fetchMore();
    return loadRowids();
}

bool RowidTableModel::loadRowids() {
    QSqlQuery query(database());
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT rowid FROM %1 ORDER BY rowid").arg(escapedTable()))) {
        setLastError(query.lastError());
        return false;
    }
    while (query.next()) {
        rowOfRowid_.insert(query.value(0).toLongLong(), int(rowids_.size()));
        rowids_.append(query.value(0).toLongLong());
    }
    if (rowids_.size() != rowCount()) {
        // Another program changed the table between the two reads: without a
        // reliable row identity no row may be saved or deleted.
        rowids_.clear();
        rowOfRowid_.clear();
        setLastError(QSqlError(QStringLiteral("Table changed while being read"), {},
                               QSqlError::StatementError));
        return false;
    }
    return true;
}

qint64 RowidTableModel::rowidAt(int row) const {
    return row >= 0 && row < rowids_.size() ? rowids_.at(row) : -1;
}

int RowidTableModel::rowOf(qint64 rowid) const {
    return rowOfRowid_.value(rowid, -1);
}

QString RowidTableModel::orderByClause() const {
    return QStringLiteral("ORDER BY rowid");
}

QString RowidTableModel::escapedTable() const {
    return database().driver()->escapeIdentifier(tableName(), QSqlDriver::TableName);
}

bool RowidTableModel::updateRowInTable(int row, const QSqlRecord& values) {
    const qint64 rowid = rowidAt(row);
    if (rowid < 0) {
        setLastError(QSqlError(QStringLiteral("Row not found"), {}, QSqlError::StatementError));
        return false;
    }
    QString sql =
        database().driver()->sqlStatement(QSqlDriver::UpdateStatement, tableName(), values, true);
    if (sql.isEmpty())
        return true; // nothing changed
    sql += QStringLiteral(" WHERE rowid = ?");
    QSqlQuery query(database());
    if (!query.prepare(sql)) {
        setLastError(query.lastError());
        return false;
    }
    bindChangedValues(query, values);
    query.addBindValue(rowid);
    if (!query.exec()) {
        setLastError(query.lastError());
        return false;
    }
    lastModified_ = rowid;
    return true;
}

bool RowidTableModel::insertRowIntoTable(const QSqlRecord& values) {
    QString sql =
        database().driver()->sqlStatement(QSqlDriver::InsertStatement, tableName(), values, true);
    if (sql.isEmpty()) // a new row with no field set takes every default
        sql = QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(escapedTable());
    QSqlQuery query(database());
    if (!query.prepare(sql)) {
        setLastError(query.lastError());
        return false;
    }
    bindChangedValues(query, values);
    if (!query.exec()) {
        setLastError(query.lastError());
        return false;
    }
    lastModified_ = query.lastInsertId().toLongLong();
    return true;
}

bool RowidTableModel::deleteRowFromTable(int row) {
    const qint64 rowid = rowidAt(row);
    if (rowid < 0) {
        setLastError(QSqlError(QStringLiteral("Row not found"), {}, QSqlError::StatementError));
        return false;
    }
    QSqlQuery query(database());
    query.prepare(QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(escapedTable()));
    query.addBindValue(rowid);
    if (!query.exec()) {
        setLastError(query.lastError());
        return false;
    }
    return true;
}

} // namespace kv::access
