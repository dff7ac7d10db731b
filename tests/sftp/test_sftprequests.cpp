// SFTP requests answered over the file layer, on a scratch tree (the rights
// each operation needs are the file layer's, tested there): paths
// never leave the root (".." , absolute paths, links) while virtual folders
// are reachable, files move byte for byte at any offset, folders list in
// batches, links are never made or told, and every open file is reported
// as one transfer.

#include "sftp/SftpRequests.h"
#include "tests/sftp/SftpTestPackets.h"
#include "tests/support/DataRow.h"
#include "tests/support/TempTree.h"

#include <QTest>

using namespace kv::sftp;
using kv::events::TransferOutcome;
using sftptest::payloadOf;
using sftptest::ReplyReader;

namespace {

struct Reply {
    quint8 type = 0;
    quint32 id = 0;
    quint32 status = 0xFFFFFFFF; // StatusReply only
    QByteArray handle;           // HandleReply
    QByteArray data;             // DataReply
    QList<QByteArray> names;     // NameReply
    Attributes attrs;            // AttrsReply
};

Reply readReply(const QByteArray& packet) {
    ReplyReader r(packet);
    Reply out;
    out.type = r.u8();
    out.id = r.u32();
    switch (out.type) {
    case StatusReply:
        out.status = r.u32();
        r.string();
        r.string();
        break;
    case HandleReply:
        out.handle = r.string();
        break;
    case DataReply:
        out.data = r.string();
        break;
    case NameReply:
        for (quint32 n = r.u32(); n > 0 && r.ok; --n) {
            out.names << r.string();
            r.string();
            r.attributes();
        }
        break;
    case AttrsReply:
        out.attrs = r.attributes();
        break;
    default:
        break;
    }
    return out;
}

} // namespace

class TestSftpRequests : public QObject {
    Q_OBJECT
    std::unique_ptr<TempTree> tree_;
    std::unique_ptr<SftpRequests> sftp_;
    QStringList finished_;      // "kind path bytes outcome" of every transfer that ended
    QList<TransferNote> notes_; // and how each was told
    quint32 nextId_ = 1;

    void login(const QString& rights) {
        auto g = std::make_shared<kv::files::LoginGrant>();
        g->accountId = 1;
        g->login = QStringLiteral("bob");
        g->rights = kv::files::Rights::fromLetters(rights);
        g->root = tree_->at("root");
        g->virtualDirs = {{"v", "", tree_->at("elsewhere")}};
        auto files = std::make_unique<kv::files::FileService>(g, false);
        SftpRequests::Observer o;
        o.finished = [this](const TransferNote& t, TransferOutcome outcome) {
            static const char* const kinds[] = {"download", "upload", "listing"};
            static const char* const outcomes[] = {"running", "complete", "aborted", "failed"};
            finished_ << QStringLiteral("%1 %2 %3 %4")
                             .arg(kinds[int(t.kind)], t.clientPath)
                             .arg(t.bytes)
                             .arg(outcomes[int(outcome)]);
            notes_ << t;
        };
        sftp_ = std::make_unique<SftpRequests>(std::move(files), o);
    }

    Reply send(PacketWriter& w) { return readReply(sftp_->answer(payloadOf(w))); }
    // A request of `type` with the next id and `fields` in order: strings,
    // quint32 and quint64 numbers, attributes.
    template <typename... Fields> Reply request(quint8 type, const Fields&... fields) {
        PacketWriter w(type);
        w.u32(nextId_++);
        (put(w, fields), ...);
        return send(w);
    }
    static void put(PacketWriter& w, QByteArrayView s) { w.string(s); }
    static void put(PacketWriter& w, quint32 n) { w.u32(n); }
    static void put(PacketWriter& w, quint64 n) { w.u64(n); }
    static void put(PacketWriter& w, const Attributes& a) { w.attributes(a); }
    Reply open(const QByteArray& path, quint32 flags) {
        return request(Open, path, flags, Attributes{});
    }
    Reply close(const QByteArray& handle) { return request(Close, handle); }
    Reply read(const QByteArray& handle, quint64 offset, quint32 length) {
        return request(Read, handle, offset, length);
    }
    Reply write(const QByteArray& handle, quint64 offset, const QByteArray& data) {
        return request(Write, handle, offset, data);
    }

private Q_SLOTS:
    void init() {
        sftp_.reset(); // what the last test left open ends before this one counts
        tree_ = std::make_unique<TempTree>();
        QVERIFY(tree_->make({"root/a.txt", "root/sub/b.txt", "root/empty/", "elsewhere/v.txt",
                             "outside.txt", "root/out -> ../outside.txt"}));
        finished_.clear();
        notes_.clear();
    }

    void versionNamesTheExtensionsServed() {
        login("RWDBM");
        PacketWriter init(Init);
        ReplyReader r(sftp_->answer(payloadOf(init.u32(3))));
        QCOMPARE(r.u8(), quint8(Version));
        QCOMPARE(r.u32(), 3u);
        QList<QByteArray> names;
        while (r.ok && !r.atEnd()) {
            names << r.string();
            r.string();
        }
        QVERIFY(r.ok);
        QCOMPARE(names, (QList<QByteArray>{"posix-rename@openssh.com", "fsync@openssh.com",
                                           "limits@openssh.com", "statvfs@openssh.com"}));
    }

    // OpenSSH's client sizes its requests by the limits told: each must be
    // honoured, or the first full-size request of a transfer breaks it.
    void theLimitsToldAreTheLimitsKept() {
        login("RWDBM");
        PacketWriter ask(Extended);
        ReplyReader r(sftp_->answer(payloadOf(ask.u32(9).string("limits@openssh.com"))));
        QCOMPARE(r.u8(), quint8(ExtendedReply));
        QCOMPARE(r.u32(), 9u);
        const quint64 packet = r.u64(), readLength = r.u64(), writeLength = r.u64(),
                      handles = r.u64();
        QVERIFY(r.ok && r.atEnd());
        QVERIFY(readLength >= 32 * 1024 && writeLength >= 32 * 1024);
        QCOMPARE(handles, quint64(kMaxOpenHandles));

        // A write of the largest size, framed as the client frames it.
        const QByteArray data(qsizetype(writeLength), 'w');
        const QByteArray handle = open("big.bin", OpenWrite | OpenCreate).handle;
        PacketWriter w(Write);
        w.u32(nextId_++).string(handle).u64(0).string(data);
        const QByteArray framed = w.finish();
        QVERIFY(quint64(framed.size() - 4) <= packet);
        PacketFramer framer;
        framer.append(framed);
        const std::optional<QByteArray> payload = framer.next();
        QVERIFY(payload && !framer.failed());
        QCOMPARE(readReply(sftp_->answer(*payload)).status, quint32(Ok));
        QCOMPARE(close(handle).status, quint32(Ok));

        // A read of the largest size is answered whole, in one packet no longer than told.
        const QByteArray in = open("big.bin", OpenRead).handle;
        PacketWriter q(Read);
        q.u32(nextId_++).string(in).u64(0).u32(quint32(readLength));
        const QByteArray reply = sftp_->answer(payloadOf(q));
        QVERIFY(quint64(reply.size() - 4) <= packet);
        QCOMPARE(readReply(reply).data.size(), qsizetype(qMin(readLength, writeLength)));
    }

    void pathsStayInsideTheRoot_data() {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<quint32>("status");
        addRow("dot-dot above the root", QByteArray("../outside.txt"), quint32(NoSuchFile));
        addRow("a host path", QByteArray("HOST"), quint32(NoSuchFile));
        addRow("a link out of the root", QByteArray("out"), quint32(PermissionDenied));
        addRow("dot-dot back inside", QByteArray("sub/../a.txt"), quint32(Ok));
        addRow("a virtual folder", QByteArray("/v/v.txt"), quint32(Ok));
    }
    void pathsStayInsideTheRoot() {
        QFETCH(QByteArray, path);
        QFETCH(quint32, status);
        if (path == "HOST")
            path = tree_->at("outside.txt").toUtf8();
        login("RWDBM");
        const Reply opened = open(path, OpenRead);
        if (status == Ok) {
            QCOMPARE(opened.type, quint8(HandleReply));
            QCOMPARE(read(opened.handle, 0, 100).data, QByteArray("12345"));
        } else {
            QCOMPARE(opened.type, quint8(StatusReply));
            QCOMPARE(opened.status, status);
        }
        // Nothing outside is ever written or removed either.
        QVERIFY(open(path == "out" ? QByteArray("out") : "../outside.txt",
                     OpenWrite | OpenCreate | OpenTruncate)
                        .type != HandleReply ||
                tree_->read("outside.txt") == "12345");
        request(Remove, "../outside.txt");
        QCOMPARE(tree_->read("outside.txt"), QByteArray("12345"));
    }

    void clientPathsAreNormalised_data() {
        QTest::addColumn<QByteArray>("given");
        QTest::addColumn<QString>("expected");
        addRow("empty", QByteArray(""), "/");
        addRow("relative", QByteArray("a/b"), "/a/b");
        addRow("above the root", QByteArray("/../.."), "/");
        addRow("above then down", QByteArray("../x/./y/../z"), "/x/z");
        addRow("dot-dot-name kept", QByteArray("/..x"), "/..x");
    }
    void clientPathsAreNormalised() {
        QFETCH(QByteArray, given);
        QFETCH(QString, expected);
        QCOMPARE(clientPathOf(given), expected);
        login("");
        const Reply r = request(Realpath, given);
        QCOMPARE(r.type, quint8(NameReply));
        QCOMPARE(r.names, QList<QByteArray>{expected.toUtf8()});
    }

    void filesMoveByteForByteAtAnyOffset() {
        login("RWDBM");
        const Reply h = open("up.bin", OpenWrite | OpenCreate | OpenTruncate);
        QCOMPARE(h.type, quint8(HandleReply));
        QByteArray expected(300000, '\0');
        for (int i = 0; i < expected.size(); ++i)
            expected[i] = char(i * 7);
        // Pieces written out of order, as pipelining clients do.
        QCOMPARE(write(h.handle, 200000, expected.mid(200000)).status, quint32(Ok));
        QCOMPARE(write(h.handle, 0, expected.first(200000)).status, quint32(Ok));
        QCOMPARE(close(h.handle).status, quint32(Ok));
        QCOMPARE(tree_->read("root/up.bin"), expected);

        const Reply r = open("up.bin", OpenRead);
        QByteArray got;
        for (int i = 0; i < 20 && got.size() < expected.size(); ++i) {
            const Reply d = read(r.handle, quint64(got.size()), 1 << 20);
            QCOMPARE(d.type, quint8(DataReply));
            QVERIFY(d.data.size() <= qsizetype(kMaxReadLength));
            got += d.data;
        }
        QCOMPARE(got, expected);
        QCOMPARE(read(r.handle, quint64(expected.size()), 10).status, quint32(Eof));
        QCOMPARE(read(r.handle, 299990, 100).data, expected.last(10));
        QCOMPARE(close(r.handle).status, quint32(Ok));
        QCOMPARE(close(r.handle).status, quint32(Failure)); // closed already

        QCOMPARE(finished_, QStringList({"upload /up.bin 300000 complete",
                                         "download /up.bin 300010 complete"}));
    }

    void openFlagsRenamesAndRemovals() {
        login("RWDBM");
        Reply h = open("a.txt", OpenWrite | OpenAppend);
        write(h.handle, 0, "++");
        close(h.handle);
        QCOMPARE(tree_->read("root/a.txt"), QByteArray("12345++"));
        h = open("a.txt", OpenWrite);
        write(h.handle, 1, "x");
        close(h.handle);
        QCOMPARE(tree_->read("root/a.txt"), QByteArray("1x345++"));
        h = open("a.txt", OpenWrite | OpenCreate | OpenExclusive);
        QCOMPARE(h.status, quint32(Failure));
        QCOMPARE(open("none.txt", OpenWrite).status, quint32(NoSuchFile));
        h = open("a.txt", OpenWrite | OpenCreate | OpenTruncate);
        close(h.handle);
        QCOMPARE(tree_->read("root/a.txt"), QByteArray());
        // A download handle takes no writes, an upload handle gives no reads.
        h = open("sub/b.txt", OpenRead);
        QCOMPARE(write(h.handle, 0, "x").status, quint32(Failure));
        QCOMPARE(tree_->read("root/sub/b.txt"), QByteArray("12345"));
        QCOMPARE(request(Rename, "sub/b.txt", "/moved.txt").status, quint32(Ok));
        QCOMPARE(tree_->read("root/moved.txt"), QByteArray("12345"));
        QCOMPARE(request(Remove, "moved.txt").status, quint32(Ok));
        QVERIFY(!QFileInfo::exists(tree_->at("root/moved.txt")));
        // A rename never replaces what exists.
        QCOMPARE(request(Rename, "a.txt", "sub").status, quint32(Failure));
    }

    // An upload that adds to a file (resumed at an offset, or appended) is
    // told with the size of the whole file, as the upload action names it.
    void resumedUploadsTellTheWholeFile_data() {
        QTest::addColumn<quint32>("flags");
        QTest::addColumn<quint64>("offset");
        addRow("resumed at the end", quint32(OpenWrite), quint64(5));
        addRow("resumed short of the end", quint32(OpenWrite | OpenCreate), quint64(3));
        addRow("appended", quint32(OpenWrite | OpenAppend), quint64(0));
        addRow("replaced", quint32(OpenWrite | OpenCreate | OpenTruncate), quint64(0));
    }
    void resumedUploadsTellTheWholeFile() {
        QFETCH(quint32, flags);
        QFETCH(quint64, offset);
        login("RWDBM");
        const Reply h = open("a.txt", flags);
        QCOMPARE(h.type, quint8(HandleReply));
        QCOMPARE(write(h.handle, offset, "abcdefg").status, quint32(Ok));
        QCOMPARE(close(h.handle).status, quint32(Ok));
        const QByteArray stored = tree_->read("root/a.txt");
        QCOMPARE(stored.size(), (flags & OpenTruncate ? 0 : (flags & OpenAppend ? 5 : offset)) + 7);
        QCOMPARE(finished_, QStringList{"upload /a.txt 7 complete"});
        QCOMPARE(notes_.first().fileSize, stored.size());
    }

    // A download the file layer could not serve whole (the file was cut
    // short meanwhile) ends failed, however the client closes it.
    void aDownloadCutShortIsNoCompleteOne() {
        QVERIFY(QFile::resize(tree_->at("root/a.txt"), 300000));
        login("R");
        const Reply h = open("a.txt", OpenRead);
        QCOMPARE(read(h.handle, 0, 100000).data.size(), 100000);
        QVERIFY(QFile::resize(tree_->at("root/a.txt"), 100000));
        QCOMPARE(read(h.handle, 100000, 100000).status, quint32(Eof));
        QCOMPARE(close(h.handle).status, quint32(Ok));
        QCOMPARE(finished_, QStringList{"download /a.txt 100000 failed"});
        QCOMPARE(
            notes_.first().failure,
            QString("file accorciato durante il trasferimento, inviati 100000 byte su 300000"));
        // Read to its end, even past it, a file is a whole download.
        const Reply again = open("a.txt", OpenRead);
        QCOMPARE(read(again.handle, 0, 200000).data.size(), 100000);
        QCOMPARE(read(again.handle, 100000, 100000).status, quint32(Eof));
        QCOMPARE(read(again.handle, 500000, 100).status, quint32(Eof));
        QCOMPARE(close(again.handle).status, quint32(Ok));
        QCOMPARE(finished_.last(), QString("download /a.txt 100000 complete"));
        QVERIFY(notes_.last().failure.isEmpty());
    }

    void foldersListInBatchesWithVirtualFolders() {
        QVERIFY(tree_->make([] {
            QStringList many;
            for (int i = 0; i < 250; ++i)
                many << QStringLiteral("root/many/f%1").arg(i, 3, 10, QLatin1Char('0'));
            return many;
        }()));
        login("");
        Reply h = request(Opendir, "/");
        QList<QByteArray> names;
        for (Reply r = request(Readdir, h.handle); r.type == NameReply;
             r = request(Readdir, h.handle))
            names += r.names;
        QVERIFY(names.contains("a.txt") && names.contains("v") && names.contains("sub"));

        h = request(Opendir, "many");
        int batches = 0;
        names.clear();
        for (Reply r = request(Readdir, h.handle); r.type == NameReply && batches < 10;
             r = request(Readdir, h.handle), ++batches)
            names += r.names;
        QCOMPARE(names.size(), 252); // with "." and ".."
        QCOMPARE(batches, 3);
        QCOMPARE(request(Readdir, h.handle).status, quint32(Eof));
        QCOMPARE(request(Opendir, "a.txt").status, quint32(Failure));
        QCOMPARE(request(Opendir, "none").status, quint32(NoSuchFile));
    }

    void linksAreNeverMadeOrTold() {
        login("RWDBM");
        QCOMPARE(request(Readlink, "out").status, quint32(PermissionDenied));
        QCOMPARE(request(Symlink, "link", "/etc/passwd").status, quint32(PermissionDenied));
        QCOMPARE(request(Extended, "hardlink@openssh.com", "a.txt", "h.txt").status,
                 quint32(PermissionDenied));
        QVERIFY(!QFileInfo::exists(tree_->at("root/link")));
        QVERIFY(!QFileInfo::exists(tree_->at("root/h.txt")));
    }

    void setstatSetsTimesAndModesButNeverOwners() {
        const Attributes mode{.flags = Attributes::Permissions, .permissions = 0100600};
        login("RDBM");
        QCOMPARE(request(Setstat, "a.txt", mode).status, quint32(PermissionDenied));
        QCOMPARE(QFileInfo(tree_->at("root/a.txt")).permissions() & QFile::ReadGroup,
                 QFile::ReadGroup);
        login("W");
        QCOMPARE(request(Setstat, "a.txt", mode).status, quint32(Ok));
        QCOMPARE(QFileInfo(tree_->at("root/a.txt")).permissions() & QFile::ReadGroup,
                 QFile::Permissions());
        login("RWDBM");
        const Attributes time{
            .flags = Attributes::AccessModTime, .atime = 1000000000, .mtime = 1000000000};
        QCOMPARE(request(Setstat, "a.txt", time).status, quint32(Ok));
        QCOMPARE(QFileInfo(tree_->at("root/a.txt")).lastModified().toSecsSinceEpoch(), 1000000000);
        const Reply st = request(Stat, "a.txt");
        QCOMPARE(st.attrs.mtime, 1000000000u);
        QCOMPARE(st.attrs.size, 5u);
        QCOMPARE(request(Setstat, "a.txt", Attributes{.flags = Attributes::UidGid}).status,
                 quint32(PermissionDenied));
    }

    void handlesAreLimitedAndChecked() {
        login("R");
        QList<QByteArray> open_;
        for (int i = 0; i < kMaxOpenHandles; ++i)
            open_ << open("a.txt", OpenRead).handle;
        QCOMPARE(open("a.txt", OpenRead).status, quint32(Failure));
        QCOMPARE(close(open_.takeFirst()).status, quint32(Ok));
        QCOMPARE(open("a.txt", OpenRead).type, quint8(HandleReply));
        QCOMPARE(read("nonsense", 0, 10).status, quint32(Failure));
        // A closed connection ends what was open as aborted.
        finished_.clear();
        sftp_->abortAll();
        QCOMPARE(finished_, QStringList(kMaxOpenHandles, "download /a.txt 0 aborted"));
    }

    void brokenPacketsAreAnsweredNotFollowed() {
        login("RWDBM");
        PacketWriter w(Remove);
        w.u32(77).u32(100).u8('a'); // a name longer than the packet
        const Reply r = send(w);
        QCOMPARE(r.id, 77u);
        QCOMPARE(r.status, quint32(BadMessage));
        QVERIFY(QFileInfo::exists(tree_->at("root/a.txt")));
        QCOMPARE(request(150).status, quint32(OpUnsupported));
    }
};

QTEST_GUILESS_MAIN(TestSftpRequests)
#include "test_sftprequests.moc"
