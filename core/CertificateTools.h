#pragma once
// What the program does with TLS certificates beyond the engine: making the
// files ready before a start, describing a certificate for the operator and
// replacing the generated one. Each may be unset: then nothing is done and
// the settings panel offers nothing for it.

#include "ftp/TlsSettings.h"

#include <QString>
#include <functional>

namespace kv {

struct CertificateTools {
    // Before a TLS start: make the files ready; the reason it failed, or empty.
    std::function<QString(const ftp::TlsSettings&)> prepare;
    // The fingerprint and validity line shown for a certificate file.
    std::function<QString(const QString& certificateFile)> describe;
    // Replaces the generated certificate and key; the reason it failed, or empty.
    std::function<QString(const QString& certificateFile, const QString& keyFile)> generate;
};

} // namespace kv
