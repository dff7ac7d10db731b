#include "core/WholeDiskWarnings.h"

#include "engine/LogText.h"
#include "settings/SharedRoot.h"

#include <QRegularExpression>
#include <QSqlQuery>
#include <QVariant>

namespace kv {

namespace {

// A root of its own that is the whole disk (an empty one is the default root).
bool ownRootIsWholeDisk(const QVariant& root) {
    const QString text = root.toString();
    return !text.trimmed().isEmpty() && settings::sharesWholeDisk(text);
}

// A login as typed after the command: quoted when a shell would split it.
QString loginWord(const QString& login) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9._@+-]+$"));
    const QString shown = engine::escapedForLog(login);
    if (plain.match(shown).hasMatch())
        return shown;
    return QLatin1Char('"') + QString(shown).replace(QLatin1Char('"'), QLatin1String("\\\"")) +
           QLatin1Char('"');
}

} // namespace

QStringList wholeDiskWarnings(const QString& defaultRoot, const QSqlDatabase& accounts) {
    QStringList lines;
    if (settings::sharesWholeDisk(defaultRoot))
        lines << settings::wholeDiskWarning(
            QStringLiteral("la cartella radice predefinita"),
            QStringLiteral("kestrova settings set rootdir CARTELLA (o Impostazioni, Percorso di "
                           "default)"));
    QSqlQuery query(accounts);
    query.setForwardOnly(true);
    if (query.exec(QStringLiteral("SELECT login, rootdir FROM users ORDER BY login"))) {
        while (query.next()) {
            if (!ownRootIsWholeDisk(query.value(1)))
                continue;
            const QString login = loginWord(query.value(0).toString());
            lines << settings::wholeDiskWarning(
                QStringLiteral("l'account %1").arg(login),
                QStringLiteral("kestrova user set %1 --root CARTELLA (o Account, Dettagli "
                               "account)")
                    .arg(login));
        }
    }
    if (query.exec(QStringLiteral("SELECT enabled, rootdir FROM anonymous"))) {
        while (query.next()) {
            if (query.value(0).toBool() && ownRootIsWholeDisk(query.value(1)))
                lines << settings::wholeDiskWarning(
                    QStringLiteral("l'account anonimo"),
                    QStringLiteral("kestrova anonymous on --root CARTELLA (o Account, Account "
                                   "anonimo)"));
        }
    }
    return lines;
}

} // namespace kv
