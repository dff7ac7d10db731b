// Sessions whose folders are the same share one open descriptor of them,
// counted in /proc/self/fd, and still see the disk exactly as if each had
// opened its own: a root or virtual folder renamed, recreated or replaced by
// a link between logins gives old sessions the folder they logged into and
// new ones what the path leads to now. Files are written through each
// session to see where they land.

#include "files/AreaRegistry.h"
#include "files/FileService.h"
#include "tests/support/DataRow.h"
#include "tests/support/TempTree.h"

#include <QDir>
#include <QTest>

using namespace kv::files;

namespace {

// Descriptors this process holds; listing the folder opens one more, the
// same every time.
qsizetype openDescriptors() {
    return QDir(QStringLiteral("/proc/self/fd"))
        .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
        .size();
}

// Writes `name` through the session; false when it cannot, or when it did not
// land as `landsIn` (below the scratch folder) when that is given.
bool writeThrough(const FileService& fs, const QString& name, const QString& landsIn = {}) {
    OpenedFile f = fs.openForWriting(name, WriteMode::Replace);
    return f.ok() && f.file->write("x") == 1 && (landsIn.isEmpty() || QFile::exists(landsIn));
}

} // namespace

class TestAreaRegistry : public QObject {
    Q_OBJECT
    std::unique_ptr<TempTree> tree_;
    AreaRegistry registry_;

    QString at(const QString& rel) const { return tree_->at(rel); }

    std::shared_ptr<const LoginGrant> grant(const QString& root, bool withVirtual = true) const {
        auto g = std::make_shared<LoginGrant>();
        g->accountId = 1;
        g->login = QStringLiteral("bob");
        g->rights = Rights::fromLetters(QStringLiteral("rwdlcm"));
        g->root = at(root);
        if (withVirtual)
            g->virtualDirs = {{"v", "", at("dest")}};
        return g;
    }

    std::unique_ptr<FileService> login(const QString& root = QStringLiteral("root"),
                                       bool withVirtual = true, bool shared = true) {
        return std::make_unique<FileService>(grant(root, withVirtual), false,
                                             FileService::ChangeSink{},
                                             shared ? &registry_ : nullptr);
    }

private Q_SLOTS:
    void init() {
        tree_ = std::make_unique<TempTree>();
        QVERIFY(tree_->make({"root/", "other/", "dest/", "outside/"}));
    }

    void sameFoldersShareDescriptors_data() {
        QTest::addColumn<bool>("withVirtual");
        QTest::addColumn<int>("perLogin"); // descriptors one login opens
        addRow("root only", false, 1);
        addRow("root and a virtual folder", true, 2);
    }

    void sameFoldersShareDescriptors() {
        QFETCH(bool, withVirtual);
        QFETCH(int, perLogin);
        const qsizetype before = openDescriptors();
        {
            // Unshared, each login holds its own: the count sees them.
            const auto a = login("root", withVirtual, false);
            const auto b = login("root", withVirtual, false);
            QCOMPARE(openDescriptors() - before, 2 * perLogin);
        }
        QCOMPARE(openDescriptors(), before);

        auto first = login("root", withVirtual);
        QCOMPARE(openDescriptors() - before, perLogin);
        auto second = login("root", withVirtual);
        QCOMPARE(openDescriptors() - before, perLogin);
        QCOMPARE(registry_.areasHeld(), perLogin);

        // The first leaving closes nothing the second uses.
        first.reset();
        QCOMPARE(openDescriptors() - before, perLogin);
        QVERIFY(writeThrough(*second, "/still.txt", at("root/still.txt")));
        if (withVirtual)
            QVERIFY(writeThrough(*second, "/v/still.txt", at("dest/still.txt")));
        // The last one closes them.
        second.reset();
        QCOMPARE(openDescriptors(), before);
        QCOMPARE(registry_.areasHeld(), 0);
    }

    void rootReplaced_data() {
        QTest::addColumn<QString>("replacement"); // what takes the root's place
        QTest::addColumn<QString>("landsIn");     // where a new login's /fresh.txt lands
        addRow("nothing", QString(), QString());
        addRow("a new folder", QStringLiteral("root/"), QStringLiteral("root/fresh.txt"));
        // The root may be reached through a link: a new login serves what it
        // leads to, as when it opened the root itself.
        addRow("a link", QStringLiteral("root -> outside"), QStringLiteral("outside/fresh.txt"));
    }

    void rootReplaced() {
        QFETCH(QString, replacement);
        QFETCH(QString, landsIn);
        const qsizetype before = openDescriptors();
        const auto old = login("root", false);
        QVERIFY(QFile::rename(at("root"), at("root.old")));
        if (!replacement.isEmpty())
            QVERIFY(tree_->make({replacement.replace(" -> ", " -> " + tree_->path() + '/')}));
        const auto fresh = login("root", false);
        const auto later = login("root", false);
        if (landsIn.isEmpty()) {
            QVERIFY(!writeThrough(*fresh, "/fresh.txt"));
            QCOMPARE(fresh->stat("/").error, FileError::NotFound);
        } else {
            QVERIFY(writeThrough(*fresh, "/fresh.txt", at(landsIn)));
            QVERIFY(later->exists("/fresh.txt"));
            // The old folder for the old session, one new one for both new logins.
            QCOMPARE(openDescriptors() - before, 2);
        }
        // The old session keeps the folder it logged into.
        QVERIFY(writeThrough(*old, "/old.txt", at("root.old/old.txt")));
        QVERIFY(!later->exists("/old.txt"));
    }

    void virtualFolderReplaced_data() {
        QTest::addColumn<QString>("replacement"); // what takes the destination's place
        QTest::addColumn<bool>("served");         // whether new logins see /v
        QTest::addColumn<QString>("landsIn");     // where a new login's /v/new.txt lands
        addRow("a new folder", QStringLiteral("dest/"), true, QStringLiteral("dest/new.txt"));
        addRow("a link to outside", QStringLiteral("dest -> outside"), false, QString());
        addRow("a link to the old folder", QStringLiteral("dest -> dest.old"), false, QString());
    }

    void virtualFolderReplaced() {
        QFETCH(QString, replacement);
        QFETCH(bool, served);
        QFETCH(QString, landsIn);
        const auto old = login();
        QVERIFY(QFile::rename(at("dest"), at("dest.old")));
        QVERIFY(tree_->make({replacement.replace(" -> ", " -> " + tree_->path() + '/')}));
        const auto fresh = login();

        QCOMPARE(fresh->exists("/v"), served);
        QCOMPARE(writeThrough(*fresh, "/v/new.txt"), served);
        if (served)
            QVERIFY(QFile::exists(at(landsIn)));
        QVERIFY(!QFile::exists(at("outside/new.txt")));
        QVERIFY(!QFile::exists(at("dest.old/new.txt")));

        // The old session keeps the folder it logged into.
        QVERIFY(writeThrough(*old, "/v/old.txt", at("dest.old/old.txt")));
        QCOMPARE(fresh->exists("/v/old.txt"), false);
    }

    void unusablePathsOpenNothing_data() {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<bool>("lastMayBeLink");
        addRow("empty", QByteArray(), true);
        addRow("missing", QByteArray("/nonexistent-kv-folder"), true);
        addRow("with NUL", QByteArray("/tmp\0x", 6), true);
        addRow("a file", QByteArray("/proc/self/status"), true);
    }

    void unusablePathsOpenNothing() {
        QFETCH(QByteArray, path);
        QFETCH(bool, lastMayBeLink);
        QVERIFY(!registry_.open(path, lastMayBeLink));
        QCOMPARE(registry_.areasHeld(), 0);
    }

    void linkAsLastPartFollowsTheCallersRule() {
        QVERIFY(tree_->make({"link -> " + at("root")}));
        const QByteArray link = QFile::encodeName(at("link"));
        const AreaFd followed = registry_.open(link, true);
        QVERIFY(followed);
        // Asked not to follow, the same path is no folder at all, though
        // a followed area is held for it.
        QVERIFY(!registry_.open(link, false));
        QCOMPARE(registry_.open(link, true), followed);
        // The folder itself, named directly, shares nothing with the link's
        // entry but is the same folder.
        const AreaFd direct = registry_.open(QFile::encodeName(at("root")), false);
        QVERIFY(direct);
        QCOMPARE(registry_.areasHeld(), 2);
    }

    void manyReleasedPathsAreForgotten() {
        // Areas nobody holds do not pile up, and held ones stay shared.
        const AreaFd kept = registry_.open(QFile::encodeName(at("root")), true);
        for (int i = 0; i < 300; ++i) {
            const QString name = QStringLiteral("f%1/").arg(i);
            QVERIFY(tree_->make({name}));
            QVERIFY(registry_.open(QFile::encodeName(at(name)), true));
        }
        QCOMPARE(registry_.areasHeld(), 1);
        QCOMPARE(registry_.open(QFile::encodeName(at("root")), true), kept);
    }
};

QTEST_GUILESS_MAIN(TestAreaRegistry)
#include "test_arearegistry.moc"
