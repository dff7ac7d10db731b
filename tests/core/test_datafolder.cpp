#include "core/DataFolder.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace kv;

class TestDataFolder : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void overrideThenProgramFolderThenUserFolder() {
        QTemporaryDir program, user, given;
        QCOMPARE(chooseDataFolder(given.path(), program.path(), user.path()), given.path());
        QCOMPARE(chooseDataFolder({}, program.path(), user.path()), program.path());
        QCOMPARE(chooseDataFolder({}, "/nonexistent/kv", user.path()), user.path());
    }
    void readOnlyProgramFolderFallsBackToUserFolder() {
        if (::geteuid() == 0)
            QSKIP("root can write into any folder");
        QTemporaryDir program, user;
        QFile::setPermissions(program.path(), QFile::ReadOwner | QFile::ExeOwner);
        QCOMPARE(chooseDataFolder({}, program.path(), user.path() + "/sub"), user.path() + "/sub");
        QVERIFY(QFileInfo(user.path() + "/sub").isDir());
        QFile::setPermissions(program.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    void missingGivenFolderIsCreated() {
        QTemporaryDir base, program, user;
        const QString given = base.path() + "/a/b";
        QCOMPARE(chooseDataFolder(given, program.path(), user.path()), given);
        QCOMPARE(mode(given), 0700);
        QCOMPARE(mode(base.path() + "/a"), 0700);
    }
    // The per-user folder holds ftp.log (addresses, logins): made private
    // like a given one, whatever the umask; one already there keeps its mode.
    void userFolderIsMadePrivate() {
        QTemporaryDir base;
        const QString user = base.path() + "/share/Kestrova/Kestrova Vellim";
        const mode_t old = ::umask(0022);
        QCOMPARE(chooseDataFolder({}, "/nonexistent/kv", user), user);
        ::umask(old);
        QCOMPARE(mode(user), 0700);
        QVERIFY(::chmod(QFile::encodeName(user).constData(), 0750) == 0);
        QCOMPARE(chooseDataFolder({}, "/nonexistent/kv", user), user);
        QCOMPARE(mode(user), 0750);
    }
    void sharedParentGivesItsGroupAndAFileIsNoFolder() {
        QTemporaryDir base;
        QVERIFY(::chmod(QFile::encodeName(base.path()).constData(), 02770) == 0);
        QVERIFY(makeDataFolder(base.path() + "/kv"));
        QCOMPARE(mode(base.path() + "/kv"), 02770);
        QVERIFY(makeDataFolder(base.path() + "/kv")); // already there
        // A file in the way is no folder.
        QFile file(base.path() + "/file");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(!makeDataFolder(base.path() + "/file"));
        QVERIFY(!makeDataFolder(base.path() + "/file/kv"));
    }

    void serviceFolderNeedsTheGroup() {
        QTemporaryDir base;
        QVERIFY(serviceFolderProblem(base.path()).isEmpty());
        QFile accounts(base.path() + "/accounts.dat");
        QVERIFY(accounts.open(QIODevice::WriteOnly));
        accounts.close();
        QVERIFY(serviceFolderProblem(base.path()).isEmpty());
        QVERIFY(serviceFolderProblem(base.path() + "/manca").contains("non esiste"));
        if (::geteuid() == 0)
            QSKIP("root may use any folder");
        // A database this user may read but not write is no use for editing.
        QVERIFY(accounts.setPermissions(QFile::ReadOwner));
        QString problem = serviceFolderProblem(base.path());
        QVERIFY2(problem.contains("sudo adduser $USER kestrova"), qPrintable(problem));
        QVERIFY(accounts.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
        QVERIFY(QFile::setPermissions(base.path(), QFile::ReadOwner | QFile::ExeOwner));
        problem = serviceFolderProblem(base.path());
        QVERIFY(QFile::setPermissions(base.path(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY2(problem.contains("gruppo kestrova"), qPrintable(problem));
    }

private:
    static int mode(const QString& path) {
        struct stat info {};
        return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777)
                                                                       : -1;
    }
};

QTEST_GUILESS_MAIN(TestDataFolder)
#include "test_datafolder.moc"
