#pragma once
// Helpers for the database tests: reading and writing a file through a raw
// connection of its own (as another program would), and hashing files.

#include <QCryptographicHash>
#include <QFile>
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

// File permissions do not stop the superuser.
inline bool permissionsApply() {
    return ::geteuid() != 0;
}

} // namespace kv::testing
