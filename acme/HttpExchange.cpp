#include "acme/HttpExchange.h"

#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace kv::acme {

namespace {

constexpr qsizetype kMaxBody = 1 << 20; // a chain is a few KiB; a directory less

struct Received {
    AcmeResponse* response;
    const std::atomic<bool>* cancel;
};

size_t keepBody(char* data, size_t size, size_t count, void* user) {
    auto* received = static_cast<Received*>(user);
    const qsizetype n = qsizetype(size * count);
    if (received->response->body.size() + n > kMaxBody)
        return 0; // libcurl ends the transfer with an error
    received->response->body.append(data, n);
    return size * count;
}

size_t keepHeader(char* data, size_t size, size_t count, void* user) {
    auto* response = static_cast<Received*>(user)->response;
    const QByteArray line = QByteArray(data, qsizetype(size * count)).trimmed();
    if (line.startsWith("HTTP/")) {
        response->headers.clear(); // a 100 Continue before the real answer
    } else if (const qsizetype colon = line.indexOf(':'); colon > 0) {
        response->headers.insert(line.left(colon).trimmed().toLower(),
                                 line.mid(colon + 1).trimmed());
    }
    return size * count;
}

int progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* received = static_cast<Received*>(user);
    return received->cancel && received->cancel->load() ? 1 : 0;
}

} // namespace

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

HttpSession::~HttpSession() {
    if (curl_)
        curl_easy_cleanup(static_cast<CURL*>(curl_));
}

AcmeResponse HttpSession::perform(const AcmeRequest& request, const QByteArray& trusted,
                                  const std::atomic<bool>* cancel) {
    AcmeResponse response;
    initCurlOnce();
    if (!curl_)
        curl_ = curl_easy_init();
    if (!curl_) {
        response.transportError = QStringLiteral("libcurl non disponibile");
        return response;
    }
    CURL* c = static_cast<CURL*>(curl_);
    curl_easy_reset(c); // the options of the last exchange; its connection stays open
    Received received{&response, cancel};
    char errorBuffer[CURL_ERROR_SIZE] = {};
    const QByteArray url = request.url.toUtf8();
    curl_easy_setopt(c, CURLOPT_URL, url.constData());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https,http");
    curl_easy_setopt(c, CURLOPT_USERAGENT, "KestrovaVellim-ACME/1.0");
    curl_slist* headers = curl_slist_append(nullptr, "Expect:");
    if (!request.accept.isEmpty())
        headers = curl_slist_append(headers, ("Accept: " + request.accept).constData());
    if (request.method == AcmeRequest::Method::Post) {
        headers = curl_slist_append(headers, "Content-Type: application/jose+json");
        curl_easy_setopt(c, CURLOPT_POST, 1L);
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, request.body.constData());
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.body.size()));
    } else if (request.method == AcmeRequest::Method::Head) {
        curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
    }
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> keep(headers, &curl_slist_free_all);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    QByteArray certificates = trusted;
    curl_blob blob{certificates.data(), size_t(certificates.size()), CURL_BLOB_COPY};
    if (!certificates.isEmpty())
        curl_easy_setopt(c, CURLOPT_CAINFO_BLOB, &blob);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &keepBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &received);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &keepHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &received);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 20L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, 60L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &progress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &received);
    const CURLcode code = curl_easy_perform(c);
    if (code != CURLE_OK) {
        response = AcmeResponse();
        response.transportError = errorBuffer[0] ? QString::fromUtf8(errorBuffer)
                                                 : QString::fromUtf8(curl_easy_strerror(code));
        return response;
    }
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    response.status = int(status);
    return response;
}

} // namespace kv::acme
