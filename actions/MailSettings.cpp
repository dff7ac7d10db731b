#include "actions/MailSettings.h"

#include <QDir>
#include <QHostAddress>
#include <QHostInfo>

namespace kv::actions {

int MailSettings::effectivePort() const {
    if (port > 0)
        return port;
    switch (security) {
    case MailSecurity::StartTls:
        return 587;
    case MailSecurity::Tls:
        return 465;
    case MailSecurity::None:
        break;
    }
    return 25;
}

QString MailSettings::url() const {
    const QString scheme =
        security == MailSecurity::Tls ? QStringLiteral("smtps") : QStringLiteral("smtp");
    return QStringLiteral("%1://%2:%3").arg(scheme, host).arg(effectivePort());
}

MailSettings mailSettings(const settings::OptionSet& options, const QString& dataFolder) {
    using namespace settings::option;
    MailSettings mail;
    const QString server = options.value(kMailServer);
    const qsizetype colon = server.lastIndexOf(QLatin1Char(':'));
    if (colon > 0 && !server.endsWith(QLatin1Char(']')) && server.count(QLatin1Char(':')) == 1) {
        mail.host = server.left(colon);
        mail.port = server.mid(colon + 1).toInt();
    } else if (server.startsWith(QLatin1Char('[')) && server.contains(QLatin1String("]:"))) {
        mail.host = server.left(server.indexOf(QLatin1String("]:")) + 1);
        mail.port = server.mid(server.indexOf(QLatin1String("]:")) + 2).toInt();
    } else {
        mail.host = server;
    }
    const QString security = options.value(kMailSecurity);
    mail.security = security == QLatin1String("tls")    ? MailSecurity::Tls
                    : security == QLatin1String("none") ? MailSecurity::None
                                                        : MailSecurity::StartTls;
    mail.caFile = options.value(kMailCaFile);
    if (!mail.caFile.isEmpty() && QDir::isRelativePath(mail.caFile))
        mail.caFile = QDir::cleanPath(QDir(dataFolder).absoluteFilePath(mail.caFile));
    mail.user = options.value(kMailUser);
    mail.password = options.value(kMailPassword);
    mail.from = options.value(kMailFrom);
    if (mail.from.isEmpty())
        mail.from = QStringLiteral("kestrova@%1")
                        .arg(QHostInfo::localHostName().isEmpty() ? QStringLiteral("localhost")
                                                                  : QHostInfo::localHostName());
    return mail;
}

std::optional<QString> checkMailSettings(const MailSettings& mail) {
    if (mail.host.isEmpty())
        return QStringLiteral("Server di posta non impostato (opzione mail_server)");
    if (mail.security == MailSecurity::None) {
        QString bare = mail.host;
        if (bare.startsWith(QLatin1Char('[')))
            bare = bare.mid(1, bare.size() - 2);
        const QHostAddress address(bare);
        const bool loopback = bare.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
                              (!address.isNull() && address.isLoopback());
        if (!loopback)
            return QStringLiteral("Opzione mail_security: none è ammesso solo verso questo PC "
                                  "(127.0.0.1, ::1, localhost); usare starttls o tls");
    }
    return std::nullopt;
}

} // namespace kv::actions
