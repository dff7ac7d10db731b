#include "access/ServerEventHandler.h"

namespace kv::access {

using engine::ConnectionObject;
using engine::Verdict;

ServerEventHandler::ServerEventHandler(LoginHandler& login, const AccessChecks& checks,
                                       EngineLineSink& log, OnlineObserver& online)
    : login_(login), checks_(checks), log_(log), online_(online) {}

void ServerEventHandler::refreshOnline() {
    online_.ShowUsersNumber();
    online_.AggiornaUtenti();
}

Verdict ServerEventHandler::LoginRequest(ConnectionObject& c) {
    const Verdict verdict = login_.LoginRequest(c);
    refreshOnline();
    return verdict;
}

void ServerEventHandler::ConnectionClosed(ConnectionObject&) {
    refreshOnline();
}

void ServerEventHandler::LogLine(ConnectionObject& c, const QString& line) {
    log_.LogLine(c, line);
}

Verdict ServerEventHandler::ChangeDirCheck(ConnectionObject& c, const QString&) {
    return checks_.ChangeDirCheck(c);
}

Verdict ServerEventHandler::MakeDirCheck(ConnectionObject& c, const QString&) {
    return checks_.MakeDirCheck(c);
}

Verdict ServerEventHandler::RemoveDirCheck(ConnectionObject& c, const QString&) {
    return checks_.RemoveDirCheck(c);
}

Verdict ServerEventHandler::DeleteCheck(ConnectionObject& c, const QString&) {
    return checks_.DeleteCheck(c);
}

Verdict ServerEventHandler::RenameCheck(ConnectionObject& c, const QString&, const QString&) {
    return checks_.RenameCheck(c);
}

Verdict ServerEventHandler::UploadCheck(ConnectionObject& c, const QString&) {
    return checks_.UploadCheck(c);
}

Verdict ServerEventHandler::DownloadCheck(ConnectionObject& c, const QString&) {
    return checks_.DownloadCheck(c);
}

Verdict ServerEventHandler::OtherCheckA(ConnectionObject&, const QString&) {
    return checks_.OtherCheckA();
}

Verdict ServerEventHandler::OtherCheckB(ConnectionObject& c, const QString&) {
    return checks_.ModifyTimeCheck(c);
}

void ServerEventHandler::OtherNoticeA(ConnectionObject&, const QString&, qint64) {}

void ServerEventHandler::OtherNoticeB(ConnectionObject&, const QString&, qint64, bool) {}

} // namespace kv::access
