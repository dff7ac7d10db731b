#include "files/VirtualFileSystem.h"
#include "tests/support/DataRow.h"
#include "tests/support/TempTree.h"

#include <QFileInfo>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using namespace kv::files;

// A scratch tree with a root, folders served as virtual folders, a folder
// outside everything, and links of every kind between them. A second one
// holds a data folder of the program, reached in every way a client might try.
class TestVirtualFileSystem : public QObject {
    Q_OBJECT
    TempTree tree_;
    TempTree own_;
    QString at(const QString& rel) const { return tree_.at(rel); }
    QString mine(const QString& rel) const { return own_.at(rel); }
    // The data folder home/share/Kv/data and the lock home/public/kestrova-1.lock.
    OwnFiles ownFiles() const {
        OwnFiles own(mine("home/share/Kv/data"));
        own.addFile(mine("home/public/kestrova-1.lock"));
        return own;
    }
    VirtualFileSystem ownVfs(const QString& root, bool follow = true) const {
        const OwnFiles own = ownFiles();
        const QList<VirtualDir> dirs = {
            {"v", "", mine("home/share")},                            // holds the data folder
            {"vPub", "", mine("home/public")},                        // holds the lock only
            {"inData", "", mine("home/share/Kv/data/sub")},           // inside the data folder
            {"vData", mine("home/share/Kv/data"), mine("elsewhere")}, // placed inside it
        };
        return VirtualFileSystem(mine(root), dirs, follow, nullptr, &own);
    }
    static QString names(const std::optional<QList<FsEntry>>& entries) {
        QStringList got;
        for (const FsEntry& e : entries.value_or(QList<FsEntry>()))
            got << (e.isLink ? "@" : e.isDir ? "/" : "") + e.name;
        return entries ? got.join(u',') : QStringLiteral("-");
    }
    VirtualFileSystem vfs(bool follow) const {
        const QString winRoot = at("root\\").replace('/', '\\');
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

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(tree_.make({"root/sub/deeper/", "outside/", "dest/inner/", "dest2/", "root/a.txt",
                            "root/sub/inner.txt", "root/name with space.txt", "root/-dash"}));
        QVERIFY(tree_.make({"root/ünï.txt", "root/.hidden", "root/v", "outside/secret.txt",
                            "dest/d.txt", "dest2/x.txt", "root/fifo|"}));
        for (const QString name : {"order/b", "order/a", "order/\uE000", "order/😀", "order/ü",
                                   "vanish/1", "vanish/2", "vanish/3"})
            QVERIFY(tree_.make({"root/sub/deeper/" + name}));
        const QString t = tree_.path();
        QVERIFY(tree_.make({"root/linkIn -> " + t + "/root/sub", "root/linkRel -> sub",
                            "root/linkFile -> a.txt", "root/linkOut -> " + t + "/outside",
                            "root/linkOutFile -> " + t + "/outside/secret.txt",
                            "root/linkToDest -> " + t + "/dest", "root/loop1 -> loop2",
                            "root/loop2 -> loop1", "root/dangling -> " + t + "/outside/new.txt",
                            "root/sub/up -> ..", "root/sub/upOut -> ../..",
                            "dest/linkBack -> " + t + "/root/sub", "dest/innerRel -> inner",
                            "dest/escape -> " + t + "/outside", "rootlink -> " + t + "/root"}));
        QVERIFY(
            own_.make({"home/share/Kv/data/accounts.dat", "home/share/Kv/data/ftp.log.1",
                       "home/share/Kv/data/sub/", "home/share/Kv/other.txt", "home/public/file.txt",
                       "home/public/kestrova-1.lock", "elsewhere/e.txt"}));
        QVERIFY(own_.make(
            {"home/linkToData -> share/Kv/data", "home/linkToDb -> share/Kv/data/accounts.dat",
             "home/linkToKv -> share/Kv", "home/linkToSub -> share/Kv/data/sub",
             "home/public/upData -> ../share/Kv/data", "home/public/upDb -> ../linkToDb",
             "rootToData -> " + own_.path() + "/home/share/Kv/data"}));
    }

    void normalize_data() {
        QTest::addColumn<QString>("cwd");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        addRow("empty is cwd", "/a", "", "/a");
        addRow("above root", "/", "..", "/");
        addRow("far above root", "/a/b", "../../../../x", "/x");
        addRow("repeated slashes", "/", "//a///b//", "/a/b");
        addRow("backslashes", "/a", "b\\..\\c\\", "/a/c");
        addRow("absolute backslash", "/a", "\\x", "/x");
        addRow("dots", "/a", "./b/./.", "/a/b");
        addRow("absolute", "/a/b", "/x/y", "/x/y");
        addRow("three dots is a name", "/", "...", "/...");
        addRow("spaces kept", "/", " a b / c ", "/ a b / c ");
        addRow("dash and utf8", "/", "-rf/ünï", "/-rf/ünï");
        addRow("drive letter is a name", "/a", "C:\\x", "/a/C:/x");
        addRow("cwd not normalised", "a//b/../", "c", "/a/c");
        addRow("very long", "/", QString("a/../").repeated(5000) + "z", "/z");
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
        QTest::addColumn<QString>("real"); // below the scratch folder; "/" folder, "-" missing
        const auto F = PathError::Forbidden, N = PathError::NotFound, OK = PathError::None;
        addRow("root", "/", "/", true, true, OK, "root/");
        addRow("file relative to cwd", "/sub", "inner.txt", true, true, OK, "root/sub/inner.txt");
        addRow("backslashes", "/", "\\sub\\inner.txt", false, true, OK, "root/sub/inner.txt");
        addRow("dotdot above root", "/sub", "../../outside/secret.txt", true, true, N, "");
        addRow("utf8", "/", "ünï.txt", false, true, OK, "root/ünï.txt");
        addRow("missing", "/", "nope", true, true, N, "");
        addRow("new file", "/sub", "new.txt", true, false, OK, "root/sub/new.txt-");
        addRow("new in missing folder", "/", "nodir/new.txt", true, false, N, "");
        addRow("file used as folder", "/", "a.txt/x", true, false, N, "");
        addRow("mount point", "/", "v", true, true, OK, "dest/");
        addRow("inside mount", "/v", "d.txt", true, true, OK, "dest/d.txt");
        addRow("first of same place wins", "/", "v/x.txt", true, true, N, "");
        addRow("new inside mount", "/v/inner", "n", true, false, OK, "dest/inner/n-");
        addRow("dotdot out of mount", "/v", "../a.txt", true, true, OK, "root/a.txt");
        addRow("dotdot escape from mount", "/v/inner", "../../../outside", true, true, N, "");
        addRow("nested mount", "/sub", "nested/x.txt", true, true, OK, "dest2/x.txt");
        addRow("windows source", "/", "win/x.txt", true, true, OK, "dest2/x.txt");
        addRow("source through link", "/", "sub/viaLink/d.txt", true, true, OK, "dest/d.txt");
        addRow("source outside root", "/", "gone", true, true, N, "");
        addRow("bad name", "/", "bad/name", true, true, N, "");
        addRow("folder missing", "/", "missing/nowhere", true, true, N, "");
        addRow("destination missing", "/", "nodest", true, true, N, "");
        addRow("absolute link in root", "/", "linkIn/inner.txt", true, true, F, "");
        addRow("link not followed", "/", "linkIn/inner.txt", false, true, F, "");
        addRow("relative link", "/", "linkRel", true, true, OK, "root/linkRel/");
        addRow("file link", "/", "linkFile", true, true, OK, "root/linkFile");
        addRow("link outside", "/", "linkOut/secret.txt", true, true, F, "");
        addRow("file link outside", "/", "linkOutFile", true, true, F, "");
        addRow("link loop", "/", "loop1", true, false, F, "");
        addRow("dangling link written", "/", "dangling", true, false, F, "");
        addRow("link up to root", "/sub", "up/a.txt", true, true, OK, "root/sub/up/a.txt");
        addRow("link up outside", "/sub", "upOut/outside/secret.txt", true, true, F, "");
        addRow("link across to a destination", "/", "linkToDest/d.txt", true, true, F, "");
        addRow("link in destination to root", "/v", "linkBack", true, true, F, "");
        addRow("relative link in destination", "/v", "innerRel/x", true, false, OK,
               "dest/innerRel/x-");
        addRow("link in destination escaping", "/v", "escape", true, true, F, "");
        addRow("pipe", "/", "fifo", true, true, F, "");
        addRow("nul", "/", QString("a.txt") + QChar(0) + "x", true, true, F, "");
        addRow("too long", "/", "/" + QString(kMaxPathLength, 'a'), true, false, PathError::TooLong,
               "");
        addRow("too long with cwd", "/" + QString(3000, 'c'), QString(2000, 'p'), true, false,
               PathError::TooLong, "");
        addRow("long but allowed", "/", QString("./").repeated(kMaxPathLength / 2 - 10) + "a.txt",
               true, true, OK, "root/a.txt");
    }
    void resolve() {
        QFETCH(QString, cwd);
        QFETCH(QString, path);
        QFETCH(bool, follow);
        QFETCH(bool, mustExist);
        QFETCH(QString, real);
        const ResolvedPath r = vfs(follow).resolve(cwd, path, mustExist);
        QTEST(r.error, "error");
        if (r.error != PathError::None) {
            QVERIFY(r.realPath.isEmpty());
            return;
        }
        const bool missing = real.endsWith('-'), isDir = real.endsWith('/');
        QCOMPARE(std::tuple(r.realPath, r.exists, r.isDir, r.isMountPoint),
                 std::tuple(at(missing || isDir ? real.chopped(1) : real), !missing, isDir,
                            path == "v"));
    }

    // Relative paths would depend on the process's working folder: unusable.
    void unusableRoot_data() {
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("source");
        addRow("empty root", QString(), QString());
        addRow("relative root", "root", QString());
        addRow("relative source", at("root"), "root");
    }
    void unusableRoot() {
        QFETCH(QString, root);
        QFETCH(QString, source);
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(tree_.path()));
        const VirtualFileSystem fs(root, {{"mnt", source, at("dest")}}, true);
        const PathError rootError = fs.resolve("/", "/", true).error;
        const PathError mountError = fs.resolve("/", "mnt", true).error;
        QVERIFY(QDir::setCurrent(previous));
        QCOMPARE(rootError, source.isEmpty() ? PathError::NotFound : PathError::None);
        QCOMPARE(mountError, PathError::NotFound);
    }

    // Whatever way a path takes to the program's own files, they are missing;
    // everything around them is served as before.
    void ownFilesAreMissing_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("follow");
        QTest::addColumn<bool>("mustExist");
        QTest::addColumn<PathError>("error");
        const auto F = PathError::Forbidden, N = PathError::NotFound, OK = PathError::None;
        addRow("the data folder", "/share/Kv/data", true, true, N);
        addRow("accounts.dat", "/share/Kv/data/accounts.dat", true, true, N);
        addRow("a rotated log", "share/Kv/data/ftp.log.1", true, true, N);
        addRow("a folder in it", "/share/Kv/data/sub", true, true, N);
        addRow("a new file in it", "/share/Kv/data/new.txt", true, false, N);
        addRow("a new folder in a folder in it", "/share/Kv/data/sub/new", true, false, N);
        addRow("through dotdot", "/public/../share/Kv/./data/../data/accounts.dat", true, true, N);
        addRow("a relative link to it", "/linkToData", true, true, N);
        addRow("through a relative link", "/linkToData/accounts.dat", true, true, N);
        addRow("a link to a file in it", "/linkToDb", true, true, N);
        addRow("a link to that link", "/public/upDb", true, true, N);
        addRow("a link to a folder in it", "/linkToSub", true, true, N);
        addRow("a link up and back down", "/public/upData/accounts.dat", true, true, N);
        addRow("through a link to its parent", "/linkToKv/data/accounts.dat", true, true, N);
        addRow("a link not followed", "/linkToData", false, true, F);
        addRow("the lock kept elsewhere", "/public/kestrova-1.lock", true, true, N);
        addRow("through a virtual folder", "/v/Kv/data/accounts.dat", true, true, N);
        addRow("the lock through a virtual folder", "/vPub/kestrova-1.lock", true, true, N);
        addRow("a virtual folder inside it", "/inData", true, true, N);
        addRow("a virtual folder placed in it", "/share/Kv/data/vData/e.txt", true, true, N);
        addRow("its parent", "/share/Kv", true, true, OK);
        addRow("a file beside it", "/share/Kv/other.txt", true, true, OK);
        addRow("a new file beside it", "/share/Kv/new.txt", true, false, OK);
        addRow("beside it through a link", "/linkToKv/other.txt", true, true, OK);
        addRow("beside it through a virtual folder", "/v/Kv/other.txt", true, true, OK);
        addRow("beside the lock", "/vPub/file.txt", true, true, OK);
    }
    void ownFilesAreMissing() {
        QFETCH(QString, path);
        QFETCH(bool, follow);
        QFETCH(bool, mustExist);
        const ResolvedPath r = ownVfs("home", follow).resolve("/", path, mustExist);
        QTEST(r.error, "error");
        QCOMPARE(r.realPath.isEmpty(), !r.ok());
    }

    // A root that is the data folder or lies inside it serves nothing, and
    // a virtual folder there is not shown; the notes say why.
    void areasInsideTheDataFolderServeNothing_data() {
        QTest::addColumn<QString>("root");
        QTest::addColumn<bool>("served");
        addRow("the data folder", "home/share/Kv/data", false);
        addRow("a folder in it", "home/share/Kv/data/sub", false);
        addRow("typed through a link", "rootToData", false);
        addRow("a folder apart", "elsewhere", true);
    }
    void areasInsideTheDataFolderServeNothing() {
        QFETCH(QString, root);
        QFETCH(bool, served);
        const VirtualFileSystem fs = ownVfs(root);
        QCOMPARE(fs.resolve("/", "/", true).ok(), served);
        QCOMPARE(fs.resolve("/", "accounts.dat", true).error, PathError::NotFound);
        const QString notes = fs.notes().join(u'\n');
        QCOMPARE(notes.contains("Cartella radice " + mine(root) + " non servita"), !served);
        // Virtual folders are judged only when the root is served.
        QCOMPARE(notes.contains("Cartella virtuale /inData non mostrata"), served);
        QCOMPARE(fs.resolve("/", "/inData", true).error, PathError::NotFound);
        QCOMPARE(names(fs.list(fs.resolve("/", "/", true))), served ? "e.txt,/v,/vPub" : "-");
    }

    // Identities, not names: the data folder renamed or moved after the
    // file system was made is still missing under its new name.
    void renamedAfterTheLoginStaysMissing_data() {
        QTest::addColumn<QString>("newPlace");
        addRow("renamed", "home/share/Kv/renamed");
        addRow("letter case changed", "home/share/Kv/DATA");
        addRow("moved to another folder", "home/public/moved");
    }
    void renamedAfterTheLoginStaysMissing() {
        QFETCH(QString, newPlace);
        const VirtualFileSystem fs = ownVfs("home");
        QVERIFY(QDir().rename(mine("home/share/Kv/data"), mine(newPlace)));
        const QString client = newPlace.mid(4); // below home
        const PathError folder = fs.resolve("/", client, true).error;
        const PathError file = fs.resolve("/", client + "/accounts.dat", true).error;
        const QString listed = names(fs.list(fs.resolve("/", QFileInfo(client).path(), true)));
        QVERIFY(QDir().rename(mine(newPlace), mine("home/share/Kv/data")));
        QCOMPARE(folder, PathError::NotFound);
        QCOMPARE(file, PathError::NotFound);
        QVERIFY2(!listed.contains(QFileInfo(newPlace).fileName()), qPrintable(listed));
    }

    void listingsLeaveThemOut_data() {
        QTest::addColumn<QString>("dir");
        QTest::addColumn<bool>("namesOnly");
        QTest::addColumn<QString>("expected");
        addRow("the root", "/", false, "/linkToKv,/public,/share,/v,/vPub");
        addRow("the data folder's parent", "/share/Kv", false, "other.txt");
        addRow("names only", "/share/Kv", true, "other.txt");
        addRow("links into it and the lock", "/public", false, "file.txt");
        addRow("through a virtual folder", "/v/Kv", true, "other.txt");
        addRow("through a link", "/linkToKv", false, "other.txt");
    }
    void listingsLeaveThemOut() {
        QFETCH(QString, dir);
        QFETCH(bool, namesOnly);
        const VirtualFileSystem fs = ownVfs("home");
        QTEST(names(fs.list(fs.resolve("/", dir, true), namesOnly)), "expected");
    }

    // Only an area holding some of the program's files checks its paths.
    void areasApartAreNotChecked() {
        const VirtualFileSystem fs = ownVfs("elsewhere");
        const ResolvedPath file = fs.resolve("/", "e.txt", true);
        QVERIFY(file.ok());
        QVERIFY(!file.guard);
        const ResolvedPath nearLock = fs.resolve("/", "/vPub/file.txt", true);
        QVERIFY(nearLock.guard && !nearLock.guard->holdsDataFolder);
        const ResolvedPath nearData = fs.resolve("/", "/v/Kv/other.txt", true);
        QVERIFY(nearData.guard && nearData.guard->holdsDataFolder);
    }

    // What is opened for a path checked is the object checked: swapped for
    // one of the program's files meanwhile, it is neither read nor emptied.
    void opensOnlyTheObjectChecked() {
        const VirtualFileSystem fs = ownVfs("home");
        const ResolvedPath checked = fs.resolve("/", "public/file.txt", true);
        QVERIFY(checked.ok());
        QVERIFY(QFile::rename(mine("home/public/file.txt"), mine("home/public/file.keep")));
        QVERIFY(
            QFile::rename(mine("home/share/Kv/data/accounts.dat"), mine("home/public/file.txt")));
        const bool read = checked.open(O_RDONLY).valid();
        const bool written = checked.open(O_WRONLY | O_CREAT | O_TRUNC, 0600).valid();
        const qint64 size = QFileInfo(mine("home/public/file.txt")).size();
        QVERIFY(
            QFile::rename(mine("home/public/file.txt"), mine("home/share/Kv/data/accounts.dat")));
        QVERIFY(QFile::rename(mine("home/public/file.keep"), mine("home/public/file.txt")));
        QVERIFY(!read);
        QVERIFY(!written);
        QCOMPARE(size, 5);
        // The object itself still opens; a new one is made where it was checked.
        QVERIFY(checked.open(O_RDONLY).valid());
        const ResolvedPath fresh = fs.resolve("/", "public/new.txt", false);
        QVERIFY(fresh.ok() && !fresh.exists);
        QVERIFY(fresh.open(O_WRONLY | O_CREAT | O_EXCL, 0600).valid());
        QVERIFY(QFile::remove(mine("home/public/new.txt")));
    }

    void list_data() {
        QTest::addColumn<QString>("dir");
        QTest::addColumn<bool>("follow");
        QTest::addColumn<QString>("expected"); // in order; "/" folder, "@" link; "-" refused
        addRow("root, links followed", "/", true,
               "-dash,.hidden,a.txt,@dangling,linkFile,@linkIn,@linkOut,@linkOutFile,/linkRel,"
               "@linkToDest,@loop1,@loop2,name with space.txt,/sub,/v,/win,ünï.txt");
        addRow("root, links not followed", "/", false,
               "-dash,.hidden,a.txt,@dangling,@linkFile,@linkIn,@linkOut,@linkOutFile,@linkRel,"
               "@linkToDest,@loop1,@loop2,name with space.txt,/sub,/v,/win,ünï.txt");
        addRow("mounts in a subfolder", "/sub", true,
               "/deeper,inner.txt,/nested,/up,@upOut,/viaLink");
        addRow("inside a mount", "/v", true, "d.txt,@escape,/inner,/innerRel,@linkBack");
        addRow("a file", "a.txt", true, "-");
        addRow("a link leading outside", "linkOut", true, "-");
        addRow("a missing folder", "newdir", true, "-");
    }
    void list() {
        QFETCH(QString, dir);
        QFETCH(bool, follow);
        const VirtualFileSystem fs = vfs(follow);
        const auto entries = fs.list(fs.resolve("/", dir, false));
        QStringList got;
        for (const FsEntry& e : entries.value_or(QList<FsEntry>()))
            got << (e.isLink ? "@" : e.isDir ? "/" : "") + e.name;
        QTEST(entries ? got.join(u',') : QStringLiteral("-"), "expected");
    }

    // Names in UTF-16 order, as QString compares them: a character beyond
    // U+FFFF comes before U+E000 there, though not in UTF-8.
    void entriesComeInPiecesInNameOrder() {
        const VirtualFileSystem fs = vfs(true);
        const ResolvedPath dir = fs.resolve("/", "sub/deeper/order", true);
        const std::shared_ptr<FolderEntries> pieces = fs.entries(dir);
        QVERIFY(pieces);
        QList<FsEntry> got;
        int takes = 0;
        while (pieces->take(got, 2) && takes < 10)
            ++takes;
        QCOMPARE(takes, 3);
        QStringList names;
        for (const FsEntry& e : got)
            names << e.name;
        QCOMPARE(names, QStringList({"a", "b", "ü", "😀", "\uE000"}));
        const auto whole = fs.list(dir);
        QVERIFY(whole);
        QCOMPARE(whole->size(), got.size());
        QVERIFY(!fs.entries(fs.resolve("/", "a.txt", true)));
    }

    // Past the names it may hold, a folder is given as the file system keeps
    // it, a few entries at a time: every entry once, a virtual folder still
    // in place of the real entry of its name, and never more held.
    void hugeFolderIsGivenUnsortedHoldingLittle_data() {
        QTest::addColumn<qsizetype>("heldBytes");
        QTest::addColumn<bool>("sorted");
        addRow("room for every name", qsizetype(64 * 1024), true);
        addRow("room for a few", qsizetype(1024), false);
    }
    void hugeFolderIsGivenUnsortedHoldingLittle() {
        QFETCH(qsizetype, heldBytes);
        QStringList expected;
        for (int i = 0; i < 300; ++i)
            expected << QString("f%1").arg(i, 3, 10, QChar('0'));
        if (!QFileInfo::exists(at("root/many/f299")))
            for (const QString& name : std::as_const(expected))
                QVERIFY(tree_.make({"root/many/" + name}));
        const UniqueFd folder(::open(QFile::encodeName(at("root/many")).constData(),
                                     O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        FolderEntries entries(UniqueFd(::dup(folder.get())), {}, false, {}, heldBytes);
        QTEST(entries.sorted(), "sorted");
        QVERIFY2(entries.heldBytes() <= heldBytes,
                 qPrintable(QString::number(entries.heldBytes())));
        const UniqueFd dest(
            ::open(QFile::encodeName(at("dest")).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        entries.addFolder("f007", std::make_shared<const UniqueFd>(::dup(dest.get())));
        QList<FsEntry> got;
        for (int takes = 0; takes < 100 && entries.take(got, 16); ++takes)
            QVERIFY(entries.heldBytes() <= heldBytes);
        QStringList names;
        for (const FsEntry& e : std::as_const(got))
            names << e.name;
        QCOMPARE(names.size(), expected.size());
        if (!entries.sorted())
            names.sort();
        QCOMPARE(names, expected);
        const auto added = std::find_if(got.cbegin(), got.cend(),
                                        [](const FsEntry& e) { return e.name == u"f007"; });
        QVERIFY(added->isDir);
        QVERIFY(!entries.take(got, 16));
    }

    // Facts are asked when an entry is taken: one removed meanwhile is left out.
    void entriesRemovedMeanwhileAreLeftOut() {
        const VirtualFileSystem fs = vfs(false);
        const std::shared_ptr<FolderEntries> pieces =
            fs.entries(fs.resolve("/", "sub/deeper/vanish", true));
        QVERIFY(pieces);
        QList<FsEntry> got;
        QVERIFY(pieces->take(got, 1));
        QVERIFY(QFile::remove(at("root/sub/deeper/vanish/2")));
        while (pieces->take(got, 10)) {
        }
        QCOMPARE(got.size(), 2);
        QCOMPARE(got.at(0).name + got.at(1).name, u"13");
    }

    void statGivesTheFactsOfOneObject() {
        const VirtualFileSystem fs = vfs(true);
        QVERIFY(!fs.stat(fs.resolve("/", "newdir", false)));
        const auto file = fs.stat(fs.resolve("/sub", "../a.txt", true));
        QVERIFY(file);
        QCOMPARE(std::tuple(file->name, file->size, file->isDir, file->readable, file->writable),
                 std::tuple(QString("a.txt"), qint64(5), false, true, true));
        QVERIFY(qAbs(file->modified.secsTo(QDateTime::currentDateTimeUtc())) < 3600);
        const auto mount = fs.stat(fs.resolve("/", "v", true));
        QVERIFY(mount && mount->isDir);
        QCOMPARE(mount->name, QString("v"));
        QCOMPARE(fs.stat(fs.resolve("/", "/", true)).value_or(FsEntry{}).name, QString("/"));
    }
};

QTEST_GUILESS_MAIN(TestVirtualFileSystem)
#include "test_virtualfilesystem.moc"
