#pragma once
// Answers the engine's two questions, and the SFTP session's questions about
// logins by key, with the program's handlers: logins go to the login handler,
// engine lines to the activity log. The window and headless mode use the same
// handler; everything else they learn from the events::ServerEvents bus.

#include "access/EventSinks.h"
#include "access/LoginHandler.h"
#include "session/LoginDecision.h"

namespace kv::access {

class ServerEventHandler : public session::EngineEvents, public sftp::KeyLogins {
public:
    ServerEventHandler(LoginHandler& login, EngineLineSink& log) : login_(login), log_(log) {}

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
    void LogLine(session::ConnectionObject& c, const QString& line) override {
        log_.LogLine(c, line);
    }

private:
    LoginHandler& login_;
    EngineLineSink& log_;
};

} // namespace kv::access
