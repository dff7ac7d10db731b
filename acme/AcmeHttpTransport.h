#pragma once
// Carries AcmeOrderFlow's requests to the CA: each blocking libcurl exchange
// runs on one worker thread, and its answer comes back to the event loop as
// a queued signal, so the loop never waits for the network. One request at
// a time, as the flow asks them.

#include "acme/AcmeMessages.h"

#include <QObject>
#include <QThread>
#include <atomic>
#include <memory>
#include <optional>

namespace kv::acme {

class HttpWorker;

class AcmeHttpTransport : public QObject {
    Q_OBJECT
public:
    explicit AcmeHttpTransport(QObject* parent = nullptr);
    // Cancels the exchange in flight and waits for the worker to stop.
    ~AcmeHttpTransport() override;

    // Trusts the PEM certificates of `pemFile` as well as the system's;
    // the reason (Italian) when the file cannot be used.
    std::optional<QString> trustExtraCertificates(const QString& pemFile);

    void send(const kv::acme::AcmeRequest& request);

Q_SIGNALS:
    void answered(const kv::acme::AcmeResponse& response);
    // To the worker thread; queued.
    void performOnWorker(const kv::acme::AcmeRequest& request, const QByteArray& trusted,
                         QPrivateSignal);

private:
    QThread thread_;
    HttpWorker* worker_ = nullptr;
    QByteArray trusted_;
    std::shared_ptr<std::atomic<bool>> cancel_;
};

} // namespace kv::acme
