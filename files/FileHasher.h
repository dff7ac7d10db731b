#pragma once
// Hashes of files for checksum commands, computed off the caller's thread:
// a 1 GiB file takes seconds to read, and the event loop serving every
// session must not wait for it. A fixed number of workers run at once; the
// rest wait their turn. Every protocol that offers checksums shares this.

#include <QByteArray>
#include <QFile>
#include <QFuture>
#include <QString>
#include <QStringView>
#include <QThreadPool>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QIODevice;

namespace kv::files {

enum class HashAlgorithm { Sha256, Sha1, Md5, Crc32 };

// The IANA-style name ("SHA-256", "SHA-1", "MD5", "CRC32").
QString hashName(HashAlgorithm algorithm);
// The algorithm named, in any letter case; nullopt for one not offered.
std::optional<HashAlgorithm> hashByName(QStringView name);

struct HashResult {
    bool ok = false;
    QByteArray hex;      // lower-case hexadecimal digest (CRC32: 8 digits)
    qint64 bytes = 0;    // how many bytes went into it
    QString systemError; // when reading failed
};

// Reads `device` from its position to its end in chunks and hashes what it
// reads. `cancelled` is asked between chunks; a cancelled run is not ok.
HashResult hashDevice(QIODevice& device, HashAlgorithm algorithm,
                      const std::function<bool()>& cancelled = {});

class HashWorkers {
public:
    // At most `atOnce` hashes are computed at the same time.
    explicit HashWorkers(int atOnce = 2);
    // Stops the hashes still running (their futures end cancelled) and waits.
    ~HashWorkers();
    HashWorkers(const HashWorkers&) = delete;
    HashWorkers& operator=(const HashWorkers&) = delete;

    // Hashes an open file from its position to its end; the file is closed
    // when done. Cancelling the future stops the work at the next chunk.
    QFuture<HashResult> start(std::unique_ptr<QFile> file, HashAlgorithm algorithm);

private:
    QThreadPool pool_;
    std::shared_ptr<std::atomic<bool>> stopping_;
};

} // namespace kv::files
