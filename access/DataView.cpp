#include "access/DataView.h"

#include "access/RowidTableModel.h"

#include <QSqlDriver>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QSqlRecord>

namespace kv::access {

namespace {

bool isQueryText(const QString& source) {
    return source.trimmed().startsWith(QLatin1String("SELECT"), Qt::CaseInsensitive);
}

// SQLite reports a broken UNIQUE constraint with the primary code 19 unless
// extended codes are on; the program tells a duplicated login by 2067.
int errorNumberOf(const QSqlError& error) {
    bool ok = false;
    int number = error.nativeErrorCode().toInt(&ok);
    if (!ok)
        number = error.type() == QSqlError::NoError ? 0 : -1;
    const QString text = error.databaseText() + QLatin1Char(' ') + error.driverText();
    if ((number & 0xff) == 19 && text.contains(QLatin1String("UNIQUE"), Qt::CaseInsensitive))
        return kDuplicateKeyError;
    return number;
}

void bindAll(QSqlQuery& query, const QVariantList& params) {
    for (const QVariant& value : params)
        query.addBindValue(value);
}

void fetchAll(QSqlQueryModel& model) {
    while (model.canFetchMore())
        model.fetchMore();
}

} // namespace

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
    int column(const QString& name) const { return model().record().indexOf(name); }
};

DataView::DataView(const QSqlDatabase& db, const QString& source, QObject* parent)
    : DataView(db, source, QVariantList{}, parent) {}

DataView::DataView(const QSqlDatabase& db, const QString& source, const QVariantList& params,
                   QObject* parent)
    : QObject(parent), d(std::make_unique<Impl>()), source_(source) {
    d->db = db;
    d->params = params;
    if (isQueryText(source))
        d->query = std::make_unique<QSqlQueryModel>();
    else
        d->table = std::make_unique<RowidTableModel>(db);
}

DataView::~DataView() = default;

bool DataView::isTable() const {
    return d->table != nullptr;
}

QSqlTableModel* DataView::tableModel() const {
    return d->table.get();
}

QSqlQueryModel* DataView::model() const {
    return &d->model();
}

bool DataView::Refresh() {
    clearError();
    bool ok = false;
    if (d->table) {
        d->table->revertAll();
        // Set the table again: the view may have been made before the file was opened.
        d->table->setTable(source_);
        ok = d->table->select();
        if (!ok)
            reportError(d->table->lastError(), false);
    } else {
        QSqlQuery query(d->db);
        ok = query.prepare(source_);
        if (ok) {
            bindAll(query, d->params);
            ok = query.exec();
        }
        if (!ok)
            reportError(query.lastError(), false);
        d->query->setQuery(std::move(query));
        fetchAll(*d->query);
    }
    d->adding = false;
    d->onDeletedRow = false;
    d->current = d->rowCount() > 0 ? 0 : -1;
    Q_EMIT Reposition();
    return ok;
}

int DataView::RecordCount() const {
    return d->rowCount();
}

bool DataView::BOF() const {
    return d->rowCount() == 0 || d->current < 0;
}

bool DataView::AtEOF() const {
    return d->rowCount() == 0 || d->current >= d->rowCount();
}

bool DataView::hasCurrentRow() const {
    return !BOF() && !AtEOF() && !d->onDeletedRow;
}

int DataView::currentRow() const {
    return d->current;
}

void DataView::setCurrentRow(int row) {
    if (!commitBeforeMove())
        return;
    moveTo(row);
}

void DataView::moveTo(int row) {
    d->current = std::clamp(row, -1, d->rowCount());
    d->onDeletedRow = false;
    Q_EMIT Reposition();
}

bool DataView::commitBeforeMove() {
    if (!isDirty())
        return true;
    return Update();
}

void DataView::MoveFirst() {
    setCurrentRow(d->rowCount() > 0 ? 0 : -1);
}

void DataView::MoveLast() {
    setCurrentRow(d->rowCount() - 1);
}

void DataView::MoveNext() {
    if (!commitBeforeMove())
        return;
    // From a deleted row's place the next row already sits at the same position.
    moveTo(d->onDeletedRow ? d->current : d->current + 1);
}

void DataView::MovePrevious() {
    if (!commitBeforeMove())
        return;
    moveTo(d->current - 1);
}

QVariant DataView::value(const QString& name) const {
    if (!hasCurrentRow())
        return {};
    const int column = d->column(name);
    if (column < 0)
        return {};
    return d->model().data(d->model().index(d->current, column), Qt::EditRole);
}

QString DataView::Field(const QString& name) const {
    const QVariant v = value(name);
    return v.isNull() ? QString() : v.toString();
}

bool DataView::isTrue(const QString& name) const {
    const QVariant v = value(name);
    if (v.isNull())
        return false;
    bool numeric = false;
    const qlonglong number = v.toLongLong(&numeric);
    if (numeric)
        return number != 0;
    return v.toString().trimmed().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

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
    const qint64 keep = d->adding ? d->rowidBeforeAdd : d->table->rowidAt(d->current);
    if (!d->table->submitAll()) {
        reportError(d->table->lastError(), true);
        return false;
    }
    clearError();
    d->adding = false;
    d->onDeletedRow = false;
    const int row = keep >= 0 ? d->table->rowOf(keep) : -1;
    d->current = row >= 0 ? row : (d->rowCount() > 0 ? 0 : -1);
    Q_EMIT Reposition();
    return true;
}

void DataView::CancelUpdate() {
    if (!d->table || !d->table->isDirty())
        return;
    d->table->revertAll();
    if (d->adding) {
        d->adding = false;
        const int row = d->rowidBeforeAdd >= 0 ? d->table->rowOf(d->rowidBeforeAdd) : -1;
        d->current = row >= 0 ? row : (d->rowCount() > 0 ? 0 : -1);
    }
    Q_EMIT Reposition();
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

std::unique_ptr<DataView> DataView::Clone(QObject* parent) const {
    auto clone = std::make_unique<DataView>(d->db, source_, d->params, parent);
    clone->Refresh();
    return clone;
}

bool DataView::FindFirst(const QString& where, const QVariantList& params) {
    noMatch_ = true;
    if (!d->table) {
        lastErrorNumber_ = -1;
        lastErrorText_ = QStringLiteral("Lookups need a table view");
        return false;
    }
    if (!commitBeforeMove())
        return false;
    const QString table = d->db.driver()->escapeIdentifier(source_, QSqlDriver::TableName);
    QSqlQuery query(d->db);
    query.setForwardOnly(true);
    const bool ok = query.prepare(
        QStringLiteral("SELECT rowid FROM %1 WHERE (%2) ORDER BY rowid").arg(table, where));
    if (ok)
        bindAll(query, params);
    if (!ok || !query.exec()) {
        reportError(query.lastError(), false);
        return false;
    }
    clearError();
    // The first matching row among those this view has read.
    while (query.next()) {
        const int row = d->table->rowOf(query.value(0).toLongLong());
        if (row >= 0) {
            noMatch_ = false;
            moveTo(row);
            return true;
        }
    }
    return false;
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

void DataView::reportError(const QSqlError& error, bool notify) {
    lastErrorNumber_ = errorNumberOf(error);
    lastErrorText_ = error.text();
    // A handler that saves the row again (as the account panel does after a
    // repeated login) must not be called again from inside itself.
    if (notify && !d->notifying) {
        d->notifying = true;
        Q_EMIT Error(lastErrorNumber_, lastErrorText_);
        d->notifying = false;
    }
}

void DataView::clearError() {
    lastErrorNumber_ = 0;
    lastErrorText_.clear();
}

} // namespace kv::access
