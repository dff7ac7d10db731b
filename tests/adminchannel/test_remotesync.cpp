// The window's copy of a remote server's data: a snapshot with the changes
// sent made in it, and a round trip through a running server's channel:
// the copy filled, an account added to it taken by the server, a change to a
// row someone else changed meanwhile refused with the server's reason and
// the copy filled again with what the server holds.
#include "adminchannel/RemoteSync.h"

#include "access/AccountService.h"
#include "adminchannel/AdminChannel.h"
#include "adminchannel/AdminConnection.h"
#include "tests/adminchannel/AdminCoreFixture.h"

#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

using namespace kv;

namespace {

QJsonObject json(const char* text) {
    return QJsonDocument::fromJson(QByteArray(text).replace('\'', '"')).object();
}

QStringList logins(const QSqlDatabase& db) {
    QStringList list;
    for (const access::AccountRow& row : access::AccountService(db).accounts())
        list << row.login;
    return list;
}

} // namespace

class TestRemoteSync : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void snapshotWithChanges_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("rows");
        QTest::newRow("changed, other columns kept")
            << "{'table':'users','rowid':2,'before':{'login':'b'},'after':{'login':'z'}}"
            << "[[1,'a','x'],[2,'z','y']]";
        QTest::newRow("added") << "{'table':'users','rowid':5,'before':null,'after':{'login':'"
                                  "c','pw':'q'}}"
                               << "[[1,'a','x'],[2,'b','y'],[5,'c','q']]";
        QTest::newRow("deleted")
            << "{'table':'users','rowid':1,'before':{'login':'a'},'after':null}"
            << "[[2,'b','y']]";
    }
    void snapshotWithChanges() {
        QFETCH(QString, change);
        QFETCH(QString, rows);
        const QJsonObject base =
            json("{'users':{'columns':['login','pw'],'rows':[[1,'a','x'],[2,'b','y']]},"
                 "'IPok':{'columns':['ip'],'rows':[[1,'10.0.0.1']]}}");
        const QJsonObject made =
            kv::snapshotWithChanges(base, QJsonArray{json(change.toUtf8().constData())});
        const QJsonObject expected = json(QByteArray("{'rows':" + rows.toUtf8() + "}").constData());
        QCOMPARE(made["users"]["rows"].toArray(), expected["rows"].toArray());
        QCOMPARE(made["IPok"], base["IPok"]);
    }

    void roundTripThroughTheChannel() {
        testing::AdminCoreFixture server;
        QVERIFY(server.start());
        QSqlDatabase served = server.core->database().connection();
        QVERIFY(!access::AccountService(served).addAccount("anna", "pw", {}));
        AdminChannel channel(*server.core);
        QCOMPARE(channel.open(), AdminChannel::OpenResult::Listening);
        AdminConnection connection;
        QSignalSpy connected(&connection, &AdminConnection::connected);
        connection.connectTo(channel.socketPath());
        QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 1, 5000);

        QTemporaryDir dir;
        access::AccountDatabase copy(dir.filePath("accounts.dat"));
        QVERIFY(copy.open());
        RemoteSync sync(connection, copy.connection());
        QSignalSpy reloaded(&sync, &RemoteSync::reloaded);
        QSignalSpy applied(&sync, &RemoteSync::applied);
        QSignalSpy refused(&sync, &RemoteSync::refused);
        sync.fetch();
        QTRY_COMPARE_WITH_TIMEOUT(reloaded.size(), 1, 5000);
        QCOMPARE(logins(copy.connection()), QStringList{"anna"});
        QVERIFY(!sync.hasUnsentChanges());

        // An account added to the copy, with the code a local file gets.
        access::AccountFields rb;
        rb.rights = files::Rights::fromLetters(u"rb");
        QVERIFY(!access::AccountService(copy.connection()).addAccount("bruno", "pw", rb));
        QVERIFY(sync.hasUnsentChanges());
        sync.sendChanges();
        QTRY_COMPARE_WITH_TIMEOUT(applied.size(), 1, 5000);
        QCOMPARE(logins(served), (QStringList{"anna", "bruno"}));
        QVERIFY(!sync.hasUnsentChanges());

        // Someone else disables anna; this copy still had her enabled.
        access::AccountFields off;
        off.enabled = false;
        QVERIFY(!access::AccountService(served).changeAccount("anna", {}, off));
        QVERIFY(!access::AccountService(copy.connection()).changeAccount("anna", "anita", {}));
        sync.sendChanges();
        QTRY_COMPARE_WITH_TIMEOUT(refused.size(), 1, 5000);
        QVERIFY(!refused[0][0].toString().isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(reloaded.size(), 2, 5000);
        QCOMPARE(logins(copy.connection()), (QStringList{"anna", "bruno"}));
        QCOMPARE(logins(served), (QStringList{"anna", "bruno"}));
        QVERIFY(!sync.hasUnsentChanges());
    }
};

QTEST_GUILESS_MAIN(TestRemoteSync)
#include "test_remotesync.moc"
