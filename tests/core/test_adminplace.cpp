// Where the administration socket goes and the lock that lets one server
// serve a data folder (how the command line finds the socket, the runtime
// folder's socket and its record: e2e_admin).
#include "core/AdminPlace.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

using namespace kv;

class TestAdminPlace : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void shortFolderHoldsItsSocketAndLock() {
        QTemporaryDir data;
        const AdminPlace place = adminPlace(data.path(), {"/nonexistent"});
        QCOMPARE(place.socketPath, data.path() + "/kestrova.sock");
        QCOMPARE(place.lockPath, data.path() + "/kestrova.lock");
        QVERIFY(place.recordPath.isEmpty());
    }

    void longOrUnwritableFolderUsesARuntimeFolder() {
        QTemporaryDir base, runtime;
        const QString data = base.path() + "/" + QString(120, 'x');
        QVERIFY(QDir().mkpath(data));
        const AdminPlace place = adminPlace(data, {"/nonexistent", runtime.path()});
        // Another folder, another socket; the same folder, the same one.
        const QString other = base.path() + "/" + QString(121, 'y');
        QVERIFY(QDir().mkpath(other));
        QVERIFY(adminPlace(other, {runtime.path()}).socketPath != place.socketPath);
        QCOMPARE(adminPlace(data, {runtime.path()}).socketPath, place.socketPath);
        // So does a folder where no socket can be made, its lock too.
        const AdminPlace unwritable = adminPlace("/nonexistent/kv", {runtime.path()});
        QVERIFY(unwritable.socketPath.startsWith(runtime.path()));
        QVERIFY(unwritable.lockPath.startsWith(runtime.path()));
    }

    // Released with its owner: test_adminchannel.
    void oneClaimPerFolder() {
        QTemporaryDir data;
        const QString lock = data.path() + "/kestrova.lock";
        FolderClaim first;
        QCOMPARE(first.claim(lock), FolderClaim::Outcome::Claimed);
        QVERIFY(first.held());
        FolderClaim second;
        QCOMPARE(second.claim(lock), FolderClaim::Outcome::Taken);
        QVERIFY(!second.held());
        QString error;
        FolderClaim nowhere;
        QCOMPARE(nowhere.claim("/nonexistent/kv/kestrova.lock", &error),
                 FolderClaim::Outcome::Failed);
        QVERIFY(!error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestAdminPlace)
#include "test_adminplace.moc"
