#pragma once
// accounts.dat: opening or creating the database file, and the five views of
// the main window over it (Data1 users, Data2 settings, Data3 anonymous,
// DataIP(0) IPok, DataIP(1) IPko).

#include "access/AccountSchema.h"
#include "access/DataView.h"
#include "access/OptionsTable.h"

#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <array>
#include <memory>
#include <optional>

namespace kv::access {

class AccountDatabase {
public:
    // Every connection to the file waits at most `busyWaitMs` for another
    // program's lock (SQLite's own default is 5 s). The program's default is
    // short, so a locked file never holds up the window or a login: the
    // statement fails as busy instead (see isBusyError); a command line that
    // may wait passes a longer one.
    static constexpr int kShortBusyWaitMs = 50;
    // `newValues` are what a file made by open() starts with (the program
    // passes its choice of default root; see core/NewDatabase.h).
    explicit AccountDatabase(const QString& filePath, int busyWaitMs = kShortBusyWaitMs,
                             NewDatabaseValues newValues = {});
    ~AccountDatabase();
    AccountDatabase(const AccountDatabase&) = delete;
    AccountDatabase& operator=(const AccountDatabase&) = delete;

    // Opens the file, creating it with the schema, one settings row and one
    // anonymous row when it does not exist (built in a temporary file of the
    // same folder and then renamed, never replacing a file). An existing file
    // that is not this database (not SQLite, damaged, a table or field missing,
    // unreadable, a folder) is left untouched and false is returned with
    // problem() set. An existing file is accepted as it is: rows are never
    // added to it. A file whose last save was interrupted (a journal left
    // beside it) is first restored to its last committed state, as SQLite does.
    // Views made earlier must be refreshed after a later open().
    //
    // A valid file that cannot be written (read-only file or folder) is opened
    // read-only: open() returns true, isReadOnly() is true, problem() says so,
    // logins work and every save fails with the view's Error().
    bool open();
    bool isOpen() const;
    bool isReadOnly() const { return readOnly_; }
    // True when the last open() made the file.
    bool createdFile() const { return created_; }
    const NewDatabaseValues& newValues() const { return newValues_; }
    // Italian text for the operator, naming the file, when open() failed (or
    // the file was opened read-only).
    QString problem() const { return problem_; }

    QString filePath() const { return filePath_; }
    // A valid connection even when open() failed (then it holds no tables, so
    // views over it have no rows). Its name is unique to this object.
    QSqlDatabase connection() const;

private:
    std::optional<QString> createFile();
    void useEmptyConnection();

    QString filePath_;
    QString connectionName_;
    QString problem_;
    bool open_ = false;
    bool readOnly_ = false;
    bool created_ = false;
    int busyWaitMs_;
    NewDatabaseValues newValues_;
};

// The main window's views, opened in the order Data1, Data2, Data3, DataIP(0),
// DataIP(1), and the options table with the panel's pending edits.
class AccountViews : public QObject {
    Q_OBJECT
public:
    explicit AccountViews(const AccountDatabase& db, QObject* parent = nullptr);

    DataView& Data1() { return *data1_; }
    DataView& Data2() { return *data2_; }
    DataView& Data3() { return *data3_; }
    DataView& DataIP(int index) { return *dataIP_.at(index); }
    OptionsTable& options() { return options_; }

    // Refreshes all five in order, then moves Data1, DataIP(0), DataIP(1) to
    // their last row and back to their first.
    void openAll();
    // Begins an edit of each view's current row and commits it, in order,
    // then the pending options; failures are ignored one by one.
    void commitAll();

private:
    std::unique_ptr<DataView> data1_, data2_, data3_;
    std::array<std::unique_ptr<DataView>, 2> dataIP_;
    OptionsTable options_;
};

} // namespace kv::access
