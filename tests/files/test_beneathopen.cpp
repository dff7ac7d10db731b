#include "files/BeneathOpen.h"
#include "tests/support/DataRow.h"
#include "tests/support/TempTree.h"

#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

using namespace kv::files;

// Opening beneath a folder: what the kernel lets through and what it
// refuses, whatever the path or the links on its way say.
class TestBeneathOpen : public QObject {
    Q_OBJECT
    TempTree tree_;
    AreaFd area_;

    static QByteArray contents(int fd) {
        char buffer[64];
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, 0);
        return n < 0 ? QByteArray() : QByteArray(buffer, int(n));
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(beneathOpeningWorks());
        QVERIFY(tree_.make({"area/sub/in.txt", "outside/secret.txt"}));
        const QString t = tree_.path();
        QVERIFY(tree_.make({"area/rel -> sub/in.txt", "area/up -> ../outside/secret.txt",
                            "area/abs -> " + t + "/area/sub/in.txt", "area/sub/back -> ../rel",
                            "area/dangling -> sub/new.txt", "area/loop -> loop",
                            "area/magic -> /proc/self/cwd"}));
        area_ = openArea(QFile::encodeName(tree_.at("area")), false);
        QVERIFY(area_ && area_->valid());
    }

    void opening_data() {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<bool>("follow");
        QTest::addColumn<int>("error"); // 0: opens (and reads "12345")
        addRow("plain file", QByteArray("sub/in.txt"), false, 0);
        addRow("dot parts", QByteArray("./sub/../sub/in.txt"), false, 0);
        addRow("up and out", QByteArray("../outside/secret.txt"), true, EXDEV);
        addRow("absolute path", tree_.at("area/sub/in.txt").toUtf8(), true, EXDEV);
        addRow("relative link followed", QByteArray("rel"), true, 0);
        addRow("relative link not followed", QByteArray("rel"), false, ELOOP);
        addRow("chain of relative links", QByteArray("sub/back"), true, 0);
        addRow("link leading out", QByteArray("up"), true, EXDEV);
        addRow("absolute link, even inside", QByteArray("abs"), true, EXDEV);
        addRow("magic link", QByteArray("magic/area/sub/in.txt"), true, EXDEV);
        addRow("looping link", QByteArray("loop"), true, ELOOP);
        addRow("dangling link", QByteArray("dangling"), true, ENOENT);
    }
    void opening() {
        QFETCH(QByteArray, path);
        QFETCH(bool, follow);
        QFETCH(int, error);
        const UniqueFd fd = openBeneath(area_->get(), path, O_RDONLY, follow);
        QCOMPARE(fd.valid() ? 0 : errno, error);
        if (fd.valid())
            QCOMPARE(contents(fd.get()), QByteArray("12345"));
    }

    // Creating through a link is confined like reading: nothing appears or
    // changes outside.
    void creatingThroughLinks() {
        const UniqueFd out =
            openBeneath(area_->get(), "up", O_WRONLY | O_TRUNC | O_CREAT, true, 0600);
        QVERIFY(!out.valid());
        QCOMPARE(QFileInfo(tree_.at("outside/secret.txt")).size(), 5);
        const UniqueFd noFollow =
            openBeneath(area_->get(), "dangling", O_WRONLY | O_CREAT, false, 0600);
        QVERIFY(!noFollow.valid());
        QVERIFY(!QFileInfo::exists(tree_.at("area/sub/new.txt")));
        const UniqueFd made =
            openBeneath(area_->get(), "sub/made.txt", O_WRONLY | O_CREAT, false, 0600);
        QVERIFY(made.valid());
        QVERIFY(QFileInfo::exists(tree_.at("area/sub/made.txt")));
    }

    void descriptorsAreClosedWithTheirOwner() {
        int raw = -1;
        {
            UniqueFd fd = openBeneath(area_->get(), "sub", O_PATH | O_DIRECTORY, false);
            QVERIFY(fd.valid());
            UniqueFd moved = std::move(fd);
            QVERIFY(!fd.valid());
            raw = moved.get();
            QVERIFY(::fcntl(raw, F_GETFD) >= 0);
        }
        QCOMPARE(::fcntl(raw, F_GETFD), -1);
        QVERIFY(!openBeneath(-1, "sub", O_RDONLY, false).valid());
    }
};

QTEST_GUILESS_MAIN(TestBeneathOpen)
#include "test_beneathopen.moc"
