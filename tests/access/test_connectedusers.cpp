#include "access/ConnectedUsers.h"
#include "tests/support/FakeConnection.h"

#include <QTest>

using namespace kv::access;
using kv::testing::FakeConnection;

class TestConnectedUsers : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void startsWithTheEmptyRecordZero() {
        ConnectedUsers users;
        QCOMPARE(users.HighestIndex(), 0);
        QVERIFY(users.record(0)->Permissions().isEmpty());
        QVERIFY(users.record(0)->Address().isEmpty());
        FakeConnection never;
        for (const char* word : {"read", "write", "delete", "browse", "manage"})
            QVERIFY(!HasPermission(users, never, QLatin1String(word)));
    }

    void indexesStayWithTheirRecordsForever() {
        ConnectedUsers users;
        FakeConnection c[3];
        for (int i = 0; i < 3; ++i) {
            const qint32 n = users.Append();
            QCOMPARE(n, i + 1);
            users.record(n)->setPermissions(i == 2 ? QStringLiteral("W") : QStringLiteral("R"));
            c[i].setTag(n);
        }
        // The second connection closing changes nothing in the table.
        QVERIFY(HasPermission(users, c[2], QStringLiteral("write")));
        QVERIFY(!HasPermission(users, c[2], QStringLiteral("read")));
        QCOMPARE(ConnectionIndex(c[2]), 3);
        QVERIFY(!users.record(4));
        QVERIFY(users.AddressOf(4).isEmpty());
    }

    void permissionWords_data() {
        QTest::addColumn<QString>("letters");
        QTest::addColumn<QString>("word");
        QTest::addColumn<bool>("granted");
        const auto row = [](const char* name, const QString& letters, const QString& word,
                            bool granted) { QTest::newRow(name) << letters << word << granted; };
        row("Read", "R", "Read", true);
        row("read", "R", "read", true);
        row("r", "R", "r", true);
        row("RB read", "RB", "read", true);
        row("RB browse", "RB", "browse", true);
        row("RB write", "RB", "write", false);
        row("RB delete", "RB", "delete", false);
        row("RB manage", "RB", "manage", false);
        row("lower-case letters are not rights", "rb", "read", false);
        row("empty word", "RWDBM", "", false);
        row("no rights", "", "read", false);
    }
    void permissionWords() {
        QFETCH(QString, letters);
        QFETCH(QString, word);
        ConnectedUsers users;
        const qint32 n = users.Append();
        users.record(n)->setPermissions(letters);
        FakeConnection c;
        c.setTag(n);
        QTEST(HasPermission(users, c, word), "granted");
    }

    void tagReadAsLeadingNumber_data() {
        QTest::addColumn<QVariant>("tag");
        QTest::addColumn<int>("index");
        QTest::newRow("never set") << QVariant() << 0;
        QTest::newRow("number") << QVariant(3) << 3;
        QTest::newRow("text with trailing letters") << QVariant(QStringLiteral("7abc")) << 7;
        QTest::newRow("leading spaces") << QVariant(QStringLiteral("  12")) << 12;
        QTest::newRow("no number") << QVariant(QStringLiteral("abc")) << 0;
        QTest::newRow("negative") << QVariant(-5) << -5;
        QTest::newRow("beyond 32 bits") << QVariant(QStringLiteral("99999999999")) << 0;
    }
    void tagReadAsLeadingNumber() {
        QFETCH(QVariant, tag);
        FakeConnection c;
        if (tag.isValid())
            c.setTag(tag);
        QTEST(ConnectionIndex(c), "index");
        // Indexes outside the table grant nothing.
        ConnectedUsers users;
        users.record(0)->setPermissions(QStringLiteral("RWDBM"));
        QCOMPARE(HasPermission(users, c, QStringLiteral("read")), ConnectionIndex(c) == 0);
    }

    void fieldsAreCutToTheirLength() {
        ConnectedUsers users;
        const qint32 n = users.Append();
        users.record(n)->setAddress(QString(150, u'a'));
        users.record(n)->setPermissions(QStringLiteral("RWDBMRWDBMRW"));
        QCOMPARE(users.record(n)->Address(), QString(100, u'a'));
        QCOMPARE(users.record(n)->Permissions(), QStringLiteral("RWDBMRWDBM"));
        users.record(n)->setAddress(QStringLiteral("10.0") + QChar(u'\0') + QStringLiteral(".0.1") +
                                    QChar(u'\0'));
        QCOMPARE(users.AddressOf(n), QStringLiteral("10.0.0.1"));
    }

    void keyNamesHostUserAndPassword() {
        FakeConnection c(QStringLiteral("bob"), QStringLiteral("x_y"), QStringLiteral("10.1.2.3"));
        QCOMPARE(ConnectionKey(c), QStringLiteral("k10.1.2.3_bob_x_y"));
    }
};

QTEST_GUILESS_MAIN(TestConnectedUsers)
#include "test_connectedusers.moc"
