#pragma once
// How the engine protects connections with TLS (FTPS): whether AUTH is
// offered or required, the implicit-TLS listener, the certificate files and
// the data-connection session check. Filled by the program before a start.

#include <QString>

namespace kv::ftp {

enum class TlsMode {
    Off,      // no AUTH/PBSZ/PROT: plain FTP only
    On,       // AUTH TLS offered
    Required, // named accounts must log in and move data under TLS
};

enum class TlsVersion { V1_2, V1_3 };

struct TlsSettings {
    TlsMode mode = TlsMode::Off;
    // A second listener on the same address where TLS starts at once; 0: none.
    quint16 implicitPort = 0;
    // PEM files, already resolved to absolute paths; the certificate file may
    // hold the chain.
    QString certificateFile;
    QString privateKeyFile;
    // A protected data connection must resume the TLS session of its own
    // control connection.
    bool requireSessionReuse = true;
    TlsVersion minVersion = TlsVersion::V1_2;
    TlsVersion maxVersion = TlsVersion::V1_3;

    bool enabled() const { return mode != TlsMode::Off; }
    friend bool operator==(const TlsSettings&, const TlsSettings&) = default;
};

} // namespace kv::ftp
