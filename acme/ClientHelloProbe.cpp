#include "acme/ClientHelloProbe.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace kv::acme {

namespace {

quint32 bigEndian(const unsigned char* p, int bytes) {
    quint32 value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | p[i];
    return value;
}

// RFC 6066 server_name: a 2-byte list length, then type (0 = host name),
// 2-byte length, name.
QString hostName(const unsigned char* data, size_t size) {
    if (size < 5 || bigEndian(data, 2) != size - 2 || data[2] != 0)
        return {};
    const size_t length = bigEndian(data + 3, 2);
    if (length == 0 || length > size - 5)
        return {};
    return QString::fromLatin1(reinterpret_cast<const char*>(data + 5), qsizetype(length))
        .toLower();
}

// RFC 7301: a 2-byte list length, then 1-byte length and name for each.
QByteArrayList alpnProtocols(const unsigned char* data, size_t size) {
    QByteArrayList protocols;
    if (size < 2 || bigEndian(data, 2) != size - 2)
        return protocols;
    for (size_t at = 2; at < size;) {
        const size_t length = data[at++];
        if (length == 0 || length > size - at)
            return {};
        protocols << QByteArray(reinterpret_cast<const char*>(data + at), qsizetype(length));
        at += length;
    }
    return protocols;
}

int onClientHello(SSL* ssl, int* alert, void*) {
    auto* hello = static_cast<ClientHello*>(SSL_get_app_data(ssl));
    const unsigned char* data = nullptr;
    size_t size = 0;
    if (SSL_client_hello_get0_ext(ssl, TLSEXT_TYPE_server_name, &data, &size) == 1)
        hello->serverName = hostName(data, size);
    if (SSL_client_hello_get0_ext(ssl, TLSEXT_TYPE_application_layer_protocol_negotiation, &data,
                                  &size) == 1)
        hello->protocols = alpnProtocols(data, size);
    hello->status = ClientHello::Status::Read;
    *alert = SSL_AD_HANDSHAKE_FAILURE;
    return SSL_CLIENT_HELLO_ERROR; // enough read: the handshake stops here
}

} // namespace

ClientHelloProbe::ClientHelloProbe() : context_(SSL_CTX_new(TLS_server_method())) {
    if (context_)
        SSL_CTX_set_client_hello_cb(context_, onClientHello, nullptr);
}

ClientHelloProbe::~ClientHelloProbe() {
    SSL_CTX_free(context_);
}

ClientHello ClientHelloProbe::read(const QByteArray& bytes) const {
    ClientHello hello;
    hello.status = ClientHello::Status::NotTls;
    if (!context_)
        return hello;
    SSL* ssl = SSL_new(context_);
    if (!ssl)
        return hello;
    BIO* in = BIO_new(BIO_s_mem());
    BIO* out = BIO_new(BIO_s_mem());
    BIO_write(in, bytes.constData(), int(bytes.size()));
    BIO_set_mem_eof_return(in, -1); // past the bytes: "wait for more", not the end
    SSL_set_bio(ssl, in, out);
    hello.status = ClientHello::Status::Incomplete;
    SSL_set_app_data(ssl, &hello);
    const int result = SSL_accept(ssl);
    if (hello.status != ClientHello::Status::Read)
        hello.status = SSL_get_error(ssl, result) == SSL_ERROR_WANT_READ
                           ? ClientHello::Status::Incomplete
                           : ClientHello::Status::NotTls;
    SSL_free(ssl);
    ERR_clear_error();
    return hello;
}

} // namespace kv::acme
