#pragma once
// The SFTP requests of one logged-in session answered over the file layer:
// every path goes through files::FileService (the path checkpoint and the
// grant decide), so SFTP sees exactly the root, virtual folders and rights
// an FTP login would. Open files and folder listings are kept by handle.

#include "events/ServerEvents.h"
#include "files/FileService.h"
#include "session/FileTransfer.h"
#include "sftp/SftpPacket.h"

#include <QHash>
#include <functional>
#include <memory>

namespace kv::sftp {

// The most handles one session may hold open at once.
inline constexpr int kMaxOpenHandles = 64;

using session::TransferNote;

class SftpRequests {
public:
    struct Observer {
        std::function<void(const TransferNote&)> started;
        std::function<void(const TransferNote&, events::TransferOutcome)> finished;
        std::function<void(const QString&)> log;
    };

    SftpRequests(std::unique_ptr<files::FileService> files, Observer observer);
    ~SftpRequests();
    // Uploads and deletions count towards the quota of the grant's account
    // in `keeper` (null: no quotas).
    void setQuota(session::QuotaKeeper* keeper, std::shared_ptr<const files::LoginGrant> grant) {
        quota_ = keeper;
        grant_ = std::move(grant);
    }

    // Answers one packet payload; the reply packet, length prefix included.
    QByteArray answer(QByteArrayView payload);
    // Ends every open transfer as aborted (the connection went away).
    void abortAll();
    // The transfer moving most recently, for the online list.
    const TransferNote* currentTransfer() const;
    // The file layer every request goes through, for the session's commands.
    const files::FileService& files() const { return *files_; }
    qint64 sentTotal() const { return sent_; }
    qint64 receivedTotal() const { return received_; }

private:
    struct Handle;
    QByteArray dispatch(const Request& q);
    QByteArray open(const Request& q);
    QByteArray close(const Request& q);
    QByteArray read(const Request& q);
    QByteArray write(const Request& q);
    QByteArray openFolder(const Request& q);
    QByteArray readFolder(const Request& q);
    QByteArray statPath(const Request& q);
    QByteArray statHandle(const Request& q);
    QByteArray setStat(const Request& q, const QString& path);
    QByteArray realPath(const Request& q);
    QByteArray rename(quint32 id, const QByteArray& from, const QByteArray& to);
    QByteArray extended(const Request& q);
    // statvfs@openssh.com: the disk, or the account's quota as its size.
    QByteArray fileSystem(const Request& q);
    QByteArray newHandle(quint32 id, std::unique_ptr<Handle> handle);
    Handle* handleOf(const QByteArray& bytes);
    void finish(Handle& h, events::TransferOutcome outcome);
    // A READ or WRITE went through: the first tells the transfer started.
    void noteMoving(Handle& h);

    std::unique_ptr<files::FileService> files_;
    Observer observer_;
    QHash<QByteArray, std::shared_ptr<Handle>> handles_;
    quint64 nextHandle_ = 1;
    qint64 sent_ = 0;
    qint64 received_ = 0;
    Handle* moving_ = nullptr;
    session::QuotaKeeper* quota_ = nullptr;
    std::shared_ptr<const files::LoginGrant> grant_;
};

// The client path as the file layer takes it: absolute, "." and ".."
// resolved without going above the root.
QString clientPathOf(const QByteArray& bytes);

} // namespace kv::sftp
