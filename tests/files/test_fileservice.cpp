// The file service through its public calls, on a scratch tree: every
// operation against the rights, paths that try to leave the root (".." and
// links, with links followed or not), virtual folders and their mount
// points, missing parents, and the order in which refusals come. A refused
// operation must leave the disk exactly as it was. The authorizer and the
// file hasher share this program: known digests of each algorithm, algorithm
// names as clients write them, chunk boundaries, and workers that stop a long
// hash when asked or when they go away.

#include "files/Authorizer.h"
#include "files/FileHasher.h"
#include "files/FileService.h"
#include "tests/support/DataRow.h"
#include "tests/support/TempTree.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <map>

#include <unistd.h>

using namespace kv::files;
using kv::events::FileEvent;

Q_DECLARE_METATYPE(kv::files::FileError)
Q_DECLARE_METATYPE(kv::files::HashAlgorithm)

namespace {

struct Outcome {
    FileError error = FileError::None;
    QString path;
};

// One operation by its short name, as the tables below name it.
Outcome run(FileService& fs, const QString& op, const QString& path) {
    const auto of = [](const auto& r) { return Outcome{r.error, r.path}; };
    const std::map<QString, std::function<Outcome()>> ops{
        {"cwd", [&] { return of(fs.changeFolder(path)); }},
        {"mkd", [&] { return of(fs.makeFolder(path)); }},
        {"rmd", [&] { return of(fs.removeFolder(path)); }},
        {"dele", [&] { return of(fs.deleteFile(path)); }},
        {"rnfr", [&] { return of(fs.renameSource(path)); }},
        // the path renamed to "/renamed"; "/a.txt" renamed to the path
        {"rename", [&] { return of(fs.rename(fs.renameSource(path), "/renamed")); }},
        {"rnto", [&] { return of(fs.rename(fs.renameSource("/a.txt"), path)); }},
        {"mfmt",
         [&] {
             return of(fs.setModified(path, QDateTime::fromSecsSinceEpoch(1000000000, Qt::UTC)));
         }},
        {"retr", [&] { return of(fs.openForReading(path)); }},
        {"stor", [&] { return of(fs.openForWriting(path, WriteMode::Replace)); }},
        {"appe", [&] { return of(fs.openForWriting(path, WriteMode::Append)); }},
        {"stou", [&] { return of(fs.openForWriting(path, WriteMode::UniqueName)); }},
        {"chmod", [&] { return of(fs.setMode(path, 0600)); }},
        {"avbl", [&] { return of(fs.freeSpace(path)); }},
        {"hash", [&] { return of(fs.openForChecksum(path)); }},
        {"list", [&] { return of(fs.list(path)); }},
        {"stat", [&] { return of(fs.stat(path)); }},
    };
    return ops.at(op)(); // an unknown name throws
}

// A sparse file: its size costs no disk, and reading it costs real time.
std::unique_ptr<QFile> bigFile(const QTemporaryDir& dir, qint64 size) {
    auto file = std::make_unique<QFile>(dir.filePath(QStringLiteral("big.bin")));
    if (!file->open(QIODevice::ReadWrite) || !file->resize(size) || !file->seek(0))
        return nullptr;
    return file;
}

} // namespace

class TestFileService : public QObject {
    Q_OBJECT
    std::unique_ptr<TempTree> tree_;

    QString at(const QString& rel) const { return tree_->at(rel); }

    std::shared_ptr<LoginGrant> grant(const QString& letters) const {
        auto g = std::make_shared<LoginGrant>();
        g->accountId = 1;
        g->login = QStringLiteral("bob");
        g->rights = Rights::fromLetters(letters);
        g->root = at("root");
        g->virtualDirs = {{"v", "", at("dest")}, {"w", at("root/sub"), at("dest2")}};
        return g;
    }

    // Every object below the scratch folder with its kind, size and time:
    // a refused operation must not change a single line of it.
    QStringList snapshot() const {
        QStringList lines;
        QDirIterator it(tree_->path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo info = it.nextFileInfo();
            lines << QStringLiteral("%1 %2 %3 %4")
                         .arg(info.filePath().mid(tree_->path().size()))
                         .arg(info.isSymLink() ? 'l'
                              : info.isDir()   ? 'd'
                                               : 'f')
                         .arg(info.isDir() ? 0 : info.size())
                         .arg(info.lastModified().toUTC().toSecsSinceEpoch());
        }
        lines.sort();
        return lines;
    }

private Q_SLOTS:
    void init() {
        tree_ = std::make_unique<TempTree>();
        QVERIFY(tree_->make({"root/sub/deeper/", "root/empty/", "root/a.txt", "root/b.txt",
                             "root/sub/inner.txt", "outside/secret.txt", "dest/d.txt",
                             "dest/inner/", "dest2/x.txt"}));
        const QString t = tree_->path();
        QVERIFY(tree_->make({"root/linkIn -> " + t + "/root/sub", "root/linkRel -> sub",
                             "root/linkOut -> " + t + "/outside",
                             "root/linkOutFile -> " + t + "/outside/secret.txt",
                             "dest/escape -> " + t + "/outside"}));
    }

    // A right missing refuses exactly the operation that needs it, and the
    // disk stays as it was; with the right the same call succeeds.
    void eachOperationNeedsItsRight_data() {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("right"); // empty: none needed
        addRow("change folder", "cwd", "/sub", "B");
        addRow("make folder", "mkd", "/newdir", "M");
        addRow("remove folder", "rmd", "/empty", "M");
        addRow("delete", "dele", "/a.txt", "D");
        addRow("rename", "rename", "/a.txt", "W");
        addRow("rename a folder", "rename", "/sub", "W");
        addRow("set time", "mfmt", "/a.txt", "W");
        addRow("download", "retr", "/a.txt", "R");
        addRow("download in a virtual folder", "retr", "/v/d.txt", "R");
        addRow("upload new", "stor", "/new.txt", "W");
        addRow("upload over", "stor", "/a.txt", "W");
        addRow("append", "appe", "/a.txt", "W");
        addRow("unique upload", "stou", "/a.txt", "W");
        addRow("set mode", "chmod", "/a.txt", "W");
        addRow("free space", "avbl", "/sub", "B");
        addRow("checksum", "hash", "/a.txt", "R");
        addRow("list", "list", "/sub", "");
        addRow("stat", "stat", "/a.txt", "");
    }

    void eachOperationNeedsItsRight() {
        QFETCH(QString, op);
        QFETCH(QString, path);
        QFETCH(QString, right);
        const QString all = QStringLiteral("RWDBM");
        if (!right.isEmpty()) {
            const QStringList before = snapshot();
            int changes = 0;
            FileService without(grant(QString(all).remove(right)), false,
                                [&changes](const FileEvent&) { ++changes; });
            const Outcome refused = run(without, op, path);
            QCOMPARE(refused.error, FileError::NotAllowed);
            QCOMPARE(snapshot(), before);
            QCOMPARE(changes, 0);
            QCOMPARE(without.currentFolder(), u"/");
        }
        // Only the one right: the operation needs no other.
        FileService only(grant(right), false);
        QCOMPARE(run(only, op, path).error, FileError::None);
    }

    // Refusals on the path and the object come before the question of
    // rights, so a client without a right learns nothing it could not see.
    void refusals_data() {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("followLinks");
        QTest::addColumn<QString>("rights");
        QTest::addColumn<FileError>("expected");
        using E = FileError;
        const QString tooLong = QStringLiteral("/") + QString(kMaxPathLength, u'x');
        // How paths resolve is the path tests' job; here one row per kind of
        // path shows the operations heed it. ".." stops at the root.
        addRow("stor up and out", "stor", "../../outside/new.txt", true, "RWDBM", E::NotFound);
        // Links out of the root are never followed, whatever the switch.
        addRow("retr link out", "retr", "/linkOutFile", true, "RWDBM", E::Forbidden);
        addRow("stor through link out", "stor", "/linkOut/new.txt", true, "RWDBM", E::Forbidden);
        addRow("dele link out", "dele", "/linkOutFile", true, "RWDBM", E::Forbidden);
        addRow("rename link out", "rnfr", "/linkOutFile", true, "RWDBM", E::Forbidden);
        addRow("rename onto link out", "rnto", "/linkOut/moved", true, "RWDBM", E::Forbidden);
        addRow("escape from a virtual folder", "retr", "/v/escape/secret.txt", true, "RWDBM",
               E::Forbidden);
        // Links inside are followed only when the switch says so.
        addRow("link in, followed", "retr", "/linkRel/inner.txt", true, "R", E::None);
        addRow("link in, not followed", "retr", "/linkIn/inner.txt", false, "RWDBM", E::Forbidden);
        // The root and the virtual folders' mount points stay where they are.
        addRow("stor over a mount point", "stor", "/v", false, "RWDBM", E::Forbidden);
        addRow("stor over a nested mount point", "stor", "/sub/w", false, "RWDBM", E::Forbidden);
        addRow("rmd a mount point", "rmd", "/v", false, "RWDBM", E::Forbidden);
        addRow("rmd the root", "rmd", "/", false, "RWDBM", E::Forbidden);
        addRow("rename a mount point", "rnfr", "/v", false, "RWDBM", E::Forbidden);
        addRow("rename the root", "rnfr", "/", false, "RWDBM", E::Forbidden);
        addRow("rename onto a mount point", "rnto", "/v", false, "RWDBM", E::Exists);
        addRow("mount point before rights", "rmd", "/v", false, "", E::Forbidden);
        addRow("stor in a virtual folder", "stor", "/v/new.txt", false, "W", E::None);
        addRow("mkd in a nested virtual folder", "mkd", "/sub/w/made", false, "M", E::None);
        // Missing objects and parents.
        addRow("stor with a missing parent", "stor", "/nope/x.txt", false, "RWDBM", E::NotFound);
        addRow("rename onto a missing parent", "rnto", "/nope/x", false, "RWDBM", E::NotFound);
        addRow("retr missing", "retr", "/missing.txt", false, "RWDBM", E::NotFound);
        addRow("cwd missing", "cwd", "/missing", false, "RWDBM", E::NotFound);
        addRow("not found before rights", "dele", "/missing.txt", false, "", E::NotFound);
        addRow("below a file", "stor", "/a.txt/x", false, "RWDBM", E::NotFound);
        // Too long, in any operation.
        addRow("stor too long", "stor", tooLong, false, "RWDBM", E::TooLong);
        // Folders where files are needed and the other way round.
        addRow("dele a folder", "dele", "/sub", false, "RWDBM", E::IsADirectory);
        addRow("retr a folder", "retr", "/sub", false, "RWDBM", E::IsADirectory);
        addRow("stor over a folder", "stor", "/sub", false, "RWDBM", E::IsADirectory);
        addRow("rmd a file", "rmd", "/a.txt", false, "RWDBM", E::NotADirectory);
        addRow("cwd into a file", "cwd", "/a.txt", false, "RWDBM", E::NotADirectory);
        addRow("kind before rights", "cwd", "/a.txt", false, "", E::NotADirectory);
        // What exists is never replaced by a rename or a new folder.
        addRow("mkd over a folder", "mkd", "/sub", false, "RWDBM", E::Exists);
        addRow("mkd over a file", "mkd", "/a.txt", false, "RWDBM", E::Exists);
        addRow("rename onto a file", "rnto", "/b.txt", false, "RWDBM", E::Exists);
        addRow("exists before rights", "mkd", "/sub", false, "", E::Exists);
        // The disk's own refusal.
        addRow("rmd a folder not empty", "rmd", "/sub", false, "RWDBM", E::Failed);
    }

    void refusals() {
        QFETCH(QString, op);
        QFETCH(QString, path);
        QFETCH(bool, followLinks);
        QFETCH(QString, rights);
        QFETCH(FileError, expected);
        const QStringList before = snapshot();
        QList<FileEvent> events;
        FileService fs(grant(rights), followLinks,
                       [&events](const FileEvent& e) { events.append(e); });
        QCOMPARE(run(fs, op, path).error, expected);
        if (expected != FileError::None) {
            QCOMPARE(snapshot(), before);
            QVERIFY(events.isEmpty());
        }
        QCOMPARE(tree_->read("outside/secret.txt"), QByteArray("12345"));
    }

    // The program's data folder inside the root: every operation finds it
    // missing, through links too, and nothing in it changes; the folders
    // holding it are never moved, removed or changed.
    void ownFilesAreNeverServed_data() {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("rights");
        QTest::addColumn<FileError>("expected");
        using E = FileError;
        const char* all = "RWDBM";
        addRow("download", "retr", "/holder/data/accounts.dat", all, E::NotFound);
        addRow("download through a link", "retr", "/linkData/accounts.dat", all, E::NotFound);
        addRow("checksum", "hash", "/linkData/ftp.log", all, E::NotFound);
        addRow("facts", "stat", "/holder/data", all, E::NotFound);
        addRow("listing", "list", "/holder/data", all, E::NotFound);
        addRow("enter", "cwd", "/holder/data", all, E::NotFound);
        addRow("enter through a link", "cwd", "/linkData", all, E::NotFound);
        addRow("upload into it", "stor", "/holder/data/new.txt", all, E::NotFound);
        addRow("upload over accounts.dat", "stor", "/holder/data/accounts.dat", all, E::NotFound);
        addRow("append to the log", "appe", "/holder/data/ftp.log", all, E::NotFound);
        addRow("unique upload into it", "stou", "/holder/data/x", all, E::NotFound);
        addRow("make a folder in it", "mkd", "/holder/data/made", all, E::NotFound);
        addRow("delete in it", "dele", "/holder/data/accounts.dat", all, E::NotFound);
        addRow("remove it", "rmd", "/holder/data", all, E::NotFound);
        addRow("rename it", "rename", "/holder/data", all, E::NotFound);
        addRow("rename its link", "rename", "/linkData", all, E::NotFound);
        addRow("rename into it", "rnto", "/holder/data/moved", all, E::NotFound);
        addRow("rename onto it", "rnto", "/holder/data", all, E::NotFound);
        addRow("set a time in it", "mfmt", "/holder/data/accounts.dat", all, E::NotFound);
        addRow("set a mode in it", "chmod", "/holder/data/accounts.dat", all, E::NotFound);
        addRow("free space in it", "avbl", "/holder/data", all, E::NotFound);
        addRow("missing before rights", "retr", "/holder/data/accounts.dat", "", E::NotFound);
        addRow("rename a folder holding it", "rename", "/holder", all, E::Forbidden);
        addRow("remove a folder holding it", "rmd", "/holder", all, E::Forbidden);
        addRow("set a folder holding it", "chmod", "/holder", all, E::Forbidden);
        addRow("holding it before rights", "rmd", "/holder", "", E::Forbidden);
        addRow("upload beside it", "stor", "/holder/new.txt", all, E::None);
        addRow("rename another folder", "rename", "/sub", all, E::None);
        addRow("time of a folder holding it", "mfmt", "/holder", all, E::None);
    }

    void ownFilesAreNeverServed() {
        QFETCH(QString, op);
        QFETCH(QString, path);
        QFETCH(QString, rights);
        QFETCH(FileError, expected);
        QVERIFY(tree_->make({"root/holder/data/accounts.dat", "root/holder/data/ftp.log",
                             "root/linkData -> holder/data"}));
        const OwnFiles own(at("root/holder/data"));
        const QStringList before = snapshot();
        QList<FileEvent> events;
        FileService fs(
            grant(rights), true, [&events](const FileEvent& e) { events.append(e); }, nullptr,
            &own);
        QCOMPARE(run(fs, op, path).error, expected);
        if (expected != FileError::None) {
            QCOMPARE(snapshot(), before);
            QVERIFY(events.isEmpty());
            QCOMPARE(fs.currentFolder(), u"/");
        }
        QCOMPARE(tree_->read("root/holder/data/accounts.dat"), QByteArray("12345"));
    }

    void withoutGrantNothingRuns() {
        const QStringList before = snapshot();
        FileService fs(nullptr, true);
        for (const char* op : {"cwd", "mkd", "dele", "retr", "stor", "list", "stat"})
            QVERIFY2(run(fs, op, QStringLiteral("/a.txt")).error != FileError::None, op);
        QCOMPARE(snapshot(), before);
        // The authorizer alone refuses every operation without a login.
        for (int op = int(FileOperation::ChangeDir); op <= int(FileOperation::Checksum); ++op)
            QVERIFY(!isAllowed(nullptr, FileOperation(op)));
    }

    // Relative paths start from the current folder; removing it (or a
    // folder above it) sends the session back to the root.
    void currentFolder() {
        FileService fs(grant("RWDBM"), false);
        QCOMPARE(fs.changeFolder("sub").path, u"/sub");
        QCOMPARE(fs.currentFolder(), u"/sub");
        QCOMPARE(fs.openForReading("inner.txt").path, u"/sub/inner.txt");
        // A file lists as itself.
        QCOMPARE(fs.list("inner.txt").entries.value(0).name, u"inner.txt");
        QCOMPARE(fs.changeFolder("deeper").error, FileError::None);
        QCOMPARE(fs.changeFolder("../../..").path, u"/");
        QCOMPARE(fs.changeFolder("/sub/w").path, u"/sub/w");
        QCOMPARE(fs.stat("x.txt").entry.size, 5);
        QCOMPARE(fs.changeFolder("/empty").error, FileError::None);
        QCOMPARE(fs.removeFolder(".").error, FileError::None);
        QCOMPARE(fs.currentFolder(), u"/");
        QVERIFY(!QFileInfo::exists(at("root/empty")));
        QVERIFY(fs.exists("sub/inner.txt") && !fs.exists("linkOutFile") && !fs.exists("empty"));
    }

    void offsetsUpToTheEnd() {
        FileService fs(grant("R"), false);
        OpenedFile f = fs.openForReading("/a.txt", 2);
        QVERIFY(f.ok() && f.size == 5 && f.file && f.file->isOpen());
        QCOMPARE(fs.openForReading("/a.txt", 5).error, FileError::None);
        OpenedFile beyond = fs.openForReading("/a.txt", 6);
        QCOMPARE(beyond.error, FileError::RestartBeyondEnd);
        QVERIFY(!beyond.file);
        FileService writer(grant("W"), false);
        QCOMPARE(writer.openForWriting("/a.txt", WriteMode::Replace, 6).error,
                 FileError::RestartBeyondEnd);
        QCOMPARE(tree_->read("root/a.txt"), QByteArray("12345"));
    }

    void writeModes_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("path");
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<QString>("expectedName");
        QTest::addColumn<QByteArray>("expected"); // after writing "AB"
        const auto row = [](const char* name, WriteMode mode, const char* path, qint64 offset,
                            const char* written, const char* expected) {
            addRow(name, int(mode), QString(path), offset, QString(written), QByteArray(expected));
        };
        const WriteMode replace = WriteMode::Replace, unique = WriteMode::UniqueName;
        row("replace empties", replace, "/a.txt", 0, "/a.txt", "AB");
        row("resume keeps the start", replace, "/a.txt", 3, "/a.txt", "123AB");
        row("resume at the end", replace, "/a.txt", 5, "/a.txt", "12345AB");
        row("append", WriteMode::Append, "/a.txt", 3, "/a.txt", "12345AB");
        row("new file", replace, "/n.txt", 0, "/n.txt", "AB");
        row("unique, name free", unique, "/u.txt", 0, "/u.txt", "AB");
        row("unique, name taken", unique, "a.txt", 0, "/a.txt.1", "AB");
        row("unique, no name", unique, "", 0, "/upload", "AB");
    }

    void writeModes() {
        QFETCH(int, mode);
        QFETCH(QString, path);
        QFETCH(qint64, offset);
        QFETCH(QString, expectedName);
        FileService fs(grant("W"), false);
        OpenedFile f = fs.openForWriting(path, WriteMode(mode), offset);
        QVERIFY2(f.ok(), qPrintable(f.systemError));
        QCOMPARE(f.path, expectedName);
        QCOMPARE(f.file->write("AB"), 2);
        f.file->close();
        QTEST(tree_->read("root" + expectedName), "expected");
        if (expectedName != u"/a.txt")
            QCOMPARE(tree_->read("root/a.txt"), QByteArray("12345"));
    }

    // The folders a session sees are the ones there when it logged in: a
    // virtual folder's destination renamed away and replaced by a link to
    // outside leaves every operation in the renamed folder.
    void aVirtualFolderStaysTheFolderOfTheLogin() {
        FileService fs(grant("RWDBM"), true);
        QVERIFY(QFile::rename(at("dest"), at("dest.orig")));
        QVERIFY(tree_->make({"dest -> " + tree_->path() + "/outside"}));
        const QStringList outsideBefore =
            QDir(at("outside")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);

        QCOMPARE(fs.stat("/v/secret.txt").error, FileError::NotFound);
        QCOMPARE(fs.openForReading("/v/secret.txt").error, FileError::NotFound);
        QCOMPARE(fs.openForReading("/v/d.txt").error, FileError::None);
        OpenedFile written = fs.openForWriting("/v/new.txt", WriteMode::Replace);
        QVERIFY(written.ok());
        QCOMPARE(written.file->write("new"), 3);
        written.file->close();
        QCOMPARE(tree_->read("dest.orig/new.txt"), QByteArray("new"));
        QVERIFY(fs.makeFolder("/v/made").ok());
        QVERIFY(QFileInfo(at("dest.orig/made")).isDir());
        QVERIFY(fs.setModified("/v/d.txt", QDateTime::fromSecsSinceEpoch(0, Qt::UTC)).ok());
        QCOMPARE(QFileInfo(at("dest.orig/d.txt")).lastModified().toSecsSinceEpoch(), 0);
        QVERIFY(fs.setMode("/v/d.txt", 0640).ok());
        struct stat changed {};
        QCOMPARE(::stat(QFile::encodeName(at("dest.orig/d.txt")).constData(), &changed), 0);
        QCOMPARE(changed.st_mode & 07777, mode_t(0640));
        QCOMPARE(fs.setMode("/v/secret.txt", 0666).error, FileError::NotFound);
        QVERIFY(fs.freeSpace("/v").ok());
        QVERIFY(fs.rename(fs.renameSource("/v/d.txt"), "/v/moved.txt").ok());
        QCOMPARE(tree_->read("dest.orig/moved.txt"), QByteArray("12345"));
        QVERIFY(fs.deleteFile("/v/moved.txt").ok());
        QVERIFY(fs.removeFolder("/v/made").ok());
        QStringList names;
        for (const FsEntry& e : fs.list("/v").entries)
            names << e.name;
        QCOMPARE(names, QStringList({"escape", "inner", "new.txt"}));

        QCOMPARE(QDir(at("outside")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 outsideBefore);
        QCOMPARE(tree_->read("outside/secret.txt"), QByteArray("12345"));
        // A session that logs in now, links followed, finds no folder where the link is.
        QCOMPARE(FileService(grant("RWDBM"), true).list("/v").error, FileError::NotFound);
    }

    void uniqueNamesRunOut_data() {
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QString>("base");
        addRow("a name", "u", "u");
        addRow("no name", "", "upload");
    }

    void uniqueNamesRunOut() {
        QFETCH(QString, asked);
        QFETCH(QString, base);
        QStringList taken{"root/" + base};
        for (int i = 1; i < 1000; ++i)
            taken << QStringLiteral("root/%1.%2").arg(base).arg(i);
        QVERIFY(tree_->make(taken));
        FileService fs(grant("W"), false);
        const OpenedFile f = fs.openForWriting(asked, WriteMode::UniqueName);
        QCOMPARE(f.error, FileError::NoUniqueName);
        QCOMPARE(f.name, base);
        QCOMPARE(tree_->read("root/" + base), QByteArray("12345"));
        QVERIFY(!f.file);
    }

    void openFailureGivesTheSystemsWords() {
        if (::geteuid() == 0)
            QSKIP("the superuser opens any file");
        QVERIFY(QFile::setPermissions(at("root/a.txt"), QFileDevice::WriteOwner));
        FileService fs(grant("RW"), false);
        const OpenedFile f = fs.openForReading("/a.txt");
        QCOMPARE(f.error, FileError::OpenFailed);
        QVERIFY(!f.systemError.isEmpty());
    }

    void hashKnownDigests_data() {
        QTest::addColumn<HashAlgorithm>("algorithm");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("hex");
        addRow("sha-256 abc", HashAlgorithm::Sha256, QByteArray("abc"),
               QByteArray("ba7816bf8f01cfea414140de5dae2223"
                          "b00361a396177a9cb410ff61f20015ad"));
        addRow("sha-1 abc", HashAlgorithm::Sha1, QByteArray("abc"),
               QByteArray("a9993e364706816aba3e25717850c26c9cd0d89d"));
        addRow("md5 empty", HashAlgorithm::Md5, QByteArray(),
               QByteArray("d41d8cd98f00b204e9800998ecf8427e"));
        // The check value of CRC-32 (zlib, PKZIP).
        addRow("crc32 check", HashAlgorithm::Crc32, QByteArray("123456789"),
               QByteArray("cbf43926"));
        addRow("crc32 leading zeros kept", HashAlgorithm::Crc32, QByteArray("\x9d\x0a\xd9\x6d", 4),
               QByteArray("00000000"));
        addRow("crc32 empty", HashAlgorithm::Crc32, QByteArray(), QByteArray("00000000"));
        // Across chunk boundaries (1 MiB): the chunks add up to the whole.
        const QByteArray big(3 * 1024 * 1024 + 5, 'z');
        addRow("sha-256 over chunks", HashAlgorithm::Sha256, big,
               QCryptographicHash::hash(big, QCryptographicHash::Sha256).toHex());
    }

    void hashKnownDigests() {
        QFETCH(HashAlgorithm, algorithm);
        QFETCH(QByteArray, data);
        QBuffer buffer(&data);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        const HashResult r = hashDevice(buffer, algorithm);
        QVERIFY(r.ok);
        QTEST(r.hex, "hex");
        QCOMPARE(r.bytes, data.size());
    }

    void hashNamesAsClientsWriteThem() {
        for (const HashAlgorithm a : {HashAlgorithm::Sha256, HashAlgorithm::Sha1,
                                      HashAlgorithm::Md5, HashAlgorithm::Crc32}) {
            QCOMPARE(hashByName(hashName(a)), a);
            QCOMPARE(hashByName(hashName(a).toLower()), a);
        }
        QCOMPARE(hashName(HashAlgorithm::Sha256), QStringLiteral("SHA-256"));
        for (const char* unknown : {"SHA256", "SHA-512", "", "MD5 "})
            QVERIFY2(!hashByName(QString::fromLatin1(unknown)), unknown);
    }

    void workersHashFromThePositionToTheEnd() {
        QTemporaryDir dir;
        auto file = std::make_unique<QFile>(dir.filePath(QStringLiteral("f")));
        QVERIFY(file->open(QIODevice::ReadWrite));
        file->write("skip-abc");
        QVERIFY(file->seek(5));
        HashWorkers workers(1);
        QFutureWatcher<HashResult> watcher;
        QSignalSpy done(&watcher, &QFutureWatcherBase::finished);
        watcher.setFuture(workers.start(std::move(file), HashAlgorithm::Sha1));
        QVERIFY(done.wait(5000));
        QCOMPARE(watcher.result().hex, QByteArray("a9993e364706816aba3e25717850c26c9cd0d89d"));
        QCOMPARE(watcher.result().bytes, 3);
    }

    void cancelledHashStopsEarly() {
        QTemporaryDir dir;
        std::unique_ptr<QFile> file = bigFile(dir, qint64(4) << 30);
        QVERIFY(file);
        HashWorkers workers(1);
        QFutureWatcher<HashResult> watcher;
        QSignalSpy done(&watcher, &QFutureWatcherBase::finished);
        watcher.setFuture(workers.start(std::move(file), HashAlgorithm::Sha256));
        QElapsedTimer clock;
        clock.start();
        watcher.future().cancel();
        QVERIFY(done.wait(5000));
        QVERIFY(watcher.future().isCanceled());
        QVERIFY2(clock.elapsed() < 3000, "4 GiB were hashed to the end");
    }

    void workersGoingAwayStopTheirHashes() {
        QTemporaryDir dir;
        QFuture<HashResult> running, waiting;
        QElapsedTimer clock;
        {
            HashWorkers workers(1);
            running = workers.start(bigFile(dir, qint64(4) << 30), HashAlgorithm::Md5);
            waiting = workers.start(bigFile(dir, qint64(4) << 30), HashAlgorithm::Crc32);
            QTRY_VERIFY_WITH_TIMEOUT(running.isRunning(), 5000);
            clock.start();
        }
        QVERIFY2(clock.elapsed() < 3000, "the workers waited for a whole hash");
        QVERIFY(running.isFinished() && waiting.isFinished());
        QCOMPARE(running.resultCount() > 0 && running.result().ok, false);
        QVERIFY(waiting.isCanceled() || !waiting.result().ok);
    }
};

QTEST_GUILESS_MAIN(TestFileService)
#include "test_fileservice.moc"
