#pragma once
// The data connection of one session: a passive listener (PASV/EPSV) or an
// active connection to the client (PORT/EPRT). It hands over one connected
// socket per transfer. Only the control connection's client may connect to a
// passive port, and active connections only go back to that client.
//
// Sockets are created in createSocket(), so an encrypted socket type can be
// put in later without changing the callers.

#include "engine/DescriptorListener.h"
#include "engine/EngineLimits.h"

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QTcpSocket;

namespace kv::engine {

class DataChannel : public QObject {
    Q_OBJECT
public:
    DataChannel(const QHostAddress& clientAddress, const EngineLimits& limits, QObject* parent);
    ~DataChannel() override;

    // Listens on `local` on a random free port of the passive range (any
    // free port when the range is full); 0 when that fails.
    quint16 listenPassive(const QHostAddress& local);
    void setActive(const QHostAddress& address, quint16 port);
    bool isConfigured() const { return mode_ != Mode::None; }
    bool isPassive() const { return mode_ == Mode::Passive; }
    // Routine debugLine()s (each data connection) are only made when on.
    void setDebugging(bool on) { debugging_ = on; }

    // Asks for the connected socket: ready() or failed() follows (ready()
    // may come before open() returns when the client is already connected).
    void open();
    // Forgets the mode and closes anything not yet handed over.
    void reset();

Q_SIGNALS:
    // The receiver takes ownership of the socket.
    void ready(QTcpSocket* socket);
    void failed(const QString& reason);
    void debugLine(const QString& line);

private:
    enum class Mode { None, Passive, Active };
    QTcpSocket* createSocket();
    void onIncoming(qintptr descriptor);
    void handOver();
    void fail(const QString& reason);
    bool listenInRange(const QHostAddress& local);

    QHostAddress client_;
    int portFirst_;
    int portLast_;
    Mode mode_ = Mode::None;
    DescriptorListener* listener_ = nullptr; // made once, listens again for every PASV
    QTcpSocket* socket_ = nullptr;           // connected (or connecting) and not yet handed over
    QHostAddress activeAddress_;
    quint16 activePort_ = 0;
    bool wanted_ = false;
    bool debugging_ = false;
    QTimer timeout_;
};

} // namespace kv::engine
