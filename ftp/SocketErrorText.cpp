#include "ftp/SocketErrorText.h"

#include <cerrno>
#include <cstring>

namespace kv::ftp {

QString clientClosedText() {
    return QStringLiteral("il client ha chiuso la connessione");
}

QString socketErrorText(QAbstractSocket::SocketError error) {
    switch (error) {
    case QAbstractSocket::RemoteHostClosedError:
        return clientClosedText();
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("connessione rifiutata dal client");
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("indirizzo del client non trovato");
    case QAbstractSocket::SocketAccessError:
        return QStringLiteral("permesso negato");
    case QAbstractSocket::SocketResourceError:
        return QStringLiteral("risorse di sistema esaurite");
    case QAbstractSocket::SocketTimeoutError:
        return QStringLiteral("tempo di attesa scaduto");
    case QAbstractSocket::NetworkError:
        return QStringLiteral("errore di rete");
    case QAbstractSocket::SslHandshakeFailedError:
        return QStringLiteral("negoziazione TLS non riuscita");
    default:
        return QStringLiteral("errore della connessione (codice %1)").arg(int(error));
    }
}

QString systemErrorText(int error) {
    switch (error) {
    case 0:
    case ECONNRESET:
    case EPIPE:
        return clientClosedText();
    case ETIMEDOUT:
        return QStringLiteral("tempo di attesa scaduto");
    case ECONNREFUSED:
        return QStringLiteral("connessione rifiutata dal client");
    case ENETDOWN:
    case ENETUNREACH:
    case EHOSTUNREACH:
        return QStringLiteral("rete non raggiungibile");
    case ENOSPC:
        return QStringLiteral("spazio esaurito sul disco");
    case EDQUOT:
        return QStringLiteral("quota del disco esaurita");
    case EFBIG:
        return QStringLiteral("file oltre la dimensione massima consentita");
    case EIO:
        return QStringLiteral("errore di lettura o scrittura sul disco");
    case EACCES:
    case EPERM:
        return QStringLiteral("permesso negato");
    case EROFS:
        return QStringLiteral("file system in sola lettura");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("troppi file aperti");
    case ENOMEM:
    case ENOBUFS:
        return QStringLiteral("memoria esaurita");
    default:
        return QStringLiteral("errore di sistema %1 (%2)")
            .arg(error)
            .arg(QString::fromLocal8Bit(std::strerror(error)));
    }
}

} // namespace kv::ftp
