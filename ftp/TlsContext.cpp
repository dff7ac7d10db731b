// Building the server's OpenSSL context from the settings, with the reasons
// a start fails told to the operator, and the ticket data that binds a data
// connection to its client.
#include "ftp/TlsContext.h"

#include <QDateTime>
#include <QFile>
#include <QRandomGenerator>
#include <QtEndian>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstring>

namespace kv::ftp {

namespace {

// Forward secrecy and AEAD only for TLS 1.2; TLS 1.3 suites all are.
constexpr char kCiphers12[] = "ECDHE+AESGCM:ECDHE+CHACHA20:!aNULL:!eNULL";
constexpr char kGroups[] = "X25519:P-256:P-384";
constexpr unsigned char kSessionContext[] = "kestrova-ftps";

// Where a control connection's owner lives on its SSL object.
int ownerIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}
// Marks data connections, whose tickets are used but never renewed.
int dataIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

int onTicketMade(SSL* ssl, void*) {
    // Every ticket of a control connection carries its owner; the ticket
    // key seals it, so a client can neither read nor change it.
    const auto* owner = static_cast<const TlsSessionOwner*>(SSL_get_ex_data(ssl, ownerIndex()));
    SSL_SESSION* session = SSL_get0_session(ssl);
    if (owner && session)
        SSL_SESSION_set1_ticket_appdata(session, owner->bytes().constData(),
                                        size_t(owner->bytes().size()));
    return 1;
}

SSL_TICKET_RETURN onTicketRead(SSL* ssl, SSL_SESSION*, const unsigned char*, size_t,
                               SSL_TICKET_STATUS status, void*) {
    const bool data = SSL_get_ex_data(ssl, dataIndex()) != nullptr;
    switch (status) {
    case SSL_TICKET_SUCCESS:
        return SSL_TICKET_RETURN_USE;
    case SSL_TICKET_SUCCESS_RENEW:
        return data ? SSL_TICKET_RETURN_USE : SSL_TICKET_RETURN_USE_RENEW;
    case SSL_TICKET_EMPTY:
    case SSL_TICKET_NO_DECRYPT:
        return data ? SSL_TICKET_RETURN_IGNORE : SSL_TICKET_RETURN_IGNORE_RENEW;
    default:
        return SSL_TICKET_RETURN_ABORT;
    }
}

int protocolOf(TlsVersion v) {
    return v == TlsVersion::V1_2 ? TLS1_2_VERSION : TLS1_3_VERSION;
}

QString openSslError() {
    const unsigned long e = ERR_get_error();
    ERR_clear_error();
    if (e == 0)
        return QStringLiteral("errore sconosciuto");
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    return QString::fromLatin1(buf);
}

struct BioFree {
    void operator()(BIO* b) const { BIO_free(b); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

// The whole file, or the reason it cannot be read.
std::optional<QByteArray> readFile(const QString& option, const QString& path, QString& error) {
    if (path.isEmpty()) {
        error = QStringLiteral("%1: nessun file indicato").arg(option);
        return std::nullopt;
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        error =
            QStringLiteral("%1: impossibile leggere %2 (%3)").arg(option, path, f.errorString());
        return std::nullopt;
    }
    return f.readAll();
}

QString asLocalTime(const ASN1_TIME* t) {
    struct tm tm {};
    if (ASN1_TIME_to_tm(t, &tm) != 1)
        return QString();
    const QDateTime utc(QDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday),
                        QTime(tm.tm_hour, tm.tm_min, tm.tm_sec), Qt::UTC);
    return utc.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm"));
}

// Certificate (with its chain) and key into the context; the reason when not.
QString loadIdentity(SSL_CTX* ctx, const TlsSettings& s) {
    QString error;
    const std::optional<QByteArray> certPem =
        readFile(QStringLiteral("tls_certificate"), s.certificateFile, error);
    if (!certPem)
        return error;
    const std::optional<QByteArray> keyPem =
        readFile(QStringLiteral("tls_private_key"), s.privateKeyFile, error);
    if (!keyPem)
        return error;

    BioPtr certBio(BIO_new_mem_buf(certPem->constData(), int(certPem->size())));
    X509* leaf = PEM_read_bio_X509_AUX(certBio.get(), nullptr, nullptr, nullptr);
    if (!leaf || SSL_CTX_use_certificate(ctx, leaf) != 1) {
        X509_free(leaf);
        return QStringLiteral("tls_certificate: %1 non contiene un certificato PEM valido")
            .arg(s.certificateFile);
    }
    X509_free(leaf); // the context holds its own reference
    while (X509* extra = PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr)) {
        if (SSL_CTX_add0_chain_cert(ctx, extra) != 1)
            X509_free(extra);
    }
    ERR_clear_error(); // the end of the file reads as an error

    BioPtr keyBio(BIO_new_mem_buf(keyPem->constData(), int(keyPem->size())));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr);
    if (!key) {
        ERR_clear_error();
        return QStringLiteral("tls_private_key: %1 non contiene una chiave privata PEM valida")
            .arg(s.privateKeyFile);
    }
    X509* cert = SSL_CTX_get0_certificate(ctx);
    const bool matches = X509_check_private_key(cert, key) == 1;
    const bool used = matches && SSL_CTX_use_PrivateKey(ctx, key) == 1;
    EVP_PKEY_free(key);
    ERR_clear_error();
    if (!used)
        return QStringLiteral("tls_private_key: la chiave non corrisponde al certificato");

    if (X509_cmp_current_time(X509_get0_notBefore(cert)) >= 0)
        return QStringLiteral("tls_certificate: il certificato non è ancora valido (dal %1)")
            .arg(asLocalTime(X509_get0_notBefore(cert)));
    if (X509_cmp_current_time(X509_get0_notAfter(cert)) <= 0)
        return QStringLiteral("tls_certificate: il certificato è scaduto il %1")
            .arg(asLocalTime(X509_get0_notAfter(cert)));
    return QString();
}

} // namespace

TlsSessionOwner::TlsSessionOwner(std::shared_ptr<LiveOwners> live)
    : bytes_(kTokenBytes, Qt::Uninitialized), live_(std::move(live)) {
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(bytes_.data()),
                                          kTokenBytes / 4);
    if (live_)
        live_->insert(token(), this);
}

TlsSessionOwner::~TlsSessionOwner() {
    if (live_)
        live_->remove(token());
}

QByteArray TlsSessionOwner::token() const {
    return bytes_.first(kTokenBytes);
}

void TlsSessionOwner::bind(qint32 accountId, const QString& login, const QHostAddress& client) {
    bytes_.truncate(kTokenBytes);
    if (client.isNull() || login.isEmpty())
        return;
    // IPv4 clients as IPv4-mapped IPv6 addresses, so both forms compare alike.
    const Q_IPV6ADDR address = client.toIPv6Address();
    char id[4];
    qToBigEndian(accountId, id);
    bytes_.append(id, sizeof id);
    bytes_.append(reinterpret_cast<const char*>(address.c), sizeof address.c);
    bytes_.append(login.toCaseFolded().toUtf8()); // login names ignore letter case
}

bool TlsSessionOwner::owns(const QByteArray& sealed) const {
    if (sealed.size() < kTokenBytes)
        return false;
    const QByteArray token = sealed.first(kTokenBytes);
    if (token == this->token())
        return true; // issued to this very control connection
    if (!isBound())
        return false;
    const QByteArrayView mine = QByteArrayView(bytes_).sliced(kTokenBytes);
    if (sealed.size() > kTokenBytes)
        return QByteArrayView(sealed).sliced(kTokenBytes) == mine;
    // Issued before a login (a TLS 1.2 ticket comes with the handshake):
    // whoever the issuing control connection is logged in as now.
    const TlsSessionOwner* issuer = live_ ? live_->value(token) : nullptr;
    return issuer && issuer->isBound() &&
           QByteArrayView(issuer->bytes_).sliced(kTokenBytes) == mine;
}

TlsContext::Result TlsContext::create(const TlsSettings& s) {
    Result result;
    if (protocolOf(s.minVersion) > protocolOf(s.maxVersion)) {
        result.error =
            QStringLiteral("tls_min_version: la versione minima è più alta della massima");
        return result;
    }
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx) {
        result.error = QStringLiteral("tls: OpenSSL non disponibile (%1)").arg(openSslError());
        return result;
    }
    std::unique_ptr<TlsContext> context(new TlsContext(ctx));
    context->liveOwners_ = std::make_shared<TlsSessionOwner::LiveOwners>();
    SSL_CTX_set_min_proto_version(ctx, protocolOf(s.minVersion));
    SSL_CTX_set_max_proto_version(ctx, protocolOf(s.maxVersion));
    SSL_CTX_set_options(ctx, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION |
                                 SSL_OP_CIPHER_SERVER_PREFERENCE);
    // Idle connections give their record buffers back (data connections
    // keep theirs, see newDataConnection).
    SSL_CTX_set_mode(ctx, SSL_MODE_RELEASE_BUFFERS | SSL_MODE_ENABLE_PARTIAL_WRITE |
                              SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (SSL_CTX_set_cipher_list(ctx, kCiphers12) != 1 ||
        SSL_CTX_set1_groups_list(ctx, kGroups) != 1) {
        result.error = QStringLiteral("tls: cifrari non disponibili (%1)").arg(openSslError());
        return result;
    }
    SSL_CTX_set_session_id_context(ctx, kSessionContext, sizeof kSessionContext - 1);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_SERVER);
    SSL_CTX_set_session_ticket_cb(ctx, onTicketMade, onTicketRead, nullptr);
    result.error = loadIdentity(ctx, s);
    if (result.error.isEmpty())
        result.context = std::move(context);
    return result;
}

TlsContext::~TlsContext() {
    SSL_CTX_free(ctx_);
}

SSL* TlsContext::newControlConnection(const TlsSessionOwner* owner) const {
    SSL* ssl = SSL_new(ctx_);
    if (ssl) {
        SSL_set_ex_data(ssl, ownerIndex(), const_cast<TlsSessionOwner*>(owner));
        // No TLS 1.3 ticket after the handshake unless the session asks for
        // one: it would come before the login and carry no account, and a
        // client sharing its session cache among connections would then
        // offer it on its data connections.
        SSL_set_num_tickets(ssl, 0);
    }
    return ssl;
}

SSL* TlsContext::newDataConnection() const {
    SSL* ssl = SSL_new(ctx_);
    if (ssl) {
        static int marker = 1;
        SSL_set_ex_data(ssl, dataIndex(), &marker);
        SSL_set_num_tickets(ssl, 0);
        // A data connection moves records back to back: keeping its record
        // buffers saves an allocation per record. (Reading ahead into a
        // larger buffer costs more: OpenSSL moves what is left in it to the
        // front after every record.)
        SSL_clear_mode(ssl, SSL_MODE_RELEASE_BUFFERS);
    }
    return ssl;
}

void TlsContext::issueTicket(SSL* control, const TlsSessionOwner& owner) {
    if (!control)
        return;
    // A TLS 1.2 session resumed by id is the very object in the server's
    // cache: it carries the owner from now on.
    if (SSL_SESSION* session = SSL_get0_session(control))
        SSL_SESSION_set1_ticket_appdata(session, owner.bytes().constData(),
                                        size_t(owner.bytes().size()));
    // The ticket goes out with the next handshake step, taken here at once.
    if (SSL_version(control) == TLS1_3_VERSION && SSL_new_session_ticket(control) == 1)
        SSL_do_handshake(control);
    ERR_clear_error();
}

bool TlsContext::resumedFrom(SSL* data, SSL* control, const TlsSessionOwner& owner) {
    if (!data || !control || SSL_session_reused(data) != 1)
        return false;
    SSL_SESSION* session = SSL_get0_session(data);
    void* appData = nullptr;
    size_t appLength = 0;
    if (SSL_SESSION_get0_ticket_appdata(session, &appData, &appLength) == 1 && appLength > 0)
        return owner.owns(
            QByteArray::fromRawData(static_cast<const char*>(appData), qsizetype(appLength)));
    // TLS 1.2 resumption by session id before any ticket was asked for hands
    // back the control connection's own cached session.
    if (SSL_version(data) != TLS1_2_VERSION)
        return false;
    unsigned int dataLength = 0;
    unsigned int controlLength = 0;
    const unsigned char* dataId = SSL_SESSION_get_id(session, &dataLength);
    const unsigned char* controlId = SSL_SESSION_get_id(SSL_get0_session(control), &controlLength);
    return dataLength > 0 && dataLength == controlLength &&
           std::memcmp(dataId, controlId, dataLength) == 0;
}

} // namespace kv::ftp
