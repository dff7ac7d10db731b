#pragma once
// Helpers for the database tests: the accounts.dat schema (one golden file,
// accounts_schema.sql beside this header), reading and writing a file through
// a raw connection of its own (as another program would), holding another
// program's lock on it, and hashing files.

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <unistd.h>

namespace kv::testing {

inline QByteArray fileHash(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly)
               ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
               : QByteArray();
}

// Runs `statements` on `path` through a connection of its own. Returns the
// first error text ("" when all ran); `values` collects the first column of
// every row the statements return.
inline QString rawSql(const QString& path, const QStringList& statements, bool readOnly,
                      QVariantList* values = nullptr) {
    static int counter = 0;
    const QString name = QStringLiteral("kv_test_raw_%1").arg(++counter);
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        if (readOnly)
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        db.setDatabaseName(path);
        if (!db.open())
            error = db.lastError().text();
        QSqlQuery query(db);
        for (const QString& statement : statements) {
            if (!error.isEmpty())
                break;
            if (!query.exec(statement))
                error = statement + QStringLiteral(": ") + query.lastError().text();
            while (values && query.next())
                values->append(query.value(0));
        }
    }
    QSqlDatabase::removeDatabase(name);
    return error;
}

inline QString runSql(const QString& path, const QStringList& statements) {
    return rawSql(path, statements, false);
}

// Values of the first column of a query, read through a separate connection.
inline QVariantList column(const QString& path, const QString& sql) {
    QVariantList values;
    rawSql(path, {sql}, true, &values);
    return values;
}

inline QStringList texts(const QVariantList& values) {
    QStringList out;
    for (const QVariant& v : values)
        out.append(v.isNull() ? QStringLiteral("<null>") : v.toString());
    return out;
}

// The CREATE TABLE and CREATE TRIGGER statements of a new accounts.dat, in
// creation order, from the golden schema file of the source tree (ctest sets
// KV_SOURCE_DIR).
inline QStringList accountSchema() {
    QFile file(qEnvironmentVariable("KV_SOURCE_DIR") +
               QStringLiteral("/tests/support/accounts_schema.sql"));
    QStringList statements;
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n'))
            if (line.startsWith(QLatin1String("CREATE")))
                statements.append(line);
    }
    return statements;
}

// Without `table`, and without the triggers on it or named after it ("actions_...").
inline QStringList schemaWithout(const QString& table) {
    QStringList out;
    for (const QString& s : accountSchema()) {
        const bool trigger = s.startsWith(QStringLiteral("CREATE TRIGGER "));
        if (!s.startsWith(QStringLiteral("CREATE TABLE %1 ").arg(table)) &&
            !(trigger && (s.startsWith(QStringLiteral("CREATE TRIGGER %1_").arg(table)) ||
                          s.contains(QStringLiteral(" ON %1 ").arg(table)))))
            out.append(s);
    }
    return out;
}

// Another program holding a lock on the file (as `sqlite3 accounts.dat` with
// BEGIN IMMEDIATE or BEGIN EXCLUSIVE open) until destroyed.
class LockHolder {
public:
    LockHolder(const QString& path, const QString& begin) : name_(QStringLiteral("kv_test_lock")) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
        db.setDatabaseName(path);
        locked_ = db.open() && QSqlQuery(db).exec(begin);
    }
    ~LockHolder() {
        {
            QSqlDatabase db = QSqlDatabase::database(name_, false);
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            db.close();
        }
        QSqlDatabase::removeDatabase(name_);
    }
    bool locked() const { return locked_; }

private:
    QString name_;
    bool locked_ = false;
};

// File permissions do not stop the superuser.
inline bool permissionsApply() {
    return ::geteuid() != 0;
}

} // namespace kv::testing
