// admin passwd and admin fingerprint: what remote administration needs on the server.
#include "access/AdminPassword.h"
#include "adminchannel/AdminCertificate.h"
#include "program/CliContext.h"

#include <unistd.h>

namespace kv::cli {

namespace {

int adminPasswd(CliContext& c) {
    const auto password = c.io.readPassword(QStringLiteral("Password di amministrazione: "));
    if (!password)
        return refuse(c, QStringLiteral("Nessuna password letta: la password non è cambiata"));
    // On a terminal the password is not seen as typed: it is asked twice.
    if (isatty(STDIN_FILENO)) {
        const auto again = c.io.readPassword(QStringLiteral("Ripetere la password: "));
        if (!again || *again != *password)
            return refuse(c, QStringLiteral("Le due password non coincidono: la password non è "
                                            "cambiata"));
    }
    if (const auto problem = access::setAdminPassword(c.db, *password))
        return refuse(c, *problem);
    return done(c, QStringLiteral("Password di amministrazione cambiata (vale dal prossimo avvio "
                                  "o reload del server)"));
}

int adminFingerprintCommand(CliContext& c) {
    const AdminCertificate certificate = ensureAdminCertificate(c.dataFolder);
    if (!certificate.ok())
        return refuse(c, certificate.error);
    c.io.out << certificate.fingerprint << Qt::endl;
    return kDone;
}

} // namespace

int adminSetupCommand(CliContext& c) {
    const QStringList& w = c.args.words;
    if (w.size() == 1 && w.first() == QLatin1String("passwd"))
        return adminPasswd(c);
    if (w.size() == 1 && w.first() == QLatin1String("fingerprint"))
        return adminFingerprintCommand(c);
    return usage(c, QStringLiteral("Uso: kestrova admin passwd | admin fingerprint"));
}

} // namespace kv::cli
