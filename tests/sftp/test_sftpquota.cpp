// An account's quota over SFTP, request by request: an upload opened with
// the quota used up fails with "quota superata" before any data, a write
// that reaches it is cut there and fails (the part received stays and
// counts), writes at an offset or appended pay only for growth, an upload
// over an existing file replaces it only when complete, removals free, and
// statvfs@openssh.com gives the quota as the file system's size.

#include "session/LimitsBook.h"
#include "session/QuotaKeeper.h"
#include "sftp/SftpRequests.h"
#include "tests/sftp/SftpTestPackets.h"
#include "tests/support/TempTree.h"

#include <QTest>

using namespace kv::sftp;
using kv::session::LimitsBook;
using kv::session::QuotaKeeper;
using kv::session::QuotaTally;
using sftptest::payloadOf;
using sftptest::ReplyReader;

namespace {

constexpr qint32 kBob = 3;

struct Answer {
    quint8 type = 0;
    quint32 status = 0xFFFFFFFF;
    QByteArray message; // of a status
    QByteArray handle;
    QList<quint64> numbers; // of an extended reply
};

Answer readAnswer(const QByteArray& packet) {
    ReplyReader r(packet);
    Answer out;
    out.type = r.u8();
    r.u32();
    if (out.type == StatusReply) {
        out.status = r.u32();
        out.message = r.string();
    } else if (out.type == HandleReply) {
        out.handle = r.string();
    } else if (out.type == ExtendedReply) {
        while (r.ok && !r.atEnd())
            out.numbers << r.u64();
    }
    return out;
}

kv::files::AccountLimits quota(qint64 bytes, qint64 files = 0) {
    kv::files::AccountLimits l;
    l.quotaBytes = bytes;
    l.quotaFiles = files;
    return l;
}

} // namespace

Q_DECLARE_METATYPE(kv::session::QuotaTally)

class TestSftpQuota : public QObject {
    Q_OBJECT
    std::unique_ptr<TempTree> tree_;
    LimitsBook book_;
    std::unique_ptr<QuotaKeeper> keeper_;
    std::unique_ptr<SftpRequests> sftp_;
    QStringList logged_;
    QStringList finished_;
    quint32 nextId_ = 1;

    template <typename... Fields> Answer request(quint8 type, const Fields&... fields) {
        PacketWriter w(type);
        w.u32(nextId_++);
        (put(w, fields), ...);
        return readAnswer(sftp_->answer(payloadOf(w)));
    }
    static void put(PacketWriter& w, QByteArrayView s) { w.string(s); }
    static void put(PacketWriter& w, quint32 n) { w.u32(n); }
    static void put(PacketWriter& w, quint64 n) { w.u64(n); }
    static void put(PacketWriter& w, const Attributes& a) { w.attributes(a); }
    Answer open(const QByteArray& path, quint32 flags) {
        return request(Open, path, flags, Attributes{});
    }
    Answer write(const QByteArray& handle, quint64 offset, qint64 size) {
        return request(Write, handle, offset, QByteArray(int(size), 'n'));
    }
    QByteArray contents(const QString& name) const {
        QFile f(tree_->at("root/" + name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("missing");
    }
    // The account holds root/<name> of `size` bytes, counted.
    void seed(const QString& name, qint64 size) {
        QFile f(tree_->at("root/" + name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(int(size), 'o'));
        const kv::files::AccountLimits limits = book_.account(kBob);
        book_.setAccount(kBob, {});
        keeper_->reserve(kBob, size);
        keeper_->addFiles(kBob, 1);
        book_.setAccount(kBob, limits);
    }

private Q_SLOTS:
    void init() {
        sftp_.reset();
        tree_ = std::make_unique<TempTree>();
        QVERIFY(tree_->make({"root/sub/"}));
        book_.setAccount(kBob, quota(1000));
        keeper_ = std::make_unique<QuotaKeeper>(book_, nullptr);
        logged_.clear();
        finished_.clear();
        auto g = std::make_shared<kv::files::LoginGrant>();
        g->accountId = kBob;
        g->login = QStringLiteral("bob");
        g->rights = kv::files::Rights::all();
        g->root = tree_->at("root");
        SftpRequests::Observer o;
        o.log = [this](const QString& line) { logged_ << line; };
        o.finished = [this](const kv::session::TransferNote& t, kv::events::TransferOutcome) {
            finished_ << t.failure;
        };
        sftp_ =
            std::make_unique<SftpRequests>(std::make_unique<kv::files::FileService>(g, false), o);
        sftp_->setQuota(keeper_.get(), g);
    }

    void uploadWithTheQuotaUsedUpFailsBeforeAnyData() {
        seed("a.bin", 1000);
        const Answer a = open("/new.bin", OpenWrite | OpenCreate | OpenTruncate);
        QCOMPARE(a.status, quint32(Failure));
        QCOMPARE(a.message, QByteArray("quota superata"));
        QVERIFY(!QFile::exists(tree_->at("root/new.bin")));
        QVERIFY2(logged_.value(0).startsWith(
                     "Upload /new.bin rifiutato: quota superata per l'account bob"),
                 qPrintable(logged_.join('|')));
        // Reads and removals go on; a removal makes room.
        QCOMPARE(open("/a.bin", OpenRead).type, quint8(HandleReply));
        QCOMPARE(request(Remove, QByteArray("/a.bin")).status, quint32(Ok));
        QCOMPARE(keeper_->used(kBob), (QuotaTally{0, 0}));
        QCOMPARE(open("/new.bin", OpenWrite | OpenCreate | OpenTruncate).type, quint8(HandleReply));
    }

    void aWriteReachingTheQuotaIsCutAndFails() {
        const QByteArray h = open("/big.bin", OpenWrite | OpenCreate | OpenTruncate).handle;
        QCOMPARE(write(h, 0, 600).status, quint32(Ok));
        const Answer cut = write(h, 600, 600);
        QCOMPARE(cut.status, quint32(Failure));
        QCOMPARE(cut.message, QByteArray("quota superata"));
        QCOMPARE(write(h, 1000, 1).status, quint32(Failure));
        // Rewriting what is there costs nothing.
        QCOMPARE(write(h, 0, 1000).status, quint32(Ok));
        QCOMPARE(request(Close, h).status, quint32(Ok));
        QCOMPARE(contents("big.bin").size(), 1000);
        QCOMPARE(keeper_->used(kBob), (QuotaTally{1000, 1}));
        QCOMPARE(finished_, QStringList{"quota superata, file parziale di 1000 byte conservato"});
    }

    // Writes at an offset, with or without the append flag, pay only for
    // what they add; a truncating open frees the old size.
    void resumesPayOnlyForGrowth_data() {
        QTest::addColumn<quint32>("flags");
        QTest::addColumn<quint64>("offset");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QuotaTally>("used");
        QTest::addColumn<qint64>("fileSize");
        // The account holds old.bin of 600 bytes.
        QTest::newRow("append") << quint32(OpenWrite | OpenAppend) << quint64(0) << 300ll
                                << QuotaTally{900, 1} << 900ll;
        QTest::newRow("at the end")
            << quint32(OpenWrite) << quint64(600) << 400ll << QuotaTally{1000, 1} << 1000ll;
        QTest::newRow("inside") << quint32(OpenWrite) << quint64(100) << 500ll << QuotaTally{600, 1}
                                << 600ll;
        QTest::newRow("truncated first") << quint32(OpenWrite | OpenCreate | OpenTruncate)
                                         << quint64(0) << 1000ll << QuotaTally{1000, 1} << 1000ll;
    }
    void resumesPayOnlyForGrowth() {
        QFETCH(quint32, flags);
        QFETCH(quint64, offset);
        QFETCH(qint64, size);
        QFETCH(QuotaTally, used);
        QFETCH(qint64, fileSize);
        seed("old.bin", 600);
        const QByteArray h = open("/old.bin", flags).handle;
        QVERIFY(!h.isEmpty());
        QCOMPARE(write(h, offset, size).status, quint32(Ok));
        QCOMPARE(request(Close, h).status, quint32(Ok));
        QCOMPARE(keeper_->used(kBob), used);
        QCOMPARE(contents("old.bin").size(), fileSize);
    }

    void anOverwriteReplacesTheFileOnlyWhenComplete() {
        seed("a.txt", 600);
        QByteArray h = open("/a.txt", OpenWrite | OpenCreate | OpenTruncate).handle;
        QCOMPARE(write(h, 0, 800).status, quint32(Ok));
        QCOMPARE(contents("a.txt"), QByteArray(600, 'o')); // still the old one meanwhile
        QCOMPARE(write(h, 800, 300).status, quint32(Failure));
        QCOMPARE(request(Close, h).status, quint32(Ok));
        QCOMPARE(contents("a.txt"), QByteArray(600, 'o'));
        QCOMPARE(QDir(tree_->at("root")).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"a.txt"});
        QCOMPARE(keeper_->used(kBob), (QuotaTally{600, 1}));
        QCOMPARE(finished_.value(0), QString("quota superata, file precedente conservato"));
        h = open("/a.txt", OpenWrite | OpenCreate | OpenTruncate).handle;
        QCOMPARE(write(h, 0, 900).status, quint32(Ok));
        QCOMPARE(request(Close, h).status, quint32(Ok));
        QCOMPARE(contents("a.txt"), QByteArray(900, 'n'));
        QCOMPARE(keeper_->used(kBob), (QuotaTally{900, 1}));
    }

    void statvfsGivesTheQuotaAsTheFileSystem() {
        seed("a.bin", 300);
        PacketWriter w(Extended);
        w.u32(nextId_++).string("statvfs@openssh.com").string("/");
        const Answer a = readAnswer(sftp_->answer(payloadOf(w)));
        QCOMPARE(a.type, quint8(ExtendedReply));
        QCOMPARE(a.numbers.size(), 11);
        const quint64 unit = a.numbers[1];
        QVERIFY(unit > 0);
        QCOMPARE(a.numbers[2], 1000 / unit);         // blocks: the quota
        QCOMPARE(a.numbers[4], (1000 - 300) / unit); // available: what is left
    }
};

QTEST_GUILESS_MAIN(TestSftpQuota)
#include "test_sftpquota.moc"
