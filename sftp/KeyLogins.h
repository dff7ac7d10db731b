#pragma once
// What an SFTP session asks the program about a login by public key: whether
// a key is listed for a login (answered to the client's probe, before any
// signature), and, once libssh has checked the signature, the same decision
// a password login gets.

#include "session/LoginDecision.h"

#include <QString>

namespace kv::sftp {

enum class KeyListed { Yes, No, Unknown }; // Unknown: the accounts could not be read

class KeyLogins {
public:
    virtual ~KeyLogins() = default;
    virtual KeyListed KeyIsListed(const QString& login, const QString& fingerprint) = 0;
    // `c` holds the login name and address; its password is empty.
    virtual session::LoginDecision KeyLoginRequest(session::ConnectionObject& c,
                                                   const QString& fingerprint) = 0;
};

} // namespace kv::sftp
