#pragma once
// A connection as the engine would hand it to the program, with every value
// set by the test; ids count up from 1000 so they differ from the engine's.

#include "ftp/FtpEngine.h"

#include <QString>

namespace kv::testing {

class FakeConnection : public session::StoredConnection {
public:
    FakeConnection() : FakeConnection({}, {}) {}
    FakeConnection(const QString& user, const QString& password,
                   const QString& remoteHost = QStringLiteral("127.0.0.1")) {
        static quint64 next = 1000;
        id_ = ++next;
        userName_ = user;
        password_ = password;
        remoteHost_ = remoteHost;
    }

    void Disconnect() override { ++disconnects; }
    session::TransferActivity Activity() const override { return activity; }

    // Logged in with this grant (null: not logged in).
    void setGrant(std::shared_ptr<const files::LoginGrant> grant) {
        loginAddress_ = remoteHost_;
        grant_ = std::move(grant);
    }
    // Asked to log in, and refused (for `reason`, when given).
    void setRefused(const QString& reason = {}) {
        loginAddress_ = remoteHost_;
        loginRefusal_ = reason;
    }

    int disconnects = 0;
    session::TransferActivity activity;
};

} // namespace kv::testing
