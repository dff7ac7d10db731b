// Hashing and verifying stored passwords with libcrypt (libxcrypt).

#include "access/PasswordHash.h"

#include <QCryptographicHash>
#include <crypt.h>
#include <memory>

namespace kv::access {

namespace {

// Same answer as ==, in a time that depends on the lengths only.
bool sameBytes(const QByteArray& a, const QByteArray& b) {
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

} // namespace

bool isPasswordHash(const QString& stored) {
    return stored.startsWith(QLatin1String("$y$")) || stored.startsWith(QLatin1String("$6$")) ||
           stored.startsWith(QLatin1String("$2b$"));
}

bool isVerifiableHash(const QString& stored) {
    if (!isPasswordHash(stored) || stored.size() > CRYPT_OUTPUT_SIZE)
        return false;
    const QByteArray setting = stored.toLatin1();
    if (QString::fromLatin1(setting) != stored)
        return false;
    auto data = std::make_unique<crypt_data>();
    const char* hash = crypt_rn("", setting.constData(), data.get(), sizeof *data);
    // A well-formed hash hashes again to one of its own length and setting.
    if (!hash || hash[0] == '*' || qstrlen(hash) != size_t(setting.size()))
        return false;
    const qsizetype settingEnd = setting.lastIndexOf('$');
    return QByteArray(hash).left(settingEnd) == setting.left(settingEnd);
}

std::optional<QString> hashPassword(const QString& password, int cost) {
    const QByteArray phrase = password.toUtf8();
    // libcrypt reads a C string: a NUL would silently cut the password short.
    if (phrase.contains('\0'))
        return std::nullopt;
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (!crypt_gensalt_rn("$y$", static_cast<unsigned long>(cost), nullptr, 0, setting,
                          sizeof setting))
        return std::nullopt;
    auto data = std::make_unique<crypt_data>();
    const char* hash = crypt_rn(phrase.constData(), setting, data.get(), sizeof *data);
    if (!hash || hash[0] == '*')
        return std::nullopt;
    return QString::fromLatin1(hash);
}

bool passwordMatches(const QString& stored, const QString& typed) {
    const QByteArray phrase = typed.toUtf8();
    if (!isPasswordHash(stored))
        return sameBytes(stored.toUtf8(), phrase);
    if (phrase.contains('\0'))
        return false;
    const QByteArray setting = stored.toLatin1();
    auto data = std::make_unique<crypt_data>();
    const char* hash = crypt_rn(phrase.constData(), setting.constData(), data.get(), sizeof *data);
    // A failed hashing ("*0", "*1" or none) matches nothing.
    if (!hash || hash[0] == '*')
        return false;
    return sameBytes(QByteArray(hash), setting);
}

bool PasswordChecker::matches(const QString& stored, const QString& typed) {
    if (!isPasswordHash(stored))
        return passwordMatches(stored, typed);
    QCryptographicHash digest(QCryptographicHash::Sha256);
    const QByteArray storedBytes = stored.toUtf8(), typedBytes = typed.toUtf8();
    // Lengths first, so no two different pairs share one digest input.
    digest.addData(QByteArray::number(storedBytes.size()) + ':');
    digest.addData(storedBytes);
    digest.addData(typedBytes);
    const QByteArray key = digest.result();
    if (const auto known = recent_.constFind(key); known != recent_.constEnd())
        return *known;
    const bool result = passwordMatches(stored, typed);
    if (recent_.size() >= kRemembered)
        recent_.clear();
    recent_.insert(key, result);
    return result;
}

} // namespace kv::access
