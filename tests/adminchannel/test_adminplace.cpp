// Where the administration socket goes and the lock that lets one server
// serve a data folder (how the command line finds the socket, the runtime
// folder's socket and its record, another user holding the lock's place:
// e2e_admin).
#include "adminchannel/AdminPlace.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
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

    // The folder holds the socket only when its path is one Qt listens on.
    void folderHoldsTheSocketWhenQtTakesItsPath_data() {
        QTest::addColumn<int>("socketPathBytes");
        QTest::addColumn<bool>("inFolder");
        QTest::newRow("100") << 100 << true;
        QTest::newRow("106") << 106 << true;
        QTest::newRow("107") << 107 << false;
        QTest::newRow("108") << 108 << false;
    }
    void folderHoldsTheSocketWhenQtTakesItsPath() {
        QFETCH(int, socketPathBytes);
        QFETCH(bool, inFolder);
        QTemporaryDir base, runtime;
        const qsizetype pad = socketPathBytes - QFile::encodeName(base.path()).size() -
                              qsizetype(sizeof("/kestrova.sock") - 1) - 1;
        QVERIFY(pad > 0);
        const QString data = base.path() + "/" + QString(pad, 'd');
        QVERIFY(QDir().mkpath(data));
        const QString inFolderPath = data + "/kestrova.sock";
        QCOMPARE(QFile::encodeName(inFolderPath).size(), socketPathBytes);
        const AdminPlace place = adminPlace(data, {runtime.path()});
        QCOMPARE(place.socketPath == inFolderPath, inFolder);
        QCOMPARE(place.recordPath.isEmpty(), inFolder);
        QLocalServer atFolder, atPlace;
        QCOMPARE(atFolder.listen(inFolderPath), inFolder);
        if (!inFolder)
            QVERIFY2(atPlace.listen(place.socketPath), qPrintable(atPlace.errorString()));
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

    // A folder others may write (/tmp) holds a private folder of ours, which
    // holds the socket and the lock; without the sticky bit it is not used.
    void sharedFolderHoldsAPrivateFolderOfOurOwn() {
        QTemporaryDir base, shared, open;
        const QString data = base.path() + "/" + QString(120, 'x');
        QVERIFY(QDir().mkpath(data));
        QCOMPARE(::chmod(QFile::encodeName(shared.path()).constData(), 01777), 0);
        QCOMPARE(::chmod(QFile::encodeName(open.path()).constData(), 0777), 0);
        const AdminPlace place = adminPlace(data, {open.path(), shared.path()});
        const QString own = shared.path() + "/kestrova-" + QString::number(::geteuid());
        QCOMPARE(place.privateFolder, own);
        QVERIFY(place.socketPath.startsWith(own + "/kestrova-"));
        QCOMPARE(QFileInfo(place.lockPath).path(), own);
        QCOMPARE(makePrivateFolder(own), QString());
        QCOMPARE(QFile::permissions(own), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
        QCOMPARE(makePrivateFolder(own), QString()); // found again as it was left
        FolderClaim claim;
        QCOMPARE(claim.claim(place.lockPath), FolderClaim::Outcome::Claimed);
        // A folder of ours kept as it is holds them directly.
        QTemporaryDir mine;
        const AdminPlace direct = adminPlace(data, {mine.path(), shared.path()});
        QVERIFY(direct.privateFolder.isEmpty());
        QVERIFY(direct.lockPath.startsWith(mine.path() + "/kestrova-"));
    }

    void privateFolderThatIsNotPrivateIsRefused() {
        QTemporaryDir base;
        const QString open = base.path() + "/open";
        QVERIFY(QDir().mkdir(open));
        QCOMPARE(::chmod(QFile::encodeName(open).constData(), 0755), 0);
        QCOMPARE(makePrivateFolder(open),
                 "La cartella " + open +
                     " è accessibile ad altri utenti (permessi 755, servono 700): il server "
                     "non la usa");
        const QString link = base.path() + "/link";
        QVERIFY(QFile::link(base.path(), link));
        QCOMPARE(makePrivateFolder(link),
                 link + " non è una cartella ma un collegamento o un file: il server non la usa");
        QVERIFY(makePrivateFolder("/nonexistent/kv").startsWith("Impossibile creare la cartella"));
    }

    // The lock is never taken through a link, nor is anything but a file.
    void claimFollowsNoLink() {
        QTemporaryDir dir;
        const QString target = dir.path() + "/target";
        QVERIFY(QFile(target).open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(target, dir.path() + "/kestrova.lock"));
        FolderClaim claim;
        QString error;
        QCOMPARE(claim.claim(dir.path() + "/kestrova.lock", &error), FolderClaim::Outcome::Failed);
        QVERIFY(!error.isEmpty());
        QCOMPARE(::mkfifo(QFile::encodeName(dir.path() + "/fifo.lock").constData(), 0600), 0);
        QCOMPARE(claim.claim(dir.path() + "/fifo.lock", &error), FolderClaim::Outcome::Failed);
        QCOMPARE(error, QString("non è un file normale"));
        QVERIFY(!claim.held());
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
