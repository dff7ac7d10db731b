#include "engine/VirtualFileSystem.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

using namespace kv::engine;

// A scratch tree with a root, folders served as virtual folders, a folder
// outside everything, and links of every kind between them.
class TestVirtualFileSystem : public QObject {
    Q_OBJECT
    QTemporaryDir tmp_;
    QString at(const QString& rel) const { return tmp_.path() + '/' + rel; }
    void file(const QString& rel) {
        QFile f(at(rel));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("12345");
    }
    void link(const QString& target, const QString& rel) {
        QCOMPARE(::symlink(target.toUtf8().constData(), at(rel).toUtf8().constData()), 0);
    }
    VirtualFileSystem vfs(bool follow) const {
        QString winRoot = at("root\\");
        winRoot.replace('/', '\\');
        const QList<VirtualDir> dirs = {
            {"v", "", at("dest")},
            {"nested", at("root/sub"), at("dest2")},
            {"gone", at("outside"), at("dest")},         // source outside the root
            {"bad/name", "", at("dest")},                // not one name
            {"..", "", at("dest")},                      // not a name
            {" win ", winRoot, at("dest2")},             // backslashes, blanks around the name
            {"viaLink", at("rootlink/sub"), at("dest")}, // root typed through a link
            {"nowhere", at("root/missing"), at("dest")}, // its folder does not exist
            {"nodest", "", at("missing")},
            {"rel", "", "relative/dest"},
            {"v", "", at("dest2")}, // same place: the first one wins
        };
        return VirtualFileSystem(at("root"), dirs, follow);
    }
    static QStringList names(const QList<FsEntry>& entries) {
        QStringList out;
        for (const FsEntry& e : entries)
            out << (e.isLink ? "@" : e.isDir ? "/" : "") + e.name;
        return out;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(tmp_.isValid());
        for (const char* dir :
             {"root", "root/sub", "root/sub/deeper", "outside", "dest", "dest/inner", "dest2"})
            QVERIFY(QDir().mkpath(at(dir)));
        for (const char* f : {"root/a.txt", "root/sub/inner.txt", "root/name with space.txt",
                              "root/-dash", "root/ünï.txt", "root/.hidden", "root/v",
                              "outside/secret.txt", "dest/d.txt", "dest2/x.txt"})
            file(f);
        QCOMPARE(::mkfifo(at("root/fifo").toUtf8().constData(), 0600), 0);
        link(at("root/sub"), "root/linkIn");
        link("sub", "root/linkRel");
        link("a.txt", "root/linkFile");
        link(at("outside"), "root/linkOut");
        link(at("outside/secret.txt"), "root/linkOutFile");
        link(at("dest"), "root/linkToDest");
        link("loop2", "root/loop1");
        link("loop1", "root/loop2");
        link(at("outside/new.txt"), "root/dangling");
        link("..", "root/sub/up");
        link("../..", "root/sub/upOut");
        link(at("root/sub"), "dest/linkBack");
        link(at("outside"), "dest/escape");
        link(at("root"), "rootlink");
    }

    void normalize_data() {
        QTest::addColumn<QString>("cwd");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const QString& cwd, const QString& path,
                            const QString& expected) {
            QTest::newRow(name) << cwd << path << expected;
        };
        row("empty is cwd", "/a", "", "/a");
        row("above root", "/", "..", "/");
        row("far above root", "/a/b", "../../../../x", "/x");
        row("repeated slashes", "/", "//a///b//", "/a/b");
        row("backslashes", "/a", "b\\..\\c\\", "/a/c");
        row("absolute backslash", "/a", "\\x", "/x");
        row("dots", "/a", "./b/./.", "/a/b");
        row("absolute", "/a/b", "/x/y", "/x/y");
        row("three dots is a name", "/", "...", "/...");
        row("spaces kept", "/", " a b / c ", "/ a b / c ");
        row("dash and utf8", "/", "-rf/ünï", "/-rf/ünï");
        row("drive letter is a name", "/a", "C:\\x", "/a/C:/x");
        row("cwd not normalised", "a//b/../", "c", "/a/c");
        row("very long", "/", QString("a/../").repeated(5000) + "z", "/z");
    }
    void normalize() {
        QFETCH(QString, cwd);
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(VirtualFileSystem::normalize(cwd, path), expected);
        QCOMPARE(VirtualFileSystem::normalize("/elsewhere", expected), expected); // settled
    }

    void resolve_data() {
        QTest::addColumn<QString>("cwd");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("follow");
        QTest::addColumn<bool>("mustExist");
        QTest::addColumn<PathError>("error");
        QTest::addColumn<QString>("real"); // below the scratch folder; "-": missing object
        const auto F = PathError::Forbidden, N = PathError::NotFound, OK = PathError::None;
        auto row = [](const char* name, const QString& cwd, const QString& path, bool follow,
                      bool mustExist, PathError e, const QString& real) {
            QTest::newRow(name) << cwd << path << follow << mustExist << e << real;
        };
        row("root", "/", "/", true, true, OK, "root");
        row("file relative to cwd", "/sub", "inner.txt", true, true, OK, "root/sub/inner.txt");
        row("backslashes", "/", "\\sub\\inner.txt", false, true, OK, "root/sub/inner.txt");
        row("dotdot above root", "/sub", "../../outside/secret.txt", true, true, N, "");
        row("odd names", "/", "name with space.txt", false, true, OK, "root/name with space.txt");
        row("utf8", "/", "ünï.txt", false, true, OK, "root/ünï.txt");
        row("missing", "/", "nope", true, true, N, "");
        row("new file", "/sub", "new.txt", true, false, OK, "root/sub/new.txt-");
        row("new in missing folder", "/", "nodir/new.txt", true, false, N, "");
        row("file used as folder", "/", "a.txt/x", true, false, N, "");
        row("mount point", "/", "v", true, true, OK, "dest");
        row("inside mount", "/v", "d.txt", true, true, OK, "dest/d.txt");
        row("first of same place wins", "/", "v/x.txt", true, true, N, "");
        row("new inside mount", "/v/inner", "n", true, false, OK, "dest/inner/n-");
        row("dotdot out of mount", "/v", "../a.txt", true, true, OK, "root/a.txt");
        row("dotdot escape from mount", "/v/inner", "../../../outside", true, true, N, "");
        row("nested mount", "/sub", "nested/x.txt", true, true, OK, "dest2/x.txt");
        row("windows source", "/", "win/x.txt", true, true, OK, "dest2/x.txt");
        row("source through link", "/", "sub/viaLink/d.txt", true, true, OK, "dest/d.txt");
        row("source outside root", "/", "gone", true, true, N, "");
        row("bad name", "/", "bad/name", true, true, N, "");
        row("folder missing", "/", "missing/nowhere", true, true, N, "");
        row("destination missing", "/", "nodest", true, true, N, "");
        row("link in root", "/", "linkIn/inner.txt", true, true, OK, "root/linkIn/inner.txt");
        row("link not followed", "/", "linkIn/inner.txt", false, true, F, "");
        row("relative link", "/", "linkRel/inner.txt", true, true, OK, "root/linkRel/inner.txt");
        row("file link", "/", "linkFile", true, true, OK, "root/linkFile");
        row("file link not followed", "/", "linkFile", false, true, F, "");
        row("link outside", "/", "linkOut/secret.txt", true, true, F, "");
        row("link outside itself", "/", "linkOut", true, true, F, "");
        row("link outside new file", "/", "linkOut/new.txt", true, false, F, "");
        row("file link outside", "/", "linkOutFile", true, true, F, "");
        row("link loop", "/", "loop1", true, false, F, "");
        row("dangling link written", "/", "dangling", true, false, F, "");
        row("link up to root", "/sub", "up/a.txt", true, true, OK, "root/sub/up/a.txt");
        row("link up outside", "/sub", "upOut/outside/secret.txt", true, true, F, "");
        row("link to destination", "/", "linkToDest/d.txt", true, true, OK,
            "root/linkToDest/d.txt");
        row("link in destination to root", "/v", "linkBack", true, true, OK, "dest/linkBack");
        row("link in destination escaping", "/v", "escape", true, true, F, "");
        row("pipe", "/", "fifo", true, true, F, "");
        row("nul", "/", QString("a.txt") + QChar(0) + "x", true, true, F, "");
        row("too long", "/", "/" + QString(kMaxPathLength, 'a'), true, false, PathError::TooLong,
            "");
        row("too long with cwd", "/" + QString(3000, 'c'), QString(2000, 'p'), true, false,
            PathError::TooLong, "");
        row("long but allowed", "/", QString("./").repeated(kMaxPathLength / 2 - 10) + "a.txt",
            true, true, OK, "root/a.txt");
    }
    void resolve() {
        QFETCH(QString, cwd);
        QFETCH(QString, path);
        QFETCH(bool, follow);
        QFETCH(bool, mustExist);
        QFETCH(PathError, error);
        QFETCH(QString, real);
        const ResolvedPath r = vfs(follow).resolve(cwd, path, mustExist);
        QCOMPARE(r.error, error);
        if (error != PathError::None) {
            QVERIFY(r.realPath.isEmpty());
            return;
        }
        const bool missing = real.endsWith('-');
        QCOMPARE(r.realPath, at(missing ? real.chopped(1) : real));
        QCOMPARE(r.exists, !missing);
        QCOMPARE(r.isDir, QFileInfo(r.realPath).isDir());
        QCOMPARE(r.isMountPoint, path == "v");
        QCOMPARE(r.virtualPath, VirtualFileSystem::normalize(cwd, path));
    }

    // Relative paths would depend on the process's working folder: unusable.
    void unusableRoot_data() {
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("source");
        QTest::newRow("empty root") << QString() << QString();
        QTest::newRow("relative root") << QStringLiteral("root") << QString();
        QTest::newRow("missing root") << at("missing") << "";
        QTest::newRow("root is a file") << at("root/a.txt") << "";
        QTest::newRow("relative source") << at("root") << "root";
    }
    void unusableRoot() {
        QFETCH(QString, root);
        QFETCH(QString, source);
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(tmp_.path()));
        const VirtualFileSystem fs(root, {{"mnt", source, at("dest")}}, true);
        const PathError rootError = fs.resolve("/", "/", true).error;
        const PathError mountError = fs.resolve("/", "mnt", true).error;
        QVERIFY(QDir::setCurrent(previous));
        QCOMPARE(rootError, source.isEmpty() ? PathError::NotFound : PathError::None);
        QCOMPARE(mountError, PathError::NotFound);
    }

    void list_data() {
        QTest::addColumn<QString>("dir");
        QTest::addColumn<bool>("follow");
        QTest::addColumn<QStringList>("expected"); // "/" folder, "@" link not followed
        QTest::newRow("root, links followed")
            << "/" << true
            << QStringList{"-dash",       ".hidden",  "@dangling",    "/linkIn",
                           "linkFile",    "@linkOut", "@linkOutFile", "/linkRel",
                           "/linkToDest", "@loop1",   "@loop2",       "name with space.txt",
                           "/sub",        "/v",       "/win",         "a.txt",
                           "ünï.txt"};
        QTest::newRow("root, links not followed")
            << "/" << false
            << QStringList{"-dash",       ".hidden",  "@dangling",    "@linkIn",
                           "@linkFile",   "@linkOut", "@linkOutFile", "@linkRel",
                           "@linkToDest", "@loop1",   "@loop2",       "name with space.txt",
                           "/sub",        "/v",       "/win",         "a.txt",
                           "ünï.txt"};
        QTest::newRow("mounts in a subfolder")
            << "/sub" << true
            << QStringList{"/deeper", "inner.txt", "/nested", "/up", "@upOut", "/viaLink"};
        QTest::newRow("inside a mount")
            << "/v" << true << QStringList{"d.txt", "@escape", "/inner", "/linkBack"};
    }
    void list() {
        QFETCH(QString, dir);
        QFETCH(bool, follow);
        QFETCH(QStringList, expected);
        const VirtualFileSystem fs = vfs(follow);
        const auto entries = fs.list(fs.resolve("/", dir, true));
        QVERIFY(entries);
        QStringList got = names(*entries);
        QStringList bare = got;
        bare.replaceInStrings(QRegularExpression("^[/@]"), "");
        QVERIFY2(std::is_sorted(bare.begin(), bare.end()), qPrintable(got.join(',')));
        got.sort();
        expected.sort();
        QCOMPARE(got, expected);
    }

    void listAndStatRefuseWhatCannotBeListed() {
        const VirtualFileSystem fs = vfs(true);
        QVERIFY(!fs.list(fs.resolve("/", "a.txt", true)));
        QVERIFY(!fs.list(fs.resolve("/", "linkOut", true)));
        QVERIFY(!fs.list(fs.resolve("/", "newdir", false)));
        QVERIFY(!fs.stat(fs.resolve("/", "newdir", false)));
        const auto file = fs.stat(fs.resolve("/sub", "../a.txt", true));
        QVERIFY(file);
        QCOMPARE(file->name, QString("a.txt"));
        QCOMPARE(file->size, qint64(5));
        QVERIFY(!file->isDir && file->readable && file->writable);
        QVERIFY(qAbs(file->modified.secsTo(QDateTime::currentDateTimeUtc())) < 3600);
        const auto mount = fs.stat(fs.resolve("/", "v", true));
        QVERIFY(mount && mount->isDir);
        QCOMPARE(mount->name, QString("v"));
    }
};

QTEST_GUILESS_MAIN(TestVirtualFileSystem)
#include "test_virtualfilesystem.moc"
