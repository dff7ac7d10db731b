// DataView's editing: pending edits of the current row, new rows, saving
// (Update, or a move off the row), cancelling, deleting, and statements that
// change rows. A save that fails keeps the row pending and current, so nothing
// typed is lost: it is saved again by the next Update() or move.

#include "access/DataViewState.h"

namespace kv::access {

bool DataView::Edit() {
    return d->table && hasCurrentRow();
}

bool DataView::AddNew() {
    if (!d->table || !commitBeforeMove())
        return false;
    const qint64 before = hasCurrentRow() ? d->table->rowidAt(d->current) : -1;
    const int row = d->rowCount();
    if (!d->table->insertRow(row)) {
        reportError(d->table->lastError(), true);
        return false;
    }
    d->adding = true;
    d->rowidBeforeAdd = before;
    moveTo(row);
    return true;
}

bool DataView::setField(const QString& name, const QVariant& value) {
    if (!d->table || !hasCurrentRow())
        return false;
    const int column = d->column(name);
    if (column < 0)
        return false;
    return d->table->setData(d->table->index(d->current, column), value, Qt::EditRole);
}

bool DataView::Update() {
    if (!d->table)
        return false;
    if (!d->table->isDirty())
        return true;
    if (dropIncompleteNewRow())
        return true; // nothing half-made is stored; nothing is left pending either
    const qint64 keep = d->adding ? d->rowidBeforeAdd : d->table->rowidAt(d->current);
    if (!d->table->submitAll()) {
        reportError(d->table->lastError(), true);
        return false;
    }
    clearError();
    d->adding = false;
    d->onDeletedRow = false;
    d->current = d->rowOrFirst(keep);
    Q_EMIT Reposition();
    return true;
}

void DataView::CancelUpdate() {
    if (!d->table || !d->table->isDirty())
        return;
    d->table->revertAll();
    if (d->adding) {
        d->adding = false;
        d->current = d->rowOrFirst(d->rowidBeforeAdd);
    }
    Q_EMIT Reposition();
}

void DataView::setNewRowCheck(std::function<bool(const DataView&)> complete) {
    newRowComplete_ = std::move(complete);
}

bool DataView::isNewRow() const {
    return d->table && d->adding && d->current == d->rowCount() - 1;
}

bool DataView::dropIncompleteNewRow() {
    if (!isNewRow() || !newRowComplete_ || newRowComplete_(*this))
        return false;
    CancelUpdate();
    return true;
}

bool DataView::isDirty() const {
    return d->table && d->table->isDirty();
}

bool DataView::Delete() {
    if (!d->table || !hasCurrentRow())
        return false;
    if (d->adding && d->current == d->rowCount() - 1) {
        CancelUpdate(); // a new row not yet saved is simply dropped
        return true;
    }
    const int row = d->current;
    d->table->revertRow(row); // pending edits of a row being deleted are moot
    if (!d->table->removeRow(row) || !d->table->submitAll()) {
        reportError(d->table->lastError(), true);
        d->table->revertRow(row);
        return false;
    }
    clearError();
    d->adding = false;
    d->current = std::min(row, d->rowCount());
    d->onDeletedRow = true;
    Q_EMIT Reposition();
    return true;
}

void DataView::MoveToLastModified() {
    if (!d->table || !commitBeforeMove())
        return;
    const int row = d->table->rowOf(d->table->lastModifiedRowid());
    if (row >= 0)
        moveTo(row);
}

bool DataView::Execute(const QString& sql, const QVariantList& params) {
    QSqlQuery query(d->db);
    bool ok = query.prepare(sql);
    if (ok) {
        bindAll(query, params);
        ok = query.exec();
    }
    if (!ok) {
        reportError(query.lastError(), false);
        return false;
    }
    clearError();
    return true;
}

} // namespace kv::access
