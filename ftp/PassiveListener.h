#pragma once
// The passive data port of one session. QTcpServer binds and listens, but
// the connections are accepted here with accept4(): the descriptor comes
// non-blocking and with the client's address in that one call, where
// QTcpServer's accept is followed by two fcntl calls, getsockname,
// getpeername and getsockopt for the socket made from it, and one more
// accept that finds nothing.

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

class QSocketNotifier;

namespace kv::ftp {

class PassiveListener : public QObject {
    Q_OBJECT
public:
    explicit PassiveListener(QObject* parent) : QObject(parent) {}
    ~PassiveListener() override;

    bool listen(const QHostAddress& address, quint16 port);
    void close();
    bool isListening() const { return server_.isListening(); }
    QHostAddress serverAddress() const { return server_.serverAddress(); }
    quint16 serverPort() const { return server_.serverPort(); }
    QAbstractSocket::SocketError serverError() const { return server_.serverError(); }

    // Takes one queued connection now, without waiting for the loop to
    // report it (accepted() or resetBeforeAccept() follows); false when none
    // is queued or none can be taken right now.
    bool acceptOne();

Q_SIGNALS:
    // A connection, non-blocking; the receiver owns the descriptor.
    void accepted(int descriptor, const QHostAddress& peer);
    // The client reset a connection before it could be accepted.
    void resetBeforeAccept();

private:
    QTcpServer server_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace kv::ftp
