#include "files/BesideFile.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace kv::files {

BesideFile::BesideFile(UniqueFd folder, QByteArray tempName, QByteArray finalName)
    : folder_(std::move(folder)), temp_(std::move(tempName)), final_(std::move(finalName)) {}

BesideFile::~BesideFile() {
    drop();
}

bool BesideFile::commit() {
    if (done_)
        return false;
    done_ = true;
    if (::renameat(folder_.get(), temp_.constData(), folder_.get(), final_.constData()) == 0)
        return true;
    const int error = errno;
    ::unlinkat(folder_.get(), temp_.constData(), 0);
    errno = error;
    return false;
}

void BesideFile::drop() {
    if (done_)
        return;
    done_ = true;
    ::unlinkat(folder_.get(), temp_.constData(), 0);
}

} // namespace kv::files
