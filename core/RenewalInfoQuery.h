#pragma once
// Asks the CA when it suggests renewing a certificate (RFC 9773): reads the
// directory, and when it offers renewalInfo, GETs the certificate's entry.
// The exchanges run on the transport's worker thread; the answer comes back
// as a signal, never from inside start().

#include "core/AcmeSchedule.h"

#include <QObject>

#include <memory>

namespace kv::acme {
class AcmeHttpTransport;
struct AcmeResponse;
} // namespace kv::acme

namespace kv {

class RenewalInfoQuery : public QObject {
    Q_OBJECT
public:
    explicit RenewalInfoQuery(QObject* parent = nullptr);
    ~RenewalInfoQuery() override;

    // `caFile`: extra PEM roots for the directory's TLS (empty: the system's).
    void start(const QString& directoryUrl, const QString& caFile,
               const QByteArray& certificatePem);

Q_SIGNALS:
    // The suggested window; both invalid when the CA offers none, does not
    // answer or answers something else (the schedule then goes by percent).
    void finished(const QDateTime& start, const QDateTime& end);

private:
    void onAnswer(const kv::acme::AcmeResponse& response);
    void end(const QDateTime& from = {}, const QDateTime& to = {});

    std::unique_ptr<acme::AcmeHttpTransport> transport_;
    QByteArray certId_;
    bool readingDirectory_ = true;
};

} // namespace kv
