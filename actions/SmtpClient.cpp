#include "actions/SmtpClient.h"

#include "net/TrustedCertificates.h"

#include <QThread>

#include <curl/curl.h>
#include <mutex>

namespace kv::actions {

namespace {

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Exchange {
    QByteArray message;
    qsizetype sent = 0;
    QString lastReply;
    const std::atomic<bool>* cancel = nullptr;
};

size_t readBody(char* buffer, size_t size, size_t count, void* data) {
    auto* exchange = static_cast<Exchange*>(data);
    const qsizetype room = qsizetype(size * count);
    const qsizetype left = exchange->message.size() - exchange->sent;
    const qsizetype n = qMin(room, left);
    memcpy(buffer, exchange->message.constData() + exchange->sent, size_t(n));
    exchange->sent += n;
    return size_t(n);
}

// Only what the server says is kept: what the client sends holds the login.
int keepReplies(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    if (type == CURLINFO_HEADER_IN) {
        const QString line = QString::fromUtf8(data, qsizetype(size)).trimmed();
        if (!line.isEmpty())
            static_cast<Exchange*>(user)->lastReply = line;
    }
    return 0;
}

int progress(void* data, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* exchange = static_cast<Exchange*>(data);
    return exchange->cancel && exchange->cancel->load() ? 1 : 0;
}

} // namespace

SmtpResult sendMail(const MailSettings& mail, const QStringList& to, const QByteArray& message,
                    const std::atomic<bool>* cancel) {
    SmtpResult result;
    if (const auto why = checkMailSettings(mail)) {
        result.error = *why;
        return result;
    }
    initCurlOnce();
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl) {
        result.error = QStringLiteral("libcurl non disponibile");
        return result;
    }
    Exchange exchange{message, 0, {}, cancel};
    curl_slist* recipients = nullptr;
    for (const QString& address : to)
        recipients = curl_slist_append(recipients, ('<' + address.toUtf8() + '>').constData());
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> keep(recipients,
                                                                     &curl_slist_free_all);
    const QByteArray url = mail.url().toUtf8();
    const QByteArray from = '<' + mail.from.toUtf8() + '>';
    const QByteArray user = mail.user.toUtf8();
    const QByteArray password = mail.password.toUtf8();
    char errorBuffer[CURL_ERROR_SIZE] = {};
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url.constData());
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, from.constData());
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, recipients);
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_READFUNCTION, &readBody);
    curl_easy_setopt(c, CURLOPT_READDATA, &exchange);
    curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, curl_off_t(message.size()));
    curl_easy_setopt(c, CURLOPT_USE_SSL,
                     mail.security == MailSecurity::None ? long(CURLUSESSL_NONE)
                                                         : long(CURLUSESSL_ALL));
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    QByteArray certificates;
    if (!mail.caFile.isEmpty()) {
        QString error;
        const auto pem =
            net::systemAndExtraCertificates(QStringLiteral("mail_ca_file"), mail.caFile, &error);
        if (!pem) {
            result.error = error;
            return result;
        }
        certificates = *pem;
        curl_blob blob{certificates.data(), size_t(certificates.size()), CURL_BLOB_NOCOPY};
        curl_easy_setopt(c, CURLOPT_CAINFO_BLOB, &blob);
    }
    if (!mail.user.isEmpty()) {
        curl_easy_setopt(c, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(c, CURLOPT_PASSWORD, password.constData());
    }
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 20L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, 120L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, &keepReplies);
    curl_easy_setopt(c, CURLOPT_DEBUGDATA, &exchange);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &progress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &exchange);
    const CURLcode code = curl_easy_perform(c);
    result.answer = exchange.lastReply;
    if (code == CURLE_OK) {
        result.ok = true;
        return result;
    }
    const QString reason = errorBuffer[0] ? QString::fromUtf8(errorBuffer)
                                          : QString::fromUtf8(curl_easy_strerror(code));
    result.error = QStringLiteral("invio non riuscito: %1").arg(reason);
    if (!result.answer.isEmpty())
        result.error += QStringLiteral(" (risposta del server: %1)").arg(result.answer);
    return result;
}

MailSender::MailSender(QObject* parent)
    : QObject(parent), cancel_(std::make_shared<std::atomic<bool>>(false)) {
    initCurlOnce(); // on the main thread, before any worker
}

MailSender::~MailSender() {
    cancel_->store(true);
    for (QObject* object : threads_) {
        auto* thread = static_cast<QThread*>(object);
        thread->wait();
        delete thread;
    }
}

void MailSender::send(const MailSettings& mail, const QStringList& to, const QByteArray& message,
                      Done done) {
    auto cancel = cancel_;
    QThread* thread = nullptr;
    thread = QThread::create([this, mail, to, message, cancel, done = std::move(done)] {
        const SmtpResult result = sendMail(mail, to, message, cancel.get());
        if (cancel->load())
            return;
        QMetaObject::invokeMethod(
            this, [done, result] { done(result); }, Qt::QueuedConnection);
    });
    threads_.append(thread);
    connect(thread, &QThread::finished, this, [this, thread] {
        threads_.removeOne(thread);
        thread->deleteLater();
    });
    thread->start();
}

} // namespace kv::actions
