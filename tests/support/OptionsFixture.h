#pragma once
// What every test of an options group's logic starts from: a fresh
// accounts.dat (a new database, with its option rows) after `rows` ran on it,
// and its views open.

#include "access/AccountDatabase.h"
#include "tests/support/DbTestSupport.h"

#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace kv::testing {

struct OptionsFixture {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("accounts.dat"));
    access::AccountDatabase db{path};
    std::unique_ptr<access::AccountViews> views;

    explicit OptionsFixture(const QStringList& rows = {}) {
        QVERIFY(db.open());
        QCOMPARE(runSql(path, rows), QString());
        views = std::make_unique<access::AccountViews>(db);
    }
    // name=value of the stored rows that `where` selects, by name.
    QStringList storedWhere(const QString& where) const {
        return texts(column(path, QStringLiteral("SELECT name || '=' || ifnull(value, '') FROM "
                                                 "options WHERE %1 ORDER BY name")
                                      .arg(where)));
    }
};

} // namespace kv::testing
