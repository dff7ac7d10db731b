#include "core/WholeDiskWarnings.h"

#include "access/EntryChecks.h"
#include "session/LogText.h"
#include "settings/SharedRoot.h"

#include <QRegularExpression>
#include <QSqlQuery>
#include <QVariant>

namespace kv {

namespace {

// A login as typed after the command: quoted when a shell would split it.
QString loginWord(const QString& login) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9._@+-]+$"));
    const QString shown = session::escapedForLog(login);
    if (plain.match(shown).hasMatch())
        return shown;
    return QLatin1Char('"') + QString(shown).replace(QLatin1Char('"'), QLatin1String("\\\"")) +
           QLatin1Char('"');
}

} // namespace

QStringList wholeDiskWarnings(const QString& defaultRoot, const QSqlDatabase& accounts) {
    QStringList lines;
    if (access::rootNeedsWholeDiskChoice(defaultRoot, access::defaultRootOwner()))
        lines << settings::wholeDiskWarning(
            access::defaultRootOwner().name,
            QStringLiteral("kestrova settings set rootdir CARTELLA (o Impostazioni, Percorso di "
                           "default)"));
    QSqlQuery query(accounts);
    query.setForwardOnly(true);
    if (query.exec(QStringLiteral("SELECT login, rootdir FROM users ORDER BY login"))) {
        while (query.next()) {
            const QString login = loginWord(query.value(0).toString());
            const access::RootOwner owner = access::accountRootOwner(login);
            if (!access::rootNeedsWholeDiskChoice(query.value(1).toString(), owner))
                continue;
            lines << settings::wholeDiskWarning(
                owner.name,
                QStringLiteral("kestrova user set %1 --root CARTELLA (o Account, Dettagli "
                               "account)")
                    .arg(login));
        }
    }
    if (query.exec(QStringLiteral("SELECT enabled, rootdir FROM anonymous"))) {
        while (query.next()) {
            if (query.value(0).toBool() &&
                access::rootNeedsWholeDiskChoice(query.value(1).toString(),
                                                 access::anonymousRootOwner()))
                lines << settings::wholeDiskWarning(
                    access::anonymousRootOwner().name,
                    QStringLiteral("kestrova anonymous on --root CARTELLA (o Account, Account "
                                   "anonimo)"));
        }
    }
    return lines;
}

} // namespace kv
