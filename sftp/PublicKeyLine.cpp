#include "sftp/PublicKeyLine.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QStringList>
#include <QtEndian>

#include <libssh/libssh.h>

namespace kv::sftp {

namespace {

const QStringList& acceptedTypes() {
    static const QStringList types = {
        QStringLiteral("ssh-ed25519"), QStringLiteral("ecdsa-sha2-nistp256"),
        QStringLiteral("ecdsa-sha2-nistp384"), QStringLiteral("ecdsa-sha2-nistp521"),
        QStringLiteral("ssh-rsa")};
    return types;
}

const QString kTypesHint =
    QStringLiteral("ssh-ed25519, ecdsa-sha2-nistp256/384/521 o ssh-rsa di almeno 2048 bit");

// An SSH "string": a 32-bit length and that many bytes, read from `at`.
std::optional<QByteArray> sshString(const QByteArray& blob, qsizetype& at) {
    if (blob.size() - at < 4)
        return std::nullopt;
    const quint32 length = qFromBigEndian<quint32>(blob.constData() + at);
    at += 4;
    if (length > quint32(blob.size() - at))
        return std::nullopt;
    QByteArray value = blob.mid(at, qsizetype(length));
    at += qsizetype(length);
    return value;
}

// Bits of the RSA modulus, read from the blob ("ssh-rsa", e, n); 0 when unreadable.
int rsaBits(const QByteArray& blob) {
    qsizetype at = 0;
    if (!sshString(blob, at) || !sshString(blob, at))
        return 0;
    const std::optional<QByteArray> n = sshString(blob, at);
    if (!n)
        return 0;
    qsizetype first = 0;
    while (first < n->size() && n->at(first) == '\0')
        ++first;
    if (first == n->size())
        return 0;
    int bits = int(n->size() - first - 1) * 8;
    for (auto top = quint8(n->at(first)); top != 0; top >>= 1)
        ++bits;
    return bits;
}

// The name the key's own blob gives for its type.
QString typeOf(ssh_key key) {
    if (ssh_key_type(key) == SSH_KEYTYPE_ECDSA_P256 ||
        ssh_key_type(key) == SSH_KEYTYPE_ECDSA_P384 || ssh_key_type(key) == SSH_KEYTYPE_ECDSA_P521)
        return QString::fromLatin1(ssh_pki_key_ecdsa_name(key));
    const char* name = ssh_key_type_to_char(ssh_key_type(key));
    return name ? QString::fromLatin1(name) : QString();
}

PublicKeyParse refused(const QString& why) {
    return {std::nullopt, why};
}

} // namespace

const char* acceptedKeyAlgorithms() {
    // rsa-sha2 only: a signature over SHA-1 ("ssh-rsa") is refused.
    return "ssh-ed25519,ecdsa-sha2-nistp521,ecdsa-sha2-nistp384,ecdsa-sha2-nistp256,"
           "rsa-sha2-512,rsa-sha2-256";
}

QString keyFingerprint(const ssh_key_struct* key) {
    unsigned char* hash = nullptr;
    size_t length = 0;
    // libssh's declaration takes a non-const key it only reads.
    if (ssh_get_publickey_hash(const_cast<ssh_key>(key), SSH_PUBLICKEY_HASH_SHA256, &hash,
                               &length) != SSH_OK)
        return {};
    // OpenSSH's form: unpadded base64 after "SHA256:".
    const QString text =
        QStringLiteral("SHA256:") +
        QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(hash), qsizetype(length))
                                .toBase64(QByteArray::OmitTrailingEquals));
    ssh_clean_pubkey_hash(&hash);
    return text;
}

PublicKeyParse parsePublicKeyLine(const QString& text) {
    const QString line = text.trimmed();
    if (line.isEmpty())
        return refused(QStringLiteral("Nessuna chiave: incollare una riga come quella del file "
                                      "id_ed25519.pub"));
    if (line.contains(QLatin1String("PRIVATE KEY")))
        return refused(QStringLiteral("Questa è una chiave privata, che non va mai data a "
                                      "nessuno: serve la chiave pubblica (il file .pub)"));
    if (line.contains(u'\n') || line.contains(u'\r'))
        return refused(QStringLiteral("Una chiave per volta: il testo ha più righe"));
    const QStringList words = line.split(QRegularExpression(QStringLiteral("[ \t]+")));
    const QString type = words.value(0);
    if (words.size() < 2)
        return refused(QStringLiteral("Riga non valida: servono il tipo e la chiave "
                                      "(\"ssh-ed25519 AAAA... commento\")"));
    if (!acceptedTypes().contains(type)) {
        if (type == QLatin1String("ssh-dss"))
            return refused(QStringLiteral("Le chiavi DSA (ssh-dss) non sono più sicure: usare %1")
                               .arg(kTypesHint));
        return refused(QStringLiteral("Tipo di chiave non accettato: \"%1\" (accettati: %2)")
                           .arg(type, kTypesHint));
    }
    const QByteArray encoded = words[1].toLatin1();
    const auto decoded =
        QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
    ssh_key key = nullptr;
    if (!decoded || decoded.decoded.isEmpty() ||
        ssh_pki_import_pubkey_base64(encoded.constData(),
                                     ssh_key_type_from_name(type.toLatin1().constData()),
                                     &key) != SSH_OK) {
        return refused(QStringLiteral("La chiave non è leggibile: il testo dopo \"%1\" non è "
                                      "una chiave valida")
                           .arg(type));
    }
    PublicKeyParse result;
    const QString actual = typeOf(key);
    char* canonical = nullptr;
    if (actual != type) {
        result.error = QStringLiteral("La chiave è di tipo \"%1\", non \"%2\"").arg(actual, type);
    } else if (type == QLatin1String("ssh-rsa") && rsaBits(decoded.decoded) < kMinimumRsaBits) {
        result.error = QStringLiteral("Chiave RSA di %1 bit: ne servono almeno %2")
                           .arg(rsaBits(decoded.decoded))
                           .arg(kMinimumRsaBits);
    } else if (ssh_pki_export_pubkey_base64(key, &canonical) != SSH_OK) {
        result.error = QStringLiteral("La chiave non è leggibile");
    } else {
        PublicKey k;
        k.type = type;
        k.base64 = QString::fromLatin1(canonical);
        k.comment = words.size() > 2 ? line.section(QRegularExpression(QStringLiteral("[ \t]+")), 2)
                                     : QString();
        k.fingerprint = keyFingerprint(key);
        if (k.fingerprint.isEmpty())
            result.error = QStringLiteral("Impronta della chiave non calcolabile");
        else
            result.key = k;
    }
    ssh_string_free_char(canonical);
    ssh_key_free(key);
    return result;
}

} // namespace kv::sftp
