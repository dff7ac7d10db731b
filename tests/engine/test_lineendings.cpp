// ASCII-mode conversion must be exact across any chunk boundary.

#include "engine/LineEndings.h"
#include "tests/support/DataRow.h"

#include <QTest>

using namespace kv::engine;
using namespace Qt::Literals::StringLiterals;

namespace {
// `data` fed to `converter` in pieces of `chunk` bytes.
template <typename Converter>
QByteArray inChunks(Converter& converter, QByteArrayView data, int chunk) {
    QByteArray out, piece;
    for (qsizetype i = 0; i < data.size(); i += chunk) {
        converter.convert(data.sliced(i, std::min<qsizetype>(chunk, data.size() - i)), piece);
        out += piece;
    }
    return out;
}
} // namespace

class TestLineEndings : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void conversionIsIndependentOfChunking_data() {
        QTest::addColumn<QByteArray>("disk");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QByteArray>("back"); // what an upload of `wire` stores
        addRow("unix lines", "a\nb\n"_ba, "a\r\nb\r\n"_ba, "a\nb\n"_ba);
        addRow("already crlf", "a\r\nb"_ba, "a\r\nb"_ba, "a\nb"_ba);
        addRow("lone cr kept", "a\rb\r"_ba, "a\rb\r"_ba, "a\rb\r"_ba);
        addRow("empty lines", "\n\n"_ba, "\r\n\r\n"_ba, "\n\n"_ba);
        addRow("binary bytes", "\0\xff\n"_ba, "\0\xff\r\n"_ba, "\0\xff\n"_ba);
        addRow("empty", QByteArray(), QByteArray(), QByteArray());
    }
    void conversionIsIndependentOfChunking() {
        QFETCH(QByteArray, disk);
        QFETCH(QByteArray, wire);
        // Every chunk size, including 1 byte, which splits every CR LF pair.
        for (int chunk = 1; chunk <= std::max<qsizetype>(1, wire.size()); ++chunk) {
            AsciiEncoder encoder;
            QCOMPARE(inChunks(encoder, disk, chunk), wire);
            AsciiDecoder decoder;
            const QByteArray stored = inChunks(decoder, wire, chunk);
            QTEST(stored + decoder.finish(), "back");
        }
    }
};

QTEST_GUILESS_MAIN(TestLineEndings)
#include "test_lineendings.moc"
