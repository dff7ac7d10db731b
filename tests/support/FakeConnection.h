#pragma once
// A connection as the engine would hand it to the event handlers, with every
// value set by the test.

#include "engine/FtpEngine.h"

#include <QString>

namespace kv::testing {

class FakeConnection : public engine::StoredConnection {
public:
    FakeConnection() { remoteHost_ = QStringLiteral("127.0.0.1"); }
    FakeConnection(const QString& user, const QString& password,
                   const QString& remoteHost = QStringLiteral("127.0.0.1")) {
        userName_ = user;
        password_ = password;
        remoteHost_ = remoteHost;
    }

    void Disconnect() override { ++disconnects; }
    engine::TransferActivity Activity() const override { return activity; }

    void setUserName(const QString& user) { userName_ = user; }
    void setPassword(const QString& password) { password_ = password; }
    void setRemoteHost(const QString& host) { remoteHost_ = host; }

    int disconnects = 0;
    engine::TransferActivity activity;
};

} // namespace kv::testing
