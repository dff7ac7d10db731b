#pragma once
// The behaviour of the "Connessioni protette (FTPS)" group of the settings
// panel, free of widgets: what each control shows, the check of every change
// through the option catalog (a refused value leaves nothing pending and
// gives the catalog's message), the certificate line and "Genera nuovo
// certificato". Accepted changes wait on the options table until the views
// are committed, as the settings row's edits do.

#include "access/OptionsTable.h"
#include "core/CertificateTools.h"
#include "core/Messages.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace kv::admin {

// What the group's controls show.
struct FtpsForm {
    int mode = 0;            // index into ftpsModeCaptions(); -1 for a stored word not known
    QString implicitPort;    // "" when there is none
    QString certificateFile; // "" for the generated one
    QString privateKeyFile;  // "" for the generated one
    bool sessionReuse = true;
    int minVersion = 0; // index into ftpsVersions(); -1 when not known
    int maxVersion = 1;
};

// "Nessuna", "Consentita", "Obbligatoria": the tls words off, on, required.
const QStringList& ftpsModeCaptions();
// "1.2", "1.3".
const QStringList& ftpsVersions();

inline const QString kGenerateQuestion =
    QStringLiteral("Generare un nuovo certificato? Il certificato attuale sarà sostituito e i "
                   "client che lo avevano accettato dovranno accettare quello nuovo.");
inline const QString kGeneratedMessage = QStringLiteral("Nuovo certificato generato.");

class FtpsSettingsLogic {
public:
    FtpsSettingsLogic(access::OptionsTable& table, QString dataFolder, CertificateTools tools);

    // The options of the group.
    static const QStringList& options();

    // The stored values with the pending edits over them.
    FtpsForm load() const;

    // One control changed (option name, the text it now holds). Accepted: the
    // normal value becomes pending (nothing pending when it equals what is
    // stored) and nothing is returned. Refused: the catalog's message, and
    // the option keeps what it had.
    std::optional<QString> change(const QString& option, const QString& text);
    std::optional<QString> changeMode(int index);
    std::optional<QString> changeVersion(const QString& option, int index);
    std::optional<QString> changeReuse(bool on);

    // The certificate file a start would use (the generated one for an empty box).
    QString certificatePath() const;
    QString privateKeyPath() const;
    // The fingerprint/expiry line, or why the certificate cannot be read, in
    // Italian; empty with FTPS off or without a describing tool.
    QString certificateLine() const;

    // "Genera nuovo certificato" is offered when a generating tool is set, and
    // usable while the generated files are in use (both boxes empty).
    bool generateOffered() const { return bool(tools_.generate); }
    bool generateUsable() const;
    // Asks `messages` first; returns the message to show afterwards (empty
    // when the operator said no).
    QString generate(Messages& messages);

private:
    QString shown(const QString& option) const;

    access::OptionsTable& table_;
    QString dataFolder_;
    CertificateTools tools_;
};

} // namespace kv::admin
