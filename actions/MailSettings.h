#pragma once
// The outgoing mail server as the options give it, checked as a whole: a
// server is needed, and an unprotected connection only to this PC.

#include "settings/OptionCatalog.h"

#include <QString>
#include <optional>

namespace kv::actions {

enum class MailSecurity { StartTls, Tls, None };

struct MailSettings {
    QString host;
    int port = 0; // 0: the usual one for `security` (587, 465, 25)
    MailSecurity security = MailSecurity::StartTls;
    QString caFile; // trusted besides the system's certificates
    QString user;   // empty: no login
    QString password;
    QString from;

    int effectivePort() const;
    // smtp://host:port or smtps://host:port
    QString url() const;
};

// A relative mail_ca_file names a file in the data folder, whatever the
// working folder of the program that reads it.
MailSettings mailSettings(const settings::OptionSet& options, const QString& dataFolder);
// The Italian reason no mail can be sent with these settings, or nothing.
std::optional<QString> checkMailSettings(const MailSettings& mail);

} // namespace kv::actions
