#pragma once
// Blocking HTTPS exchanges with the CA over libcurl: certificates always
// verified, against the system's store and the extra PEM certificates the
// operator names (a private or test CA). Only the worker thread of
// AcmeHttpTransport uses an HttpSession.

#include "acme/AcmeMessages.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <optional>

namespace kv::acme {

// One libcurl handle for every exchange of an attempt: the connection to the
// CA and its TLS session stay open between requests, as an order makes ten
// or so in a row (a new handshake, with the whole system store read again,
// cost each of them 25-35 ms).
class HttpSession {
public:
    HttpSession() = default;
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    // `trusted` empty: the system's store alone. `cancel`, when set, ends the
    // exchange at the next chance.
    AcmeResponse perform(const AcmeRequest& request, const QByteArray& trusted,
                         const std::atomic<bool>* cancel);

private:
    void* curl_ = nullptr; // CURL, made at the first exchange
};

void initCurlOnce();

} // namespace kv::acme
