#include "panels/logic/VirtualDirList.h"

#include "access/VirtualDirService.h"

namespace kv::admin {

namespace {

access::VirtualDirField fieldOf(VirtualDirList::Column column) {
    return static_cast<access::VirtualDirField>(int(column));
}

} // namespace

QString AggiornaPath(const QString& virtualPath, const QString& name) {
    QString path = virtualPath.trimmed();
    if (!path.isEmpty() && !path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path + name.trimmed();
}

VirtualDirList::VirtualDirList(const QSqlDatabase& db, int owner, QObject* parent)
    : QAbstractTableModel(parent), db_(db), owner_(owner) {}

bool VirtualDirList::fail(const QString& error) {
    lastError_ = error;
    return false;
}

bool VirtualDirList::Refresh() {
    beginResetModel();
    current_ = -1;
    rows_.clear();
    QString error;
    for (const access::VirtualDirRow& stored :
         access::VirtualDirService(db_).folders(owner_, &error)) {
        Row row;
        row.rowid = stored.rowid;
        row.values[Name] = stored.entry.name;
        row.values[Source] = stored.entry.position;
        row.values[Destination] = stored.entry.destination;
        rows_.append(row);
    }
    current_ = rows_.isEmpty() ? -1 : 0;
    endResetModel();
    Q_EMIT currentRowChanged(current_);
    if (!error.isEmpty())
        return fail(error);
    lastError_.clear();
    return true;
}

int VirtualDirList::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int VirtualDirList::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 3;
}

QVariant VirtualDirList::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_.size() || index.column() > 2)
        return {};
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    return rows_.at(index.row()).values[index.column()];
}

QVariant VirtualDirList::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case Name:
        return QStringLiteral("Nome");
    case Source:
        return QStringLiteral("Posizione virtuale");
    case Destination:
        return QStringLiteral("Percorso reale");
    default:
        return {};
    }
}

void VirtualDirList::setCurrentRow(int row) {
    int next = row >= 0 && row < rows_.size() ? row : -1;
    if (next == current_)
        return;
    if (isPending()) {
        dropPending(); // left half-made: it was never stored
        next = row >= 0 && row < rows_.size() ? row : -1;
    }
    current_ = next;
    Q_EMIT currentRowChanged(current_);
}

bool VirtualDirList::isPending() const {
    return hasCurrentRow() && rows_.at(current_).rowid < 0;
}

void VirtualDirList::dropPending() {
    if (rows_.isEmpty() || rows_.last().rowid >= 0)
        return;
    const int at = int(rows_.size()) - 1;
    beginRemoveRows({}, at, at);
    rows_.removeLast();
    endRemoveRows();
    if (current_ >= at) {
        current_ = at - 1;
        Q_EMIT currentRowChanged(current_);
    }
}

QString VirtualDirList::field(Column column) const {
    return hasCurrentRow() ? rows_.at(current_).values[column] : QString();
}

bool VirtualDirList::cmdNuova() {
    if (!rows_.isEmpty() && rows_.last().rowid < 0) {
        setCurrentRow(int(rows_.size()) - 1); // the one still waiting for its fields
        return true;
    }
    Row row; // stored by storePending() once complete
    const int at = int(rows_.size());
    beginInsertRows({}, at, at);
    rows_.append(row);
    endInsertRows();
    lastError_.clear();
    current_ = at;
    Q_EMIT currentRowChanged(current_);
    return true;
}

bool VirtualDirList::cmdElimina() {
    if (!hasCurrentRow())
        return false;
    if (isPending()) {
        dropPending();
        lastError_.clear();
        return true;
    }
    if (const auto error = access::VirtualDirService(db_).remove(owner_, rows_.at(current_).rowid))
        return fail(*error);
    const int at = current_;
    beginRemoveRows({}, at, at);
    rows_.removeAt(at);
    endRemoveRows();
    lastError_.clear();
    current_ = at < rows_.size() ? at : int(rows_.size()) - 1;
    Q_EMIT currentRowChanged(current_);
    return true;
}

std::optional<QString> VirtualDirList::fieldProblem(Column column, const QString& value) const {
    if (!hasCurrentRow())
        return std::nullopt;
    const Row& row = rows_.at(current_);
    const access::VirtualDirEntry entry{row.values[Name], row.values[Source],
                                        row.values[Destination]};
    return access::VirtualDirService(db_).fieldProblem(owner_, row.rowid, entry, fieldOf(column),
                                                       value);
}

bool VirtualDirList::storePending() {
    Row& row = rows_[current_];
    if (row.values[Name].trimmed().isEmpty() || row.values[Destination].isEmpty())
        return true; // still being filled in
    const access::VirtualDirEntry entry{row.values[Name], row.values[Source],
                                        row.values[Destination]};
    const auto added = access::VirtualDirService(db_).add(owner_, entry);
    if (const QString* problem = std::get_if<QString>(&added))
        return fail(*problem);
    row.rowid = std::get<qint64>(added);
    return true;
}

bool VirtualDirList::setField(Column column, const QString& value) {
    if (!hasCurrentRow() || column < Name || column > Destination)
        return false;
    Row& row = rows_[current_];
    if (row.values[column] == value)
        return true;
    if (const auto problem = fieldProblem(column, value))
        return fail(*problem);
    if (row.rowid < 0) {
        const QString before = row.values[column];
        row.values[column] = value;
        if (!storePending()) {
            row.values[column] = before;
            return false;
        }
        const QModelIndex changed = index(current_, column);
        Q_EMIT dataChanged(changed, changed);
        lastError_.clear();
        return true;
    }
    if (const auto error =
            access::VirtualDirService(db_).change(owner_, row.rowid, fieldOf(column), value))
        return fail(*error);
    row.values[column] = value;
    const QModelIndex changed = index(current_, column);
    Q_EMIT dataChanged(changed, changed);
    lastError_.clear();
    return true;
}

} // namespace kv::admin
