#include "actions/MailMessage.h"

#include <QLocale>
#include <QSet>
#include <QUuid>

namespace kv::actions {

namespace {

// "3 file ricevuti", "1 cartella creata", ...
QString countedWhat(const QString& event, qsizetype n) {
    const bool one = n == 1;
    if (event == QLatin1String("upload"))
        return one ? QStringLiteral("1 file ricevuto") : QStringLiteral("%1 file ricevuti").arg(n);
    if (event == QLatin1String("download"))
        return one ? QStringLiteral("1 file scaricato")
                   : QStringLiteral("%1 file scaricati").arg(n);
    if (event == QLatin1String("delete"))
        return one ? QStringLiteral("1 file cancellato")
                   : QStringLiteral("%1 file cancellati").arg(n);
    if (event == QLatin1String("rename"))
        return one ? QStringLiteral("1 file rinominato")
                   : QStringLiteral("%1 file rinominati").arg(n);
    if (event == QLatin1String("mkdir"))
        return one ? QStringLiteral("1 cartella creata")
                   : QStringLiteral("%1 cartelle create").arg(n);
    if (event == QLatin1String("login-failed"))
        return one ? QStringLiteral("1 accesso fallito")
                   : QStringLiteral("%1 accessi falliti").arg(n);
    if (event == QLatin1String("quota-warning"))
        return one ? QStringLiteral("1 quota quasi esaurita")
                   : QStringLiteral("%1 quote quasi esaurite").arg(n);
    if (event == QLatin1String("admin-login"))
        return one ? QStringLiteral("1 accesso all'amministrazione remota")
                   : QStringLiteral("%1 accessi all'amministrazione remota").arg(n);
    if (event == QLatin1String("certificate-renewed"))
        return one ? QStringLiteral("1 certificato rinnovato")
                   : QStringLiteral("%1 certificati rinnovati").arg(n);
    if (event == QLatin1String("certificate-failed"))
        return one ? QStringLiteral("1 rinnovo del certificato non riuscito")
                   : QStringLiteral("%1 rinnovi del certificato non riusciti").arg(n);
    if (event == QLatin1String("account-expired"))
        return one ? QStringLiteral("1 account scaduto")
                   : QStringLiteral("%1 account scaduti").arg(n);
    return one ? QStringLiteral("1 indirizzo bloccato")
               : QStringLiteral("%1 indirizzi bloccati").arg(n);
}

// An account's event (quota, expiry) is about the account, not a client's doing.
bool aboutAnAccount(const ActionEvent& event) {
    return !event.detail.isEmpty();
}

QString sizeText(qint64 size) {
    if (size < 0)
        return QStringLiteral("-");
    return QLocale(QLocale::Italian).toString(size) + QStringLiteral(" byte");
}

// RFC 2047: a header text that is not plain ASCII goes as UTF-8 base64 words.
QByteArray headerText(const QString& text) {
    bool ascii = true;
    for (const QChar c : text)
        ascii = ascii && c.unicode() >= 0x20 && c.unicode() < 0x7f;
    if (ascii)
        return text.toLatin1();
    QByteArray out;
    // Short words, cut between characters, never inside one.
    QString chunk;
    const auto flush = [&] {
        if (chunk.isEmpty())
            return;
        if (!out.isEmpty())
            out += "\r\n ";
        out += "=?UTF-8?B?" + chunk.toUtf8().toBase64() + "?=";
        chunk.clear();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        chunk += text[i];
        if (text[i].isHighSurrogate() && i + 1 < text.size())
            chunk += text[++i];
        if (chunk.toUtf8().size() >= 36)
            flush();
    }
    flush();
    return out;
}

QByteArray wrapped(const QByteArray& base64) {
    QByteArray out;
    for (qsizetype i = 0; i < base64.size(); i += 76)
        out += base64.mid(i, 76) + "\r\n";
    return out;
}

} // namespace

QString batchSubject(const QList<ActionEvent>& events) {
    if (events.isEmpty())
        return QStringLiteral("Kestrova Vellim");
    QStringList users;
    for (const ActionEvent& e : events) {
        const QString who = e.user.isEmpty() ? e.address : e.user;
        if (!users.contains(who))
            users << who;
    }
    QString subject =
        QStringLiteral("Kestrova Vellim: %1").arg(countedWhat(events.first().name, events.size()));
    if (!users.isEmpty() && !users.first().isEmpty())
        subject +=
            (aboutAnAccount(events.first()) ? QStringLiteral(" per %1") : QStringLiteral(" da %1"))
                .arg(users.join(QStringLiteral(", ")));
    return subject;
}

QString batchBody(const QList<ActionEvent>& events) {
    QString body = QStringLiteral("%1:\n\n").arg(
        events.isEmpty() ? QStringLiteral("Nessun evento")
                         : countedWhat(events.first().name, events.size()));
    for (const ActionEvent& e : events) {
        const QString when = e.time.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
        const QString user = e.user.isEmpty() ? QStringLiteral("-") : e.user;
        if (aboutAnAccount(e)) {
            body += QStringLiteral("%1  account: %2\n    %3\n").arg(when, user, e.detail);
            continue;
        }
        body += QStringLiteral("%1  account: %2  indirizzo: %3\n")
                    .arg(when, user, e.address.isEmpty() ? QStringLiteral("-") : e.address);
        body +=
            QStringLiteral("    %1  (%2)\n")
                .arg(e.clientPath.isEmpty() ? QStringLiteral("-") : e.clientPath, sizeText(e.size));
    }
    body += QStringLiteral("\n-- \nMessaggio inviato da Kestrova Vellim.\n");
    return body;
}

QByteArray composeMessage(const QString& from, const QStringList& to, const QString& subject,
                          const QString& body, const QDateTime& date) {
    QByteArray text = body.toUtf8();
    text.replace("\r\n", "\n");
    text.replace("\n", "\r\n");
    QByteArray message;
    message += "Date: " +
               QLocale::c()
                   .toString(date.toUTC(), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss"))
                   .toLatin1() +
               " +0000\r\n";
    message += "From: " + from.toUtf8() + "\r\n";
    message += "To: " + to.join(QStringLiteral(", ")).toUtf8() + "\r\n";
    message += "Subject: " + headerText(subject) + "\r\n";
    message += "Message-ID: <" + QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1() +
               "@kestrova>\r\n";
    message += "MIME-Version: 1.0\r\n";
    message += "Content-Type: text/plain; charset=UTF-8\r\n";
    message += "Content-Transfer-Encoding: base64\r\n\r\n";
    message += wrapped(text.toBase64());
    return message;
}

} // namespace kv::actions
