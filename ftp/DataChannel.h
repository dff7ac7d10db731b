#pragma once
// The data connection of one session: a passive listener (PASV/EPSV) or an
// active connection to the client (PORT/EPRT). It hands over one connected
// socket per transfer. Only the control connection's client may connect to a
// passive port, and active connections only go back to that client.
// Under PROT P the connection is handed over only once its TLS handshake
// is done (and, when asked, once it has resumed the control connection's
// session); either way the receiver gets a StreamSocket. A passive
// connection's handshake is answered as soon as it is accepted, before the
// command that uses it: clients such as curl wait for it before they send
// that command.

#include "ftp/EngineLimits.h"
#include "ftp/PassiveListener.h"
#include "ftp/PassiveSettings.h"
#include "ftp/ReplyTexts.h"

#include <optional>

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QTcpSocket;

namespace kv::ftp {

class StreamSocket;
class TlsContext;
class TlsSocket;

// The outcome of opening a passive port: the port (0: none), and whether
// every port of the configured range was in use (the client may retry).
struct PassivePort {
    quint16 port = 0;
    bool rangeBusy = false;
};

// How a data connection is protected.
struct DataProtection {
    const TlsContext* context;
    const TlsSocket* control; // whose sessions the data connection must resume
    bool requireReuse;
    int handshakeMs;
};

class DataChannel : public QObject {
    Q_OBJECT
public:
    DataChannel(const QHostAddress& clientAddress, const EngineLimits& limits, QObject* parent);
    ~DataChannel() override;

    // Listens on `local` on a random free port: of the operator's range when
    // `passive` has one (never outside it), else of the dynamic ports (any
    // free port when they are taken). A dynamic port stays open for the
    // session's next PASVs on the same address, which get the same port (a
    // new one after many; between PASVs every connection is refused); a port
    // of the operator's range is given back when the transfer ends.
    // `extended`: asked for by EPSV (the transfer is announced as such).
    PassivePort listenPassive(const QHostAddress& local, const PassiveSettings& passive,
                              bool extended = false);
    void setActive(const QHostAddress& address, quint16 port);
    bool isConfigured() const { return mode_ != Mode::None; }
    bool isPassive() const { return mode_ == Mode::Passive; }
    bool isExtendedPassive() const { return isPassive() && extended_; }
    // Routine debugLine()s (each data connection) are only made when on.
    void setDebugging(bool on) { debugging_ = on; }
    // Protection for the connections accepted or handed over from now on;
    // none: plain. A connection already protected otherwise is dropped, and
    // the transfer that would use it fails.
    void setProtection(std::optional<DataProtection> protection);

    // Asks for the connected socket: ready() or failed() follows (ready()
    // may come before open() returns when the client is already connected).
    void open();
    // Forgets the mode and closes anything not yet handed over; a dynamic
    // passive port stays open (refusing connections) for the next PASV.
    void reset();
    // reset() and the passive listener closed too (PORT, the session's end).
    void closeListener();

Q_SIGNALS:
    // The receiver takes ownership of the socket.
    void ready(kv::ftp::StreamSocket* socket);
    // `answer` is the reply the client gets.
    void failed(const QString& reason, kv::ftp::Reply answer);
    void debugLine(const QString& line);
    // The client connected to the passive port (before any transfer asks).
    void clientConnected();

private:
    enum class Mode { None, Passive, Active };
    QTcpSocket* createSocket();
    void onIncoming(int descriptor, const QHostAddress& peer);
    void onResetBeforeAccept();
    void handOver();
    void protect(QTcpSocket* tcp);
    void onProtected(TlsSocket* tls);
    void handOverProtected();
    void dropProtected(); // the TLS connection not yet handed over, if any
    // A failure before the transfer asked for the connection is told when it does.
    void failWhenWanted(const QString& reason, Reply answer);
    void fail(const QString& reason, Reply answer = Reply::CantOpenData);
    PassivePort listenInRange(const QHostAddress& local, int first, int last, bool anyPortLast);
    bool reuseListener(const QHostAddress& local, const PassiveSettings& passive);
    void releaseOperatorsPort();

    QHostAddress client_;
    int portFirst_;
    int portLast_;
    Mode mode_ = Mode::None;
    PassiveListener* listener_ = nullptr; // made once, listens again for every PASV
    QTcpSocket* socket_ = nullptr;        // active: connected (or connecting), not yet handed over
    int accepted_ = -1;                   // passive: accepted, not yet handed over
    TlsSocket* handshaking_ = nullptr;    // in its TLS handshake, not yet handed over
    TlsSocket* protected_ = nullptr;      // past its handshake, waiting for its transfer
    // Why the connection accepted for this PASV failed before its transfer.
    std::optional<std::pair<QString, Reply>> earlyFailure_;
    std::optional<DataProtection> protection_;
    QHostAddress activeAddress_;
    quint16 activePort_ = 0;
    bool wanted_ = false;
    bool extended_ = false; // the passive port was asked for by EPSV
    bool debugging_ = false;
    int reuses_ = 0;             // PASVs the listener has served since it was opened
    bool passiveUnused_ = false; // the last PASV's port has handed over no connection
    // A port of the operator's range is given back after each transfer: the
    // router forwards only so many, and an idle session must not hold one.
    bool keepsOperatorsPort_ = false;
    QTimer timeout_;
};

} // namespace kv::ftp
