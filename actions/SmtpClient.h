#pragma once
// One e-mail handed to the outgoing mail server with libcurl's SMTP client:
// STARTTLS or TLS from the first byte (certificates always verified, against
// the system's store and the optional extra PEM file), a login when a user is
// set. sendMail() blocks until the server answers; MailSender runs it on a
// worker thread so the event loop never waits.

#include "actions/MailSettings.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>

namespace kv::actions {

struct SmtpResult {
    bool ok = false;
    QString answer; // the server's last reply line, when it gave one
    QString error;  // Italian, with libcurl's reason; empty when ok
};

// `cancel`, when given and set, ends the exchange at the next chance.
SmtpResult sendMail(const MailSettings& mail, const QStringList& to, const QByteArray& message,
                    const std::atomic<bool>* cancel = nullptr);

// Sends on worker threads, one per message, and tells the result on the
// thread that asked. Destroying it cancels the sends still going.
class MailSender : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(const SmtpResult&)>;
    explicit MailSender(QObject* parent = nullptr);
    ~MailSender() override;

    virtual void send(const MailSettings& mail, const QStringList& to, const QByteArray& message,
                      Done done);

private:
    std::shared_ptr<std::atomic<bool>> cancel_;
    QList<QObject*> threads_;
};

} // namespace kv::actions
