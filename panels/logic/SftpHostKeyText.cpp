#include "panels/logic/SftpHostKeyText.h"

#include "sftp/SftpHostKeys.h"

#include <QStringList>

namespace kv::admin {

QString sftpHostKeyText(const QString& dataFolder) {
    QStringList lines;
    for (const auto& [kind, fingerprint] :
         sftp::existingHostKeyFingerprints(sftp::hostKeyFiles(dataFolder)))
        lines << kind + QStringLiteral("  ") + fingerprint;
    if (lines.isEmpty())
        return QStringLiteral("Nessuna chiave per ora: il server le crea al primo avvio con SFTP "
                              "attivo (una porta SFTP diversa da 0, qui sopra).");
    return lines.join(u'\n');
}

} // namespace kv::admin
