#include "sftp/SftpHostKeys.h"

#include "sftp/PublicKeyLine.h"

#include <QDir>
#include <QFile>

#include <libssh/libssh.h>

#include <fcntl.h>
#include <unistd.h>

namespace kv::sftp {

namespace {

// Creates the file empty with mode 0600 before the key goes in, so the key
// is never readable by others, not even for a moment.
bool createPrivateFile(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

QString generate(const QString& path, ssh_keytypes_e type, int bits) {
    ssh_key key = nullptr;
    if (ssh_pki_generate(type, bits, &key) != SSH_OK)
        return QStringLiteral("Impossibile generare la chiave SFTP %1").arg(path);
    QString problem;
    if (!createPrivateFile(path))
        problem = QStringLiteral("Impossibile creare la chiave SFTP %1").arg(path);
    else if (ssh_pki_export_privkey_file(key, nullptr, nullptr, nullptr,
                                         QFile::encodeName(path).constData()) != SSH_OK) {
        QFile::remove(path);
        problem = QStringLiteral("Impossibile scrivere la chiave SFTP %1").arg(path);
    }
    ssh_key_free(key);
    return problem;
}

} // namespace

HostKeyFiles hostKeyFiles(const QString& dataFolder) {
    const QDir dir(dataFolder);
    return {dir.filePath(QStringLiteral("kestrova-sftp-ed25519.key")),
            dir.filePath(QStringLiteral("kestrova-sftp-ecdsa.key"))};
}

QString ensureHostKeys(const HostKeyFiles& files) {
    if (!QFile::exists(files.ed25519)) {
        if (QString p = generate(files.ed25519, SSH_KEYTYPE_ED25519, 0); !p.isEmpty())
            return p;
    }
    if (!QFile::exists(files.ecdsa)) {
        if (QString p = generate(files.ecdsa, SSH_KEYTYPE_ECDSA_P256, 256); !p.isEmpty())
            return p;
    }
    for (const QString& f : {files.ed25519, files.ecdsa}) {
        if (hostKeyFingerprint(f).isEmpty())
            return QStringLiteral("Chiave SFTP non leggibile: %1").arg(f);
    }
    return {};
}

QString hostKeyFingerprint(const QString& privateKeyFile) {
    ssh_key key = nullptr;
    if (ssh_pki_import_privkey_file(QFile::encodeName(privateKeyFile).constData(), nullptr, nullptr,
                                    nullptr, &key) != SSH_OK)
        return {};
    const QString text = keyFingerprint(key);
    ssh_key_free(key);
    return text;
}

QList<std::pair<QString, QString>> existingHostKeyFingerprints(const HostKeyFiles& files) {
    QList<std::pair<QString, QString>> found;
    const std::pair<QString, QString> keys[] = {{QStringLiteral("ED25519"), files.ed25519},
                                                {QStringLiteral("ECDSA"), files.ecdsa}};
    for (const auto& [kind, file] : keys) {
        if (!QFile::exists(file))
            continue;
        if (const QString fingerprint = hostKeyFingerprint(file); !fingerprint.isEmpty())
            found.append({kind, fingerprint});
    }
    return found;
}

QStringList hostKeyFingerprintLines(const HostKeyFiles& files) {
    return {QStringLiteral("ED25519 ") + hostKeyFingerprint(files.ed25519),
            QStringLiteral("ECDSA ") + hostKeyFingerprint(files.ecdsa)};
}

} // namespace kv::sftp
