#include "ftp/PermLetters.h"

#include "files/Authorizer.h"

namespace kv::ftp {

namespace {

using files::FileOperation;

enum class DiskNeeds { Nothing, Readable, Writable };

struct PermLetter {
    char letter;
    FileOperation operation;
    DiskNeeds needs;
};

constexpr PermLetter kFolderLetters[] = {
    {'e', FileOperation::ChangeDir, DiskNeeds::Nothing},
    {'l', FileOperation::List, DiskNeeds::Nothing},
    {'c', FileOperation::Upload, DiskNeeds::Writable},
    {'d', FileOperation::RemoveDir, DiskNeeds::Writable},
    {'f', FileOperation::Rename, DiskNeeds::Writable},
    {'m', FileOperation::MakeDir, DiskNeeds::Writable},
    {'p', FileOperation::Delete, DiskNeeds::Writable},
};

constexpr PermLetter kFileLetters[] = {
    {'r', FileOperation::Download, DiskNeeds::Readable},
    {'a', FileOperation::Upload, DiskNeeds::Writable},
    {'d', FileOperation::Delete, DiskNeeds::Writable},
    {'f', FileOperation::Rename, DiskNeeds::Writable},
    {'w', FileOperation::Upload, DiskNeeds::Writable},
};

int indexOf(bool isDir, bool readable, bool writable) {
    return (isDir ? 4 : 0) + (readable ? 2 : 0) + (writable ? 1 : 0);
}

QByteArray letters(bool isDir, bool readable, bool writable, const files::LoginGrant* grant) {
    QByteArray out;
    const auto add = [&](const auto& table) {
        for (const PermLetter& p : table) {
            if ((p.needs == DiskNeeds::Readable && !readable) ||
                (p.needs == DiskNeeds::Writable && !writable))
                continue;
            if (files::isAllowed(grant, p.operation))
                out += p.letter;
        }
    };
    if (isDir)
        add(kFolderLetters);
    else
        add(kFileLetters);
    return out;
}

} // namespace

PermTable::PermTable(const files::LoginGrant* grant) {
    for (const bool isDir : {false, true})
        for (const bool readable : {false, true})
            for (const bool writable : {false, true})
                letters_[indexOf(isDir, readable, writable)] =
                    letters(isDir, readable, writable, grant);
}

const QByteArray& PermTable::lettersFor(bool isDir, bool readable, bool writable) const {
    return letters_[indexOf(isDir, readable, writable)];
}

} // namespace kv::ftp
