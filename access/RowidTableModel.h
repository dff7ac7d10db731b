#pragma once
// A table model that saves and deletes rows by their SQLite rowid, so tables
// without a key of their own (IPok, IPko, settings, anonymous) change exactly
// the row on the screen even when two rows hold the same values. Rows come in
// rowid order, the table's own order.

#include <QHash>
#include <QList>
#include <QSqlTableModel>

namespace kv::access {

class RowidTableModel : public QSqlTableModel {
    Q_OBJECT
public:
    RowidTableModel(const QSqlDatabase& db, QObject* parent = nullptr);

    // Reads every row (not only the first batch), so rowCount() is exact.
    bool select() override;

    // rowid of a row read from the file; -1 for a new row not yet saved.
    qint64 rowidAt(int row) const;
    // Model row of a rowid, -1 when the row is not among those read.
    int rowOf(qint64 rowid) const;
    // rowid of the row most recently inserted or updated through this model.
    qint64 lastModifiedRowid() const { return lastModified_; }

protected:
    QString orderByClause() const override;
    bool updateRowInTable(int row, const QSqlRecord& values) override;
    bool insertRowIntoTable(const QSqlRecord& values) override;
    bool deleteRowFromTable(int row) override;

private:
    bool loadRowids();
    QString escapedTable() const;

    QList<qint64> rowids_;
    QHash<qint64, int> rowOfRowid_;
    qint64 lastModified_ = -1;
};

} // namespace kv::access
