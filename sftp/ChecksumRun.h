#pragma once
// One checksum command run for a logged-in session: each file named is
// opened through the session's file layer (its root, virtual folders and
// read right, as a download) and hashed by the server's hash workers, off
// the event loop, one after the other; standard input is hashed once it has
// ended. What the tool would print goes to the output and the errors, and
// the exit status is 0 when every name was hashed, 1 otherwise.

#include "sftp/ChecksumCommand.h"

#include "files/FileService.h"

#include <QFutureWatcher>
#include <QObject>

namespace kv::sftp {

class ChecksumRun : public QObject {
    Q_OBJECT
public:
    // Standard input taken in before it is hashed; past this the run fails.
    static constexpr qsizetype kMaxInput = 1024 * 1024;

    // `files` and `workers` outlive the run.
    ChecksumRun(ChecksumCommand command, const files::FileService& files,
                files::HashWorkers& workers, QObject* parent = nullptr);
    // Stops a hash still running.
    ~ChecksumRun() override;

    void start();
    void takeInput(QByteArrayView data);
    void endInput();

    // What was printed since the last call.
    QByteArray takeOutput() { return std::exchange(output_, {}); }
    QByteArray takeErrors() { return std::exchange(errors_, {}); }
    bool isFinished() const { return finished_; }
    int exitStatus() const { return failed_ ? 1 : 0; }

Q_SIGNALS:
    // Output, errors or the end are there to be taken.
    void progressed();

private:
    void next();
    void onHashed();
    void fail(const QByteArray& name, QByteArrayView reason);

    ChecksumCommand command_;
    const files::FileService& files_;
    files::HashWorkers& workers_;
    QFutureWatcher<files::HashResult> watcher_;
    qsizetype nextName_ = 0;
    bool started_ = false;
    bool hashing_ = false;
    QByteArray input_;
    bool inputEnded_ = false;
    bool inputTooLong_ = false;
    QByteArray output_;
    QByteArray errors_;
    bool failed_ = false;
    bool finished_ = false;
};

} // namespace kv::sftp
