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
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

// Runs statements on `path` through a separate connection; returns the first error text.
inline QString runSql(const QString& path, const QStringList& statements) {
    static int counter = 0;
    const QString name = QStringLiteral("kv_test_raw_%1").arg(++counter);
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open()) {
            error = db.lastError().text();
        } else {
            QSqlQuery query(db);
            for (const QString& statement : statements) {
                if (!query.exec(statement)) {
                    error = statement + QStringLiteral(": ") + query.lastError().text();
                    break;
                }
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return error;
}

// Values of the first column of a query, read through a separate connection.
inline QVariantList column(const QString& path, const QString& sql) {
    static int counter = 0;
    const QString name = QStringLiteral("kv_test_read_%1").arg(++counter);
    QVariantList values;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(sql)) {
                while (query.next())
                    values.append(query.value(0));
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
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
