#include "admin/logic/VirtualDirList.h"

#include <QSqlError>
#include <QSqlQuery>

namespace kv::admin {

namespace {

const char* const kFieldNames[] = {"name", "source", "destination"};

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
    rows_.clear();
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    bool ok = query.prepare(QStringLiteral("SELECT rowid, name, source, destination FROM "
                                           "virtualdirs WHERE user=? ORDER BY rowid"));
    if (ok) {
        query.addBindValue(owner_);
        ok = query.exec();
    }
    while (ok && query.next()) {
        Row row;
        row.rowid = query.value(0).toLongLong();
        for (int i = 0; i < 3; ++i)
            row.values[i] = query.value(i + 1).toString(); // null reads as empty text
        rows_.append(row);
    }
    current_ = rows_.isEmpty() ? -1 : 0;
    endResetModel();
    Q_EMIT currentRowChanged(current_);
    if (!ok)
        return fail(query.lastError().text());
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
    const int next = row >= 0 && row < rows_.size() ? row : -1;
    if (next == current_)
        return;
    current_ = next;
    Q_EMIT currentRowChanged(current_);
}

QString VirtualDirList::field(Column column) const {
    return hasCurrentRow() ? rows_.at(current_).values[column] : QString();
}

bool VirtualDirList::cmdNuova() {
    QSqlQuery query(db_);
    if (!query.prepare(QStringLiteral(
            "INSERT INTO virtualdirs (name, source, destination, user) VALUES ('', '', '', ?)")))
        return fail(query.lastError().text());
    query.addBindValue(owner_);
    if (!query.exec())
        return fail(query.lastError().text());
    Row row;
    row.rowid = query.lastInsertId().toLongLong();
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
    QSqlQuery query(db_);
    if (!query.prepare(QStringLiteral("DELETE FROM virtualdirs WHERE rowid=? AND user=?")))
        return fail(query.lastError().text());
    query.addBindValue(rows_.at(current_).rowid);
    query.addBindValue(owner_);
    if (!query.exec())
        return fail(query.lastError().text());
    const int at = current_;
    beginRemoveRows({}, at, at);
    rows_.removeAt(at);
    endRemoveRows();
    lastError_.clear();
    current_ = at < rows_.size() ? at : int(rows_.size()) - 1;
    Q_EMIT currentRowChanged(current_);
    return true;
}

bool VirtualDirList::setField(Column column, const QString& value) {
    if (!hasCurrentRow() || column < Name || column > Destination)
        return false;
    Row& row = rows_[current_];
    if (row.values[column] == value)
        return true;
    QSqlQuery query(db_);
    const QString sql = QStringLiteral("UPDATE virtualdirs SET %1=? WHERE rowid=? AND user=?")
                            .arg(QLatin1String(kFieldNames[column]));
    if (!query.prepare(sql))
        return fail(query.lastError().text());
    query.addBindValue(value);
    query.addBindValue(row.rowid);
    query.addBindValue(owner_);
    if (!query.exec())
        return fail(query.lastError().text());
    row.values[column] = value;
    const QModelIndex changed = index(current_, column);
    Q_EMIT dataChanged(changed, changed);
    lastError_.clear();
    return true;
}

} // namespace kv::admin
