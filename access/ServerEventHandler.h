#pragma once
// Answers every engine event with the program's handlers: logins go to the
// login handler, operation checks to the access checks, engine lines to the
// activity log, and the online list is refreshed after each login and each
// closed connection. The window and headless mode use the same handler.

#include "access/AccessChecks.h"
#include "access/EventSinks.h"
#include "access/LoginHandler.h"
#include "engine/FtpEngine.h"

namespace kv::access {

class ServerEventHandler : public engine::EngineEvents {
public:
    ServerEventHandler(LoginHandler& login, const AccessChecks& checks, EngineLineSink& log,
                       OnlineObserver& online);

    engine::Verdict LoginRequest(engine::ConnectionObject& c) override;
    void ConnectionClosed(engine::ConnectionObject& c) override;
    void LogLine(engine::ConnectionObject& c, const QString& line) override;
    engine::Verdict ChangeDirCheck(engine::ConnectionObject& c, const QString& path) override;
    engine::Verdict MakeDirCheck(engine::ConnectionObject& c, const QString& path) override;
    engine::Verdict RemoveDirCheck(engine::ConnectionObject& c, const QString& path) override;
    engine::Verdict DeleteCheck(engine::ConnectionObject& c, const QString& path) override;
    engine::Verdict RenameCheck(engine::ConnectionObject& c, const QString& from,
                                const QString& to) override;
    engine::Verdict UploadCheck(engine::ConnectionObject& c, const QString& path) override;
    engine::Verdict DownloadCheck(engine::ConnectionObject& c, const QString& path) override;
    engine::Verdict OtherCheckA(engine::ConnectionObject& c, const QString& siteCommand) override;
    engine::Verdict OtherCheckB(engine::ConnectionObject& c, const QString& path) override;
    void OtherNoticeA(engine::ConnectionObject& c, const QString& path, qint64 bytes) override;
    void OtherNoticeB(engine::ConnectionObject& c, const QString& path, qint64 bytes,
                      bool complete) override;

private:
    void refreshOnline();

    LoginHandler& login_;
    const AccessChecks& checks_;
    EngineLineSink& log_;
    OnlineObserver& online_;
};

} // namespace kv::access
