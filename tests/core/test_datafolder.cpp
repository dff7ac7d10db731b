#include "core/DataFolder.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
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
};

QTEST_GUILESS_MAIN(TestDataFolder)
#include "test_datafolder.moc"
