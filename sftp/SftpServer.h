#pragma once
// The SFTP listener: accepts connections on its own port, refuses banned
// addresses and connections over the limits before any SSH byte, and runs
// one SftpSession per connection on the event loop. Host keys and the
// allowed algorithms are set once per start.

#include "events/ServerEvents.h"
#include "files/AreaRegistry.h"
#include "session/Admission.h"
#include "session/LoginBans.h"
#include "session/LoginDecision.h"
#include "session/SessionLimits.h"
#include "sftp/SftpHostKeys.h"
#include "sftp/SftpSession.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <memory>
#include <unordered_map>

namespace kv::net {
class DescriptorListener;
}

namespace kv::sftp {

struct SftpListenSettings {
    QString address; // as stored: see net::listeningAddress
    quint16 port = 0;
    HostKeyFiles hostKeys;
    SftpContext context;
    // Where connections are admitted, with the other protocols' sessions;
    // null: every connection is. Kept alive by the caller.
    session::Admission* admission = nullptr;
};

class SftpServer : public QObject {
    Q_OBJECT
public:
    explicit SftpServer(QObject* parent = nullptr);
    ~SftpServer() override;

    // Listens with `settings`; false with the Italian reason in `error`,
    // and then whatever ran before goes on. While listening, sessions already
    // open keep running with what they had.
    bool listen(const SftpListenSettings& settings, QString* error);
    // Closes the listener and every connection, each reported before this returns.
    void stop();
    bool isListening() const;
    quint16 port() const;
    QList<session::ConnectionObject*> connections() const;

private:
    void onIncoming(qintptr descriptor);
    void onBanStarted(const QString& address);
    std::optional<QString> refusalOf(const QString& host) const;
    // Each open session's place in the admission.
    std::unordered_map<SftpSession*, session::Admission::Ticket> tickets_;

    std::unique_ptr<net::DescriptorListener> listener_;
    ssh_bind bind_ = nullptr;
    SftpListenSettings settings_;
    std::shared_ptr<const SftpContext> context_;
    QList<SftpSession*> sessions_;
    // Holds no descriptor itself, so sessions may outlive it.
    files::AreaRegistry areas_;
    // The checksum commands' hashes, off the event loop, as FTP's HASH.
    files::HashWorkers hashWorkers_{session::kHashesAtOnce};
};

} // namespace kv::sftp
