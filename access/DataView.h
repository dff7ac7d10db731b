#pragma once
// A record cursor over one table (or one read-only query) of accounts.dat:
// a current row, moves, before-first/after-last tests, field reads where null
// reads as empty text, pending edits that reach the file only when committed,
// clones that see committed rows only, parameterised lookups, and an error
// notification carrying the database's error number.
//
// Table views are built on QSqlTableModel (manual submit) so panels can bind
// widgets with QDataWidgetMapper / QTableView to model(). The cursor part is
// in DataView.cpp, editing in DataViewEdits.cpp, errors in DataViewErrors.cpp.

#include <QObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>

class QSqlTableModel;
class QSqlQueryModel;

namespace kv::access {

// Error number a duplicated login (UNIQUE constraint, SQLite's extended code)
// is reported with.
inline constexpr int kDuplicateKeyError = 2067;

// True for the error numbers of a file another program holds locked (SQLite's
// busy and locked codes). Such a failure comes after the connection's short
// busy wait; a failed save stays pending on the view and can be saved again.
bool isBusyError(int errorNumber);

class DataView : public QObject {
    Q_OBJECT
public:
    // `source` is a table name, or a query text beginning with SELECT (read-only).
    // The rows are read by Refresh(), not by the constructor.
    DataView(const QSqlDatabase& db, const QString& source, QObject* parent = nullptr);
    // A read-only query whose '?' placeholders are bound to `params`.
    DataView(const QSqlDatabase& db, const QString& source, const QVariantList& params,
             QObject* parent = nullptr);
    ~DataView() override;

    const QString& source() const { return source_; }
    bool isTable() const;

    // (Re)reads the rows from the file; the current row becomes the first one.
    bool Refresh();

    // Model for binding widgets (nullptr for a query view).
    QSqlTableModel* tableModel() const;
    QSqlQueryModel* model() const;

    int RecordCount() const;
    bool BOF() const;   // before the first row (also true when there are none)
    bool AtEOF() const; // past the last row (also true when there are none)
    // A row is current: not BOF, not EOF, and not the gap a Delete() left.
    bool hasCurrentRow() const;
    // -1 before the first row, RecordCount() past the last; after Delete() the
    // position of the row that followed the deleted one.
    int currentRow() const;
    void setCurrentRow(int row);
    // The SQLite rowid of model row `row`; -1 for a new row and query views.
    qint64 rowidAt(int row) const;

    // Moves commit a pending edit first, as the cursor leaves its row.
    void MoveFirst();
    void MoveLast();
    void MoveNext();
    void MovePrevious();

    // Field of the current row; null (or no current row) reads as empty text.
    QString Field(const QString& name) const;
    QVariant value(const QString& name) const;
    // True only when the field holds true; null and unreadable count as false.
    bool isTrue(const QString& name) const;

    // Editing (table views only). Edits stay pending on the view until
    // Update() or a move off the row. A failed Update() emits Error() and keeps
    // the row pending and current, so it can be corrected and saved again.
    // After Update() of a new row the row current before AddNew() is current
    // again; MoveToLastModified() reaches the new one.
    bool Edit();
    bool AddNew();
    bool setField(const QString& name, const QVariant& value);
    bool Update();
    void CancelUpdate();
    bool isDirty() const;
    // A new row that `complete` finds half-made is never saved: whatever would
    // save it (Update(), a move off it) drops it instead, as CancelUpdate()
    // does. Unset: every new row is saved.
    void setNewRowCheck(std::function<bool(const DataView&)> complete);
    // The current row is the one AddNew() made, not yet saved.
    bool isNewRow() const;
    // Drops the current new row when it is half-made; true when it was dropped.
    bool dropIncompleteNewRow();
    // Deletes the current row at once. The cursor then sits in the deleted
    // row's place: MoveNext() reaches the row that followed it, MovePrevious()
    // the one before it.
    bool Delete();
    void MoveToLastModified(); // the row last inserted or updated

    // A second cursor over the same source with its own current row, reading
    // committed rows only.
    std::unique_ptr<DataView> Clone(QObject* parent = nullptr) const;

    // Moves to the first row where `where` holds; `where` uses '?' placeholders
    // bound to `params`, so values are compared whole, never spliced into SQL.
    // Returns false (and NoMatch() is true) when no row matches or the lookup fails.
    bool FindFirst(const QString& where, const QVariantList& params);
    bool NoMatch() const { return noMatch_; }

    // Runs a statement that changes rows, on the same database, with '?'
    // placeholders bound to `params`. Failures set lastError*() only.
    bool Execute(const QString& sql, const QVariantList& params = {});

    int lastErrorNumber() const { return lastErrorNumber_; }
    QString lastErrorText() const { return lastErrorText_; }

Q_SIGNALS:
    // A failed save or delete: the database's native error number (SQLite
    // extended code: 2067 for a duplicated unique value) and its text. A save
    // that fails inside a handler of this signal is not signalled again.
    void Error(int errorNumber, const QString& text);
    // The current row changed (including to no row).
    void Reposition();

private:
    bool commitBeforeMove();
    void moveTo(int row);
    void reportError(const QSqlError& error, bool notify);
    void clearError();

    struct Impl;
    std::unique_ptr<Impl> d;
    QString source_;
    std::function<bool(const DataView&)> newRowComplete_;
    bool noMatch_ = false;
    int lastErrorNumber_ = 0;
    QString lastErrorText_;
};

} // namespace kv::access
