// Two unsigned GETs: the directory, then the certificate's renewal information.
#include "core/RenewalInfoQuery.h"

#include "acme/AcmeHttpTransport.h"
#include "acme/RenewalInfo.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

namespace kv {

RenewalInfoQuery::RenewalInfoQuery(QObject* parent) : QObject(parent) {}

RenewalInfoQuery::~RenewalInfoQuery() = default;

void RenewalInfoQuery::start(const QString& directoryUrl, const QString& caFile,
                             const QByteArray& certificatePem) {
    certId_ = acme::renewalInfoCertId(certificatePem);
    transport_ = std::make_unique<acme::AcmeHttpTransport>();
    if (certId_.isEmpty() ||
        (!caFile.isEmpty() && transport_->trustExtraCertificates(caFile).has_value())) {
        QTimer::singleShot(0, this, [this] { end(); });
        return;
    }
    connect(transport_.get(), &acme::AcmeHttpTransport::answered, this,
            &RenewalInfoQuery::onAnswer);
    readingDirectory_ = true;
    transport_->send({acme::AcmeRequest::Method::Get, directoryUrl, {}, {}});
}

void RenewalInfoQuery::onAnswer(const acme::AcmeResponse& response) {
    if (response.status != 200)
        return end();
    if (readingDirectory_) {
        const QString base = QJsonDocument::fromJson(response.body)
                                 .object()
                                 .value(QStringLiteral("renewalInfo"))
                                 .toString();
        if (base.isEmpty())
            return end();
        readingDirectory_ = false;
        transport_->send(
            {acme::AcmeRequest::Method::Get, acme::renewalInfoUrl(base, certId_), {}, {}});
        return;
    }
    const auto window = acme::parseRenewalInfo(response.body);
    if (!window)
        return end();
    end(window->start, window->end);
}

void RenewalInfoQuery::end(const QDateTime& from, const QDateTime& to) {
    Q_EMIT finished(from, to);
}

} // namespace kv
