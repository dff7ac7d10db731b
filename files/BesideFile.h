#pragma once
// An upload over an existing file written under a hidden name beside it, so
// the file it would replace stays whole until the upload is: commit() puts
// the new file in its place; one never committed is removed when this goes.

#include "files/BeneathOpen.h"

#include <QByteArray>

namespace kv::files {

class BesideFile {
public:
    // `folder`: the folder holding both names (O_PATH is enough).
    BesideFile(UniqueFd folder, QByteArray tempName, QByteArray finalName);
    ~BesideFile();
    BesideFile(const BesideFile&) = delete;
    BesideFile& operator=(const BesideFile&) = delete;

    // Renames the new file over the old one; false (errno set) when it failed.
    bool commit();
    // Removes the new file now, leaving the old one.
    void drop();
    const QByteArray& tempName() const { return temp_; }

private:
    UniqueFd folder_;
    QByteArray temp_;
    QByteArray final_;
    bool done_ = false;
};

} // namespace kv::files
