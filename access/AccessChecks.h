#pragma once
// The engine's per-operation checks. Rights are per account, not per path:
// each check tests one permission letter of the connection's record, fixed
// when the connection logged in. The paths the engine passes are not looked at.

#include "access/ConnectedUsers.h"
#include "engine/FtpEngine.h"

namespace kv::access {

class AccessChecks {
public:
    explicit AccessChecks(const ConnectedUsers& users) : users_(users) {}

    engine::Verdict ChangeDirCheck(const engine::ConnectionObject& c) const; // browse
    engine::Verdict MakeDirCheck(const engine::ConnectionObject& c) const;   // manage
    engine::Verdict RemoveDirCheck(const engine::ConnectionObject& c) const; // manage
    engine::Verdict DeleteCheck(const engine::ConnectionObject& c) const;    // delete
    engine::Verdict RenameCheck(const engine::ConnectionObject& c) const;    // write
    engine::Verdict UploadCheck(const engine::ConnectionObject& c) const;    // write
    engine::Verdict DownloadCheck(const engine::ConnectionObject& c) const;  // read
    // MFMT: keeping a file's modification time is part of uploading it.
    engine::Verdict ModifyTimeCheck(const engine::ConnectionObject& c) const; // write
    // SITE commands: never allowed.
    engine::Verdict OtherCheckA() const { return engine::Verdict::Deny; }

private:
    engine::Verdict require(const engine::ConnectionObject& c, const QString& word) const;

    const ConnectedUsers& users_;
};

} // namespace kv::access
