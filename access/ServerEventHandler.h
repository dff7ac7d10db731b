#pragma once
// Answers the engine's two questions, and the SFTP session's questions about
// logins by key, with the program's handlers: logins go to the login handler,
// engine lines onto the events::ServerEvents bus as log lines, where the
// activity log, the screen and the administration channel take them. The
// window and headless mode use the same handler.

#include "access/LoginHandler.h"
#include "events/ServerEvents.h"
#include "session/LoginDecision.h"

#include <QHash>
#include <functional>

namespace kv::access {

class ServerEventHandler : public session::EngineEvents, public sftp::KeyLogins {
public:
    // The shown line of a session's text: "[hh:mm:ss address] text".
    using Stamp = std::function<QString(const QString& address, const QString& text)>;

    ServerEventHandler(LoginHandler& login, events::ServerEvents& bus, Stamp stamp)
        : login_(login), bus_(bus), stamp_(std::move(stamp)) {
        // A connection does not say which protocol it speaks; its events do.
        const auto note = [this](const events::SessionInfo& s) {
            protocols_.insert(s.id, s.protocol);
        };
        subscriptions_ = {
            QObject::connect(&bus_, &events::ServerEvents::sessionOpened, note),
            QObject::connect(&bus_, &events::ServerEvents::loggedIn, note),
            QObject::connect(&bus_, &events::ServerEvents::sessionClosed,
                             [this](const events::SessionInfo& s) { protocols_.remove(s.id); })};
    }
    ~ServerEventHandler() override {
        for (const QMetaObject::Connection& c : std::as_const(subscriptions_))
            QObject::disconnect(c);
    }
    ServerEventHandler(const ServerEventHandler&) = delete;
    ServerEventHandler& operator=(const ServerEventHandler&) = delete;

    session::LoginDecision LoginRequest(session::ConnectionObject& c) override {
        return login_.LoginRequest(c);
    }
    sftp::KeyListed KeyIsListed(const QString& login, const QString& fingerprint) override {
        return login_.KeyIsListed(login, fingerprint);
    }
    session::LoginDecision KeyLoginRequest(session::ConnectionObject& c,
                                           const QString& fingerprint) override {
        return login_.KeyLoginRequest(c, fingerprint);
    }
    void LogLine(session::ConnectionObject& c, const QString& text) override {
        events::LogLine line;
        line.address = c.LoginAddress();
        line.text = text;
        line.line = stamp_ ? stamp_(line.address, text) : text;
        line.session =
            events::SessionInfo{c.Id(), c.RemoteHost(), c.Grant() ? c.UserName() : QString(),
                                protocols_.value(c.Id(), events::Protocol::Ftp)};
        Q_EMIT bus_.logLine(line);
    }

private:
    LoginHandler& login_;
    events::ServerEvents& bus_;
    Stamp stamp_;
    QHash<quint64, events::Protocol> protocols_;
    QList<QMetaObject::Connection> subscriptions_;
};

} // namespace kv::access
