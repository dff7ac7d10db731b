// Text sent as it is made (listings): made only as fast as the client takes
// it, so a client that stops reading holds a few tens of kilobytes whatever
// the listing's size (the pieces themselves: test_datachannel; files and
// sendfile downloads through real sessions: test_ftpserver).

#include "ftp/StreamSocket.h"
#include "ftp/Transfer.h"

#include <QSignalSpy>
#include <QTest>

using namespace kv::ftp;

namespace {

// A connection whose client reads only when the test says: what is written
// waits here until drain().
class HeldStream : public StreamSocket {
    Q_OBJECT
public:
    HeldStream() : StreamSocket(nullptr) {}
    qint64 bytesAvailable() const override { return 0; }
    qint64 read(char*, qint64) override { return 0; }
    void write(const QByteArray& data) override { queued += data; }
    qint64 bytesToWrite() const override { return queued.size(); }
    bool isConnected() const override { return true; }
    // The client takes everything queued.
    void drain() {
        received += queued;
        queued.clear();
        Q_EMIT bytesWritten();
    }
    QByteArray queued;
    QByteArray received;
};

// Most a listing may hold in its connection's queue: the refill mark (32
// KiB) plus one piece.
constexpr qsizetype kHeldAtMost = 64 * 1024;

} // namespace

class TestSendTransfer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void textIsMadeOnlyAsTheClientTakesIt_data() {
        QTest::addColumn<qsizetype>("pieceBytes");
        QTest::newRow("listing pieces") << qsizetype(16 * 1024);
        QTest::newRow("tiny pieces") << qsizetype(100);
        QTest::newRow("a piece above the refill mark") << qsizetype(33 * 1024);
    }
    void textIsMadeOnlyAsTheClientTakesIt() {
        QFETCH(qsizetype, pieceBytes);
        constexpr qsizetype total = 4 * 1024 * 1024; // a folder of some 50,000 entries
        QByteArray made;
        auto more = [&made, pieceBytes] {
            if (made.size() >= total)
                return QByteArray();
            const QByteArray piece(std::min(pieceBytes, total - made.size()),
                                   char('a' + made.size() / pieceBytes % 26));
            made += piece;
            return piece;
        };
        auto* stream = new HeldStream;
        SendTransfer transfer(stream, "head\r\n", 0, nullptr, more);
        QSignalSpy finished(&transfer, &Transfer::finished);
        transfer.start();
        for (int round = 0; round < 100000 && finished.isEmpty(); ++round) {
            QVERIFY2(stream->queued.size() <= kHeldAtMost,
                     qPrintable(QString::number(stream->queued.size())));
            QVERIFY(made.size() - stream->received.size() <= kHeldAtMost);
            stream->drain();
        }
        QCOMPARE(finished.size(), 1);
        const auto result = finished.first().first().value<TransferResult>();
        QVERIFY(result.complete());
        QCOMPARE(result.bytes, total + 6);
        QCOMPARE(stream->received, "head\r\n" + made);
    }
};

QTEST_GUILESS_MAIN(TestSendTransfer)
#include "test_sendtransfer.moc"
