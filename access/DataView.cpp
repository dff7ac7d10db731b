// DataView's cursor: reading the rows, the current row and its moves,
// field reads, clones and lookups. Editing is in DataViewEdits.cpp, error
// reporting in DataViewErrors.cpp.

#include "access/DataViewState.h"

#include <QSqlDriver>

namespace kv::access {

namespace {

bool isQueryText(const QString& source) {
    return source.trimmed().startsWith(QLatin1String("SELECT"), Qt::CaseInsensitive);
}

void fetchAll(QSqlQueryModel& model) {
    while (model.canFetchMore())
        model.fetchMore();
}

} // namespace

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
    QAbstractItemModel& model = d->model();
    const auto forgetColumns = [impl = d.get()] { impl->columns.clear(); };
    connect(&model, &QAbstractItemModel::modelReset, this, forgetColumns);
    connect(&model, &QAbstractItemModel::columnsInserted, this, forgetColumns);
    connect(&model, &QAbstractItemModel::columnsRemoved, this, forgetColumns);
    connect(&model, &QAbstractItemModel::columnsMoved, this, forgetColumns);
    connect(&model, &QAbstractItemModel::layoutChanged, this, forgetColumns);
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

qint64 DataView::rowidAt(int row) const {
    return d->table ? d->table->rowidAt(row) : -1;
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

} // namespace kv::access
