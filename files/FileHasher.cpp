// Chunked file hashing on a bounded pool of worker threads.
#include "files/FileHasher.h"

#include <QIODevice>
#include <QPromise>
#include <QtEndian>

#include <openssl/evp.h>

#include <array>
#include <cstring>

namespace kv::files {

namespace {

// Large enough that the per-chunk cost vanishes, small enough that a
// cancelled hash stops within milliseconds.
constexpr qint64 kChunkBytes = 1 << 20;

// CRC-32 as zlib and PKZIP compute it (reflected polynomial 0xEDB88320),
// eight bytes per step ("slicing by 8"): table k gives the CRC of a byte
// followed by k zero bytes.
using CrcTables = std::array<std::array<quint32, 256>, 8>;

constexpr CrcTables makeCrcTables() {
    CrcTables t{};
    for (quint32 i = 0; i < 256; ++i) {
        quint32 c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][i] = c;
    }
    for (quint32 i = 0; i < 256; ++i) {
        for (int k = 1; k < 8; ++k)
            t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    }
    return t;
}
constexpr CrcTables kCrc = makeCrcTables();

quint32 crc32Update(quint32 crc, const char* data, qint64 size) {
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    for (; size >= 8; size -= 8, p += 8) {
        quint32 low = 0;
        quint32 high = 0;
        std::memcpy(&low, p, 4);
        std::memcpy(&high, p + 4, 4);
        if constexpr (Q_BYTE_ORDER == Q_BIG_ENDIAN) {
            low = qFromLittleEndian(low);
            high = qFromLittleEndian(high);
        }
        low ^= crc;
        crc = kCrc[7][low & 0xFF] ^ kCrc[6][(low >> 8) & 0xFF] ^ kCrc[5][(low >> 16) & 0xFF] ^
              kCrc[4][low >> 24] ^ kCrc[3][high & 0xFF] ^ kCrc[2][(high >> 8) & 0xFF] ^
              kCrc[1][(high >> 16) & 0xFF] ^ kCrc[0][high >> 24];
    }
    for (; size > 0; --size, ++p)
        crc = kCrc[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return crc;
}

const EVP_MD* digestOf(HashAlgorithm algorithm) {
    switch (algorithm) {
    case HashAlgorithm::Sha1:
        return EVP_sha1();
    case HashAlgorithm::Md5:
        return EVP_md5();
    case HashAlgorithm::Sha256:
    case HashAlgorithm::Crc32:
        break;
    }
    return EVP_sha256();
}

// One running digest, freed whatever way the hash ends.
struct DigestContext {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~DigestContext() { EVP_MD_CTX_free(ctx); }
};

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
    quint32 crcValue = 0xFFFFFFFFu;
    DigestContext digest;
    if (!crc && (!digest.ctx || EVP_DigestInit_ex(digest.ctx, digestOf(algorithm), nullptr) != 1)) {
        result.systemError = QStringLiteral("digest not available");
        return result;
    }
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
            EVP_DigestUpdate(digest.ctx, chunk.constData(), size_t(got));
        result.bytes += got;
    }
    if (crc) {
        result.hex = QByteArray::number(~crcValue, 16).rightJustified(8, '0');
    } else {
        unsigned char out[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        if (EVP_DigestFinal_ex(digest.ctx, out, &size) != 1) {
            result.systemError = QStringLiteral("digest failed");
            return result;
        }
        result.hex = QByteArray(reinterpret_cast<const char*>(out), int(size)).toHex();
    }
    result.ok = true;
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
