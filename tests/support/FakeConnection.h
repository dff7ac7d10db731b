#pragma once
// A connection as the engine would hand it to the event handlers, with every
// value set by the test.

#include "engine/FtpEngine.h"

#include <QString>
#include <QVariant>
#include <utility>

namespace kv::testing {

class FakeConnection : public engine::ConnectionObject {
public:
    FakeConnection() = default;
    FakeConnection(QString user, QString password, QString remoteHost = QStringLiteral("127.0.0.1"))
        : user_(std::move(user)), password_(std::move(password)),
          remoteHost_(std::move(remoteHost)) {}

    QString UserName() const override { return user_; }
    QString Password() const override { return password_; }
    QString RemoteHost() const override { return remoteHost_; }
    QString RootDir() const override { return rootDir_; }
    void setRootDir(const QString& dir) override { rootDir_ = dir; }
    QVariant Tag() const override { return tag_; }
    void setTag(const QVariant& tag) override { tag_ = tag; }
    engine::VirtualDirCollection& VirtualDirs() override { return virtualDirs_; }
    void Disconnect() override { ++disconnects; }

    void setUserName(const QString& user) { user_ = user; }
    void setPassword(const QString& password) { password_ = password; }
    void setRemoteHost(const QString& host) { remoteHost_ = host; }

    int disconnects = 0;

private:
    QString user_;
    QString password_;
    QString remoteHost_ = QStringLiteral("127.0.0.1");
    QString rootDir_;
    QVariant tag_;
    engine::VirtualDirCollection virtualDirs_;
};

} // namespace kv::testing
