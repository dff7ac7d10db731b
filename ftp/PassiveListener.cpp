#include "ftp/PassiveListener.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace kv::ftp {

namespace {
constexpr int kRetryAfterMs = 100;
} // namespace

PassiveListener::~PassiveListener() {
    close();
}

bool PassiveListener::listen(const QHostAddress& address, quint16 port) {
    close();
    if (!server_.listen(address, port))
        return false;
    // QTcpServer's own accepting stays off; this notifier accepts instead.
    server_.pauseAccepting();
    notifier_ = new QSocketNotifier(server_.socketDescriptor(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &PassiveListener::acceptOne);
    return true;
}

void PassiveListener::close() {
    // The notifier goes before the descriptor it watches.
    delete std::exchange(notifier_, nullptr);
    server_.close();
}

bool PassiveListener::acceptOne() {
    if (!notifier_)
        return false;
    // One connection per readiness: a second one waiting keeps the
    // descriptor readable, so no accept is spent finding nothing.
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    const int fd = ::accept4(int(server_.socketDescriptor()), reinterpret_cast<sockaddr*>(&peer),
                             &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
        QHostAddress address;
        address.setAddress(reinterpret_cast<const sockaddr*>(&peer));
        Q_EMIT accepted(fd, address);
        return true;
    }
    // Linux answers ECONNABORTED when the connection was reset in the queue.
    if (errno == ECONNABORTED) {
        Q_EMIT resetBeforeAccept();
        return true;
    }
    // Out of descriptors or memory: the connection stays queued and the
    // listener readable, so wait a moment instead of spinning on it.
    if ((errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) &&
        notifier_->isEnabled()) {
        notifier_->setEnabled(false);
        QTimer::singleShot(kRetryAfterMs, notifier_, [n = notifier_] { n->setEnabled(true); });
    }
    return false;
}

} // namespace kv::ftp
