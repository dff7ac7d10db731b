#pragma once
// What both ends of remote administration agree on: how a server is named
// (HOST[:PORT], IPv6 in brackets), the port it listens on by default, the
// fingerprint an administrator compares (SHA-256 of the certificate's
// public key, written "SHA256:" and base64 without padding, as OpenSSH
// writes key fingerprints), and the TLS a client speaks: TLS 1.3 only, the
// certificate checked against the pinned fingerprint, not a CA.

#include <QSslConfiguration>
#include <QString>
#include <optional>

class QSslCertificate;

namespace kv {

inline constexpr quint16 kDefaultAdminPort = 14021;

struct RemoteServerAddress {
    QString host; // a name or an address, without brackets
    quint16 port = kDefaultAdminPort;
    // "host:port", "[::1]:port" for an IPv6 address: the key of known_servers.
    QString text() const;
    bool operator==(const RemoteServerAddress&) const = default;
};

// "HOST", "HOST:PORT", "[IPV6]" or "[IPV6]:PORT" (a bare IPv6 address is
// taken whole); nullopt with the Italian reason in `error`.
std::optional<RemoteServerAddress> parseRemoteServer(const QString& text, QString* error = nullptr);

// "SHA256:..." of the certificate's public key (its SPKI, DER); empty for a
// null certificate.
QString adminFingerprint(const QSslCertificate& certificate);
// The same for a PEM certificate file; empty when it cannot be read.
QString adminFingerprintOfFile(const QString& certificatePemFile);

// A client's TLS: 1.3 only, no CA check (the fingerprint is compared instead).
QSslConfiguration remoteAdminClientTls();

} // namespace kv
