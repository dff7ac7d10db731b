#pragma once
// The private data folder of a window on a remote server: a new temporary
// folder (0700, removed with this object) holding an accounts.dat made with
// the program's schema, for the copy of the server's data the panels edit.

#include <QString>
#include <QTemporaryDir>

namespace kv {

class RemoteCopyFolder {
public:
    RemoteCopyFolder();
    // The Italian reason the folder or its accounts.dat could not be made.
    QString problem() const { return problem_; }
    QString path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    QString problem_;
};

} // namespace kv
