// Chunked file hashing on a bounded pool of worker threads.
#include "files/FileHasher.h"

#include <QCryptographicHash>
#include <QIODevice>
#include <QPromise>

#include <array>

namespace kv::files {

namespace {

// Large enough that the per-chunk cost vanishes, small enough that a
// cancelled hash stops within milliseconds.
constexpr qint64 kChunkBytes = 1 << 20;

// CRC-32 as zlib and PKZIP compute it (reflected polynomial 0xEDB88320).
constexpr std::array<quint32, 256> makeCrcTable() {
    std::array<quint32, 256> table{};
    for (quint32 i = 0; i < 256; ++i) {
        quint32 c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}
constexpr std::array<quint32, 256> kCrcTable = makeCrcTable();

quint32 crc32Update(quint32 crc, const char* data, qint64 size) {
    for (qint64 i = 0; i < size; ++i)
        crc = kCrcTable[(crc ^ quint8(data[i])) & 0xFF] ^ (crc >> 8);
    return crc;
}

QCryptographicHash::Algorithm cryptographic(HashAlgorithm algorithm) {
    switch (algorithm) {
    case HashAlgorithm::Sha1:
        return QCryptographicHash::Sha1;
    case HashAlgorithm::Md5:
        return QCryptographicHash::Md5;
    case HashAlgorithm::Sha256:
    case HashAlgorithm::Crc32:
        break;
    }
    return QCryptographicHash::Sha256;
}

struct Named {
    HashAlgorithm algorithm;
    const char* name;
};
constexpr Named kNames[] = {{HashAlgorithm::Sha256, "SHA-256"},
                            {HashAlgorithm::Sha1, "SHA-1"},
                            {HashAlgorithm::Md5, "MD5"},
                            {HashAlgorithm::Crc32, "CRC32"}};

} // namespace

QString hashName(HashAlgorithm algorithm) {
    for (const Named& n : kNames) {
        if (n.algorithm == algorithm)
            return QString::fromLatin1(n.name);
    }
    return {};
}

std::optional<HashAlgorithm> hashByName(QStringView name) {
    for (const Named& n : kNames) {
        if (name.compare(QLatin1StringView(n.name), Qt::CaseInsensitive) == 0)
            return n.algorithm;
    }
    return std::nullopt;
}

HashResult hashDevice(QIODevice& device, HashAlgorithm algorithm,
                      const std::function<bool()>& cancelled) {
    HashResult result;
    const bool crc = algorithm == HashAlgorithm::Crc32;
    QCryptographicHash hash(cryptographic(algorithm));
    quint32 crcValue = 0xFFFFFFFFu;
    QByteArray chunk(kChunkBytes, Qt::Uninitialized);
    for (;;) {
        if (cancelled && cancelled())
            return result;
        const qint64 got = device.read(chunk.data(), kChunkBytes);
        if (got < 0) {
            result.systemError = device.errorString();
            return result;
        }
        if (got == 0)
            break;
        if (crc)
            crcValue = crc32Update(crcValue, chunk.constData(), got);
        else
            hash.addData(QByteArrayView(chunk.constData(), got));
        result.bytes += got;
    }
    result.ok = true;
    result.hex =
        crc ? QByteArray::number(~crcValue, 16).rightJustified(8, '0') : hash.result().toHex();
    return result;
}

HashWorkers::HashWorkers(int atOnce) : stopping_(std::make_shared<std::atomic<bool>>(false)) {
    pool_.setMaxThreadCount(std::max(1, atOnce));
}

HashWorkers::~HashWorkers() {
    stopping_->store(true);
    pool_.clear(); // those not started yet end cancelled with their promise
    pool_.waitForDone();
}

QFuture<HashResult> HashWorkers::start(std::unique_ptr<QFile> file, HashAlgorithm algorithm) {
    auto promise = std::make_shared<QPromise<HashResult>>();
    QFuture<HashResult> future = promise->future();
    promise->start();
    // The worker thread alone uses the file from now on.
    file->moveToThread(nullptr);
    std::shared_ptr<QFile> shared(file.release());
    pool_.start([promise, shared, algorithm, stopping = stopping_] {
        const HashResult result = hashDevice(
            *shared, algorithm, [&] { return stopping->load() || promise->isCanceled(); });
        shared->close();
        promise->addResult(result);
        promise->finish();
    });
    return future;
}

} // namespace kv::files
