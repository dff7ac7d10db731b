#pragma once
// The CA's renewal information (RFC 9773): the name a certificate goes by
// in the directory's renewalInfo resource, and the window the CA suggests
// for its renewal.

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace kv::acme {

struct SuggestedWindow {
    QDateTime start; // UTC
    QDateTime end;   // UTC, after start
};

// "AKI.SERIAL" (both base64url) for the first certificate in `pem`; empty
// when it is not a certificate or names no authority key identifier.
QByteArray renewalInfoCertId(const QByteArray& pem);

// The URL to GET for that certificate under the directory's renewalInfo.
QString renewalInfoUrl(const QString& base, const QByteArray& certId);

// The suggested window of a renewalInfo answer; none when the answer is not
// one (bad JSON, a missing or reversed window).
std::optional<SuggestedWindow> parseRenewalInfo(const QByteArray& body);

} // namespace kv::acme
