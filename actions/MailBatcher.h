#pragma once
// One e-mail per batch, not per file: the events of one rule are gathered
// from the first one for the batch time, then one message lists them all. A
// message the server refuses is tried again 30 s, 2 min and 8 min after each
// refusal, then logged as lost with its reason.

#include "actions/ActionEvent.h"
#include "actions/MailSettings.h"
#include "actions/SmtpClient.h"

#include <QHash>
#include <QObject>
#include <functional>

class QTimer;

namespace kv::actions {

// The waits between tries, in milliseconds: 30, 120 and 480 "seconds" of
// KESTROVA_MAIL_SECOND_MS milliseconds each (1000 unless the variable holds
// 1 to 1000), so that the tests can watch every retry within seconds.
QList<int> mailRetryDelaysMs();

class MailBatcher : public QObject {
    Q_OBJECT
public:
    using Log = std::function<void(const QString& line)>;
    using Settings = std::function<MailSettings()>;
    using BatchMs = std::function<int()>;

    MailBatcher(Log log, Settings settings, BatchMs batchMs, MailSender& sender,
                QList<int> retryDelaysMs = mailRetryDelaysMs(), QObject* parent = nullptr);
    // Batches still gathering when the program ends are logged as not sent.
    ~MailBatcher() override;

    // Adds `event` to the batch of rule `ruleId`, which goes to `to`.
    void add(qint64 ruleId, const QStringList& to, const ActionEvent& event);
    int openBatches() const { return int(batches_.size()); }

Q_SIGNALS:
    void mailSent(const QString& subject);
    void mailLost(const QString& subject, const QString& reason);

private:
    struct Batch {
        QStringList to;
        QList<ActionEvent> events;
        QTimer* timer = nullptr;
    };
    struct Outgoing {
        QStringList to;
        QString subject;
        QByteArray message;
        int tries = 0;
    };
    void close(qint64 ruleId);
    void attempt(const Outgoing& mail);

    Log log_;
    Settings settings_;
    BatchMs batchMs_;
    MailSender& sender_;
    QList<int> retryDelaysMs_;
    QHash<qint64, Batch> batches_;
};

} // namespace kv::actions
