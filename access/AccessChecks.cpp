#include "access/AccessChecks.h"

namespace kv::access {

using engine::ConnectionObject;
using engine::Verdict;

Verdict AccessChecks::require(const ConnectionObject& c, const QString& word) const {
    return engine::denyIf(!HasPermission(users_, c, word));
}

Verdict AccessChecks::ChangeDirCheck(const ConnectionObject& c) const {
    return require(c, QStringLiteral("browse"));
}

Verdict AccessChecks::MakeDirCheck(const ConnectionObject& c) const {
    return require(c, QStringLiteral("manage"));
}

Verdict AccessChecks::RemoveDirCheck(const ConnectionObject& c) const {
    return require(c, QStringLiteral("manage"));
}

Verdict AccessChecks::DeleteCheck(const ConnectionObject& c) const {
    return require(c, QStringLiteral("delete"));
}

Verdict AccessChecks::RenameCheck(const ConnectionObject& c) const {
    return require(c, QStringLiteral("write"));
}

Verdict AccessChecks::UploadCheck(const ConnectionObject& c) const {
    return require(c, QStringLiteral("write"));
}

Verdict AccessChecks::ModifyTimeCheck(const ConnectionObject& c) const {
    return require(c, QStringLiteral("write"));
}

Verdict AccessChecks::DownloadCheck(const ConnectionObject& c) const {
    return require(c, QStringLiteral("read"));
}

} // namespace kv::access
