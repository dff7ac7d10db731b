#include "files/Authorizer.h"

namespace kv::files {

std::optional<Right> requiredRight(FileOperation operation) {
    switch (operation) {
    case FileOperation::ChangeDir:
        return Right::Browse;
    case FileOperation::FreeSpace:
        return Right::Browse;
    case FileOperation::Download:
    case FileOperation::Checksum:
        return Right::Read;
    case FileOperation::Upload:
    case FileOperation::SetTime:
    case FileOperation::Rename:
    case FileOperation::SetMode:
        return Right::Write;
    case FileOperation::Delete:
        return Right::Delete;
    case FileOperation::MakeDir:
    case FileOperation::RemoveDir:
        return Right::Manage;
    case FileOperation::List:
    case FileOperation::Stat:
        break;
    }
    return std::nullopt;
}

bool isAllowed(const LoginGrant* grant, FileOperation operation) {
    if (!grant)
        return false;
    const std::optional<Right> right = requiredRight(operation);
    return !right || grant->rights.has(*right);
}

} // namespace kv::files
