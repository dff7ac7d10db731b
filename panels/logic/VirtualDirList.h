#pragma once
// The virtual folders of one owner (an account's ID, or 0 for the anonymous
// account) as the editor shows them: a read-only list with a current row,
// each field judged as `kestrova vdir add` judges it (access/EntryChecks.h)
// and written to accounts.dat at once, adding and deleting rows. A new row is
// stored only once it has a name and a real folder; one left before is dropped.

#include <QAbstractTableModel>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <optional>

namespace kv::admin {

// The full virtual position of a folder: the position, one "/" and the name,
// both without surrounding blanks; an empty position gives the bare name.
QString AggiornaPath(const QString& virtualPath, const QString& name);

class VirtualDirList : public QAbstractTableModel {
    Q_OBJECT
public:
    // Fields of a row, in the order of the grid's columns.
    enum Column { Name = 0, Source = 1, Destination = 2 };

    VirtualDirList(const QSqlDatabase& db, int owner, QObject* parent = nullptr);

    int owner() const { return owner_; }

    // Reads the owner's rows in the table's own order; the first becomes current.
    // A new row not yet stored is dropped.
    bool Refresh();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // -1 when there is no current row.
    int currentRow() const { return current_; }
    bool hasCurrentRow() const { return current_ >= 0 && current_ < rows_.size(); }
    // Moving off a new row not yet stored drops it.
    void setCurrentRow(int row);
    // The current row is new and not stored yet.
    bool isPending() const;
    // Drops the new row not yet stored, if any.
    void dropPending();
    // A field of the current row ("" with none).
    QString field(Column column) const;

    // "Nuova": a new row of the owner, made current; stored once its name and
    // real folder are set (setField). While one waits, another press adds nothing.
    bool cmdNuova();
    // "Elimina": deletes the current row; the following row becomes current,
    // or the one before it when the last row was deleted.
    bool cmdElimina();
    // Why `value` is refused for `column` of the current row; nullopt when it
    // may be stored.
    std::optional<QString> fieldProblem(Column column, const QString& value) const;
    // Writes one field of the current row to the file at once, unless
    // fieldProblem() refuses it (then false, with the reason in lastError()).
    bool setField(Column column, const QString& value);

    QString lastError() const { return lastError_; }

Q_SIGNALS:
    void currentRowChanged(int row);

private:
    struct Row {
        qint64 rowid = -1;
        QString values[3];
    };
    bool fail(const QString& error);
    bool storePending();

    QSqlDatabase db_;
    int owner_;
    QList<Row> rows_;
    int current_ = -1;
    QString lastError_;
};

} // namespace kv::admin
