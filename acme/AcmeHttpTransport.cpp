#include "acme/AcmeHttpTransport.h"

#include "acme/HttpExchange.h"
#include "net/TrustedCertificates.h"

namespace kv::acme {

// Lives on the worker thread; only its session's exchanges block there.
class HttpWorker : public QObject {
    Q_OBJECT
public:
    explicit HttpWorker(std::shared_ptr<std::atomic<bool>> cancel) : cancel_(std::move(cancel)) {}

    void perform(const kv::acme::AcmeRequest& request, const QByteArray& trusted) {
        const AcmeResponse response = session_.perform(request, trusted, cancel_.get());
        if (!cancel_->load())
            Q_EMIT done(response);
    }

Q_SIGNALS:
    void done(const kv::acme::AcmeResponse& response);

private:
    std::shared_ptr<std::atomic<bool>> cancel_;
    HttpSession session_;
};

AcmeHttpTransport::AcmeHttpTransport(QObject* parent)
    : QObject(parent), cancel_(std::make_shared<std::atomic<bool>>(false)) {
    qRegisterMetaType<kv::acme::AcmeRequest>();
    qRegisterMetaType<kv::acme::AcmeResponse>();
    initCurlOnce(); // on the main thread, before the worker uses it
    worker_ = new HttpWorker(cancel_);
    worker_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    connect(this, &AcmeHttpTransport::performOnWorker, worker_, &HttpWorker::perform,
            Qt::QueuedConnection);
    connect(worker_, &HttpWorker::done, this, &AcmeHttpTransport::answered, Qt::QueuedConnection);
    thread_.setObjectName(QStringLiteral("acme-http"));
    thread_.start();
}

AcmeHttpTransport::~AcmeHttpTransport() {
    cancel_->store(true);
    thread_.quit();
    thread_.wait();
}

std::optional<QString> AcmeHttpTransport::trustExtraCertificates(const QString& pemFile) {
    QString error;
    const auto pem =
        net::systemAndExtraCertificates(QStringLiteral("acme_ca_file"), pemFile, &error);
    if (!pem)
        return error;
    trusted_ = *pem;
    return std::nullopt;
}

void AcmeHttpTransport::send(const AcmeRequest& request) {
    Q_EMIT performOnWorker(request, trusted_, QPrivateSignal());
}

} // namespace kv::acme

#include "AcmeHttpTransport.moc"
