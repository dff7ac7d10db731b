#pragma once
// What the parts of DataView share: the rows it holds (a table model or a
// read-only query model), where the cursor stands, and the state of an edit.
// Private to access/DataView*.cpp.

#include "access/DataView.h"
#include "access/RowidTableModel.h"

#include <QHash>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QSqlRecord>

namespace kv::access {

struct DataView::Impl {
    QSqlDatabase db;
    QVariantList params;
    std::unique_ptr<RowidTableModel> table; // table views
    std::unique_ptr<QSqlQueryModel> query;  // read-only query views
    int current = -1;
    bool onDeletedRow = false; // the current row was deleted; the cursor sits in its place
    bool adding = false;       // the last model row is a new row not yet saved
    bool notifying = false;    // inside an Error() handler
    qint64 rowidBeforeAdd = -1;

    QSqlQueryModel& model() const { return table ? static_cast<QSqlQueryModel&>(*table) : *query; }
    int rowCount() const { return model().rowCount(); }
    // Fields are looked up by name on every read (the log asks its switch on
    // every line): the columns' order is kept until the model is reset.
    mutable QHash<QString, int> columns;
    int column(const QString& name) const {
        const auto known = columns.constFind(name);
        if (known != columns.constEnd())
            return *known;
        const int found = model().record().indexOf(name);
        columns.insert(name, found);
        return found;
    }
    // The model row of `rowid`, else the first row, else -1.
    int rowOrFirst(qint64 rowid) const {
        const int row = rowid >= 0 && table ? table->rowOf(rowid) : -1;
        return row >= 0 ? row : (rowCount() > 0 ? 0 : -1);
    }
};

inline void bindAll(QSqlQuery& query, const QVariantList& params) {
    for (const QVariant& value : params)
        query.addBindValue(value);
}

} // namespace kv::access
