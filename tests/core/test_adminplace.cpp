// Where the administration socket goes, how the command line finds it, and
// the lock that lets one server serve a data folder.
#include "core/AdminPlace.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

using namespace kv;

class TestAdminPlace : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void shortFolderHoldsItsSocketAndTheCommandLineFindsIt() {
        QTemporaryDir data;
        const AdminPlace place = adminPlace(data.path(), {"/nonexistent"});
        QCOMPARE(place.socketPath, data.path() + "/kestrova.sock");
        QCOMPARE(place.lockPath, data.path() + "/kestrova.lock");
        QVERIFY(place.recordPath.isEmpty());
        // The command line finds the socket where a record says it is.
        QCOMPARE(adminSocketToConnect(data.path()), place.socketPath);
        QFile record(data.path() + "/kestrova.sock.path");
        QVERIFY(record.open(QIODevice::WriteOnly));
        record.write("/run/elsewhere.sock\n");
        record.close();
        QCOMPARE(adminSocketToConnect(data.path()), QString("/run/elsewhere.sock"));
    }

    void longOrUnwritableFolderUsesARuntimeFolder() {
        QTemporaryDir base, runtime;
        const QString data = base.path() + "/" + QString(120, 'x');
        QVERIFY(QDir().mkpath(data));
        const AdminPlace place = adminPlace(data, {"/nonexistent", runtime.path()});
        QVERIFY2(place.socketPath.startsWith(runtime.path() + "/kestrova-"),
                 qPrintable(place.socketPath));
        QVERIFY(QFile::encodeName(place.socketPath).size() <= kMaxSocketPathBytes);
        QCOMPARE(place.recordPath, data + "/kestrova.sock.path");
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

    void oneClaimPerFolder() {
        QTemporaryDir data;
        const QString lock = data.path() + "/kestrova.lock";
        {
            FolderClaim first;
            QCOMPARE(first.claim(lock), FolderClaim::Outcome::Claimed);
            QVERIFY(first.held());
            FolderClaim second;
            QCOMPARE(second.claim(lock), FolderClaim::Outcome::Taken);
            QVERIFY(!second.held());
        }
        FolderClaim again; // the first one's end released it
        QCOMPARE(again.claim(lock), FolderClaim::Outcome::Claimed);
        QString error;
        FolderClaim nowhere;
        QCOMPARE(nowhere.claim("/nonexistent/kv/kestrova.lock", &error),
                 FolderClaim::Outcome::Failed);
        QVERIFY(!error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestAdminPlace)
#include "test_adminplace.moc"
