#include "actions/MailBatcher.h"

#include "actions/MailMessage.h"

#include <QTimer>

namespace kv::actions {

QList<int> mailRetryDelaysMs() {
    bool ok = false;
    const int second = qEnvironmentVariableIntValue("KESTROVA_MAIL_SECOND_MS", &ok);
    const int unit = ok && second >= 1 && second <= 1000 ? second : 1000;
    return {30 * unit, 120 * unit, 480 * unit};
}

MailBatcher::MailBatcher(Log log, Settings settings, BatchMs batchMs, MailSender& sender,
                         QList<int> retryDelaysMs, QObject* parent)
    : QObject(parent), log_(std::move(log)), settings_(std::move(settings)),
      batchMs_(std::move(batchMs)), sender_(sender), retryDelaysMs_(std::move(retryDelaysMs)) {}

MailBatcher::~MailBatcher() {
    for (const Batch& batch : std::as_const(batches_))
        log_(QStringLiteral("E-MAIL a %1 non inviata: il programma si chiude prima della fine "
                            "della raccolta (%2 eventi)")
                 .arg(batch.to.join(QStringLiteral(", ")))
                 .arg(batch.events.size()));
}

void MailBatcher::add(qint64 ruleId, const QStringList& to, const ActionEvent& event) {
    auto it = batches_.find(ruleId);
    if (it == batches_.end()) {
        Batch batch;
        batch.to = to;
        batch.timer = new QTimer(this);
        batch.timer->setSingleShot(true);
        connect(batch.timer, &QTimer::timeout, this, [this, ruleId] { close(ruleId); });
        batch.timer->start(qMax(0, batchMs_()));
        it = batches_.insert(ruleId, batch);
    }
    it->events.append(event);
}

void MailBatcher::close(qint64 ruleId) {
    const Batch batch = batches_.take(ruleId);
    batch.timer->deleteLater();
    if (batch.events.isEmpty())
        return;
    const MailSettings settings = settings_();
    Outgoing mail;
    mail.to = batch.to;
    mail.subject = batchSubject(batch.events);
    mail.message = composeMessage(settings.from, batch.to, mail.subject, batchBody(batch.events),
                                  QDateTime::currentDateTimeUtc());
    attempt(mail);
}

void MailBatcher::attempt(const Outgoing& mail) {
    const QString to = mail.to.join(QStringLiteral(", "));
    sender_.send(settings_(), mail.to, mail.message, [this, mail, to](const SmtpResult& result) {
        if (result.ok) {
            log_(QStringLiteral("E-MAIL inviata a %1: \"%2\" (%3)")
                     .arg(to, mail.subject, result.answer));
            Q_EMIT mailSent(mail.subject);
            return;
        }
        if (mail.tries < retryDelaysMs_.size()) {
            const int wait = retryDelaysMs_[mail.tries];
            log_(QStringLiteral("E-MAIL a %1 non inviata: %2; nuovo tentativo tra %3 secondi")
                     .arg(to, result.error)
                     .arg(wait / 1000.0));
            Outgoing again = mail;
            ++again.tries;
            QTimer::singleShot(wait, this, [this, again] { attempt(again); });
            return;
        }
        log_(QStringLiteral("E-MAIL a %1 persa: \"%2\" non inviata dopo %3 tentativi: %4")
                 .arg(to, mail.subject)
                 .arg(mail.tries + 1)
                 .arg(result.error));
        Q_EMIT mailLost(mail.subject, result.error);
    });
}

} // namespace kv::actions
