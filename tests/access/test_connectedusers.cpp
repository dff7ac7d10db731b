// ConnectedUsers: the record each login leaves, found through the Tag, and
// the permission word tests made against it.

#include "access/ConnectedUsers.h"
#include "tests/support/FakeConnection.h"

#include <QTest>

using namespace kv::access;
using kv::testing::FakeConnection;

class TestConnectedUsers : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void permissionWords_data() {
        QTest::addColumn<QVariant>("tag"); // the connection's Tag; record 1 holds the letters
        QTest::addColumn<QString>("letters");
        QTest::addColumn<QString>("word");
        QTest::addColumn<bool>("granted");
        // clang-format off
        const struct { const char* name; QVariant tag; const char *letters, *word; bool granted; } rows[] = {
            {"Read", 1, "R", "Read", true},                  {"read", 1, "R", "read", true},
            {"r", 1, "R", "r", true},                         {"lower-case letters", 1, "rb", "read", false},
            {"empty word", 1, "RWDBM", "", false},            {"no rights", 1, "", "read", false},
            {"tag never set: record 0", QVariant(), "RWDBM", "read", false},
            {"tag as text with trailing letters", "1abc", "R", "read", true},
            {"tag with leading spaces", "  1", "R", "read", true},
            {"tag without a number", "abc", "R", "read", false},
            {"negative tag", -1, "R", "read", false},         {"tag past the table", 2, "R", "read", false},
            {"tag beyond 32 bits", "4294967297", "R", "read", false},
        };
        // clang-format on
        for (const auto& r : rows)
            QTest::newRow(r.name) << r.tag << QString(r.letters) << QString(r.word) << r.granted;
    }
    void permissionWords() {
        QFETCH(QVariant, tag);
        QFETCH(QString, letters);
        ConnectedUsers users;
        QCOMPARE(users.Append(), 1);
        users.record(1)->setPermissions(letters);
        FakeConnection c;
        if (tag.isValid())
            c.setTag(tag);
        QFETCH(QString, word);
        QTEST(HasPermission(users, c, word), "granted");
    }

    void fieldsAreCutToTheirLength() {
        ConnectedUsers users;
        const qint32 n = users.Append();
        users.record(n)->setAddress(QString(150, u'a'));
        users.record(n)->setPermissions(QStringLiteral("RWDBMRWDBMRW"));
        QCOMPARE(users.record(n)->Address(), QString(100, u'a'));
        QCOMPARE(users.record(n)->Permissions(), QStringLiteral("RWDBMRWDBM"));
        users.record(n)->setAddress(QStringLiteral("10.0") + QChar(u'\0') + QStringLiteral(".0.1"));
        QCOMPARE(users.AddressOf(n), QStringLiteral("10.0.0.1"));
        QCOMPARE(users.AddressOf(n + 1), QString());
    }
};

QTEST_GUILESS_MAIN(TestConnectedUsers)
#include "test_connectedusers.moc"
