// The answers the CA checks: the key authorization, the http-01 path, and
// the RFC 8737 certificate of tls-alpn-01 read back with OpenSSL.
#include "acme/ChallengeAnswers.h"

#include <QCryptographicHash>
#include <QTest>

#include <openssl/pem.h>
#include <openssl/x509v3.h>

using namespace kv::acme;

namespace {

X509* readCertificate(const QByteArray& pem) {
    BIO* in = BIO_new_mem_buf(pem.constData(), int(pem.size()));
    X509* cert = PEM_read_bio_X509(in, nullptr, nullptr, nullptr);
    BIO_free(in);
    return cert;
}

EVP_PKEY* readKey(const QByteArray& pem) {
    BIO* in = BIO_new_mem_buf(pem.constData(), int(pem.size()));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(in, nullptr, nullptr, nullptr);
    BIO_free(in);
    return key;
}

QStringList dnsNames(X509* cert) {
    QStringList names;
    auto* general =
        static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; i < sk_GENERAL_NAME_num(general); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(general, i);
        if (name->type == GEN_DNS)
            names << QString::fromLatin1(
                reinterpret_cast<const char*>(ASN1_STRING_get0_data(name->d.dNSName)),
                ASN1_STRING_length(name->d.dNSName));
        else
            names << QStringLiteral("(not a name)");
    }
    GENERAL_NAMES_free(general);
    return names;
}

} // namespace

class TestChallengeAnswers : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void keyAuthorizationAndHttpAnswer() {
        // RFC 8555, section 8.1: token "." thumbprint.
        QCOMPARE(keyAuthorization("evaGxfADs6pSRb2LAv9IZf17Dt3juxGJ-PCt92wr-oA",
                                  "nP1qzpXGymHBrUEepNY9HCsQk7K8KhOypzEt62jcerQ"),
                 QByteArray("evaGxfADs6pSRb2LAv9IZf17Dt3juxGJ-PCt92wr-oA."
                            "nP1qzpXGymHBrUEepNY9HCsQk7K8KhOypzEt62jcerQ"));
        QCOMPARE(http01Path("tok-1"), QByteArray("/.well-known/acme-challenge/tok-1"));
        QCOMPARE(http01Body("tok-1.thumb"), QByteArray("tok-1.thumb"));
    }

    void tlsAlpnCertificate_data() {
        QTest::addColumn<QString>("domain");
        QTest::newRow("name") << QStringLiteral("kv.test");
        QTest::newRow("sub-name") << QStringLiteral("ftp.casa.example.org");
    }
    void tlsAlpnCertificate() {
        QFETCH(QString, domain);
        const QByteArray keyAuth = "token-42.thumbprint-42";
        const TlsAlpnCertificate made = makeTlsAlpnCertificate(domain, keyAuth);
        QVERIFY2(made.error.isEmpty(), qPrintable(made.error));
        X509* cert = readCertificate(made.certificatePem);
        EVP_PKEY* key = readKey(made.keyPem);
        QVERIFY(cert && key);
        QCOMPARE(X509_check_private_key(cert, key), 1);
        QCOMPARE(X509_verify(cert, key), 1); // self-signed with that key
        QCOMPARE(dnsNames(cert), QStringList{domain});

        ASN1_OBJECT* oid = OBJ_txt2obj("1.3.6.1.5.5.7.1.31", 1);
        const int index = X509_get_ext_by_OBJ(cert, oid, -1);
        QVERIFY(index >= 0);
        QCOMPARE(X509_get_ext_by_OBJ(cert, oid, index), -1); // only once
        ASN1_OBJECT_free(oid);
        X509_EXTENSION* extension = X509_get_ext(cert, index);
        QCOMPARE(X509_EXTENSION_get_critical(extension), 1);
        // extnValue is the DER of OCTET STRING (0x04, length 32) of the digest.
        const ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(extension);
        const QByteArray der(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)),
                             ASN1_STRING_length(value));
        QCOMPARE(der, QByteArray("\x04\x20", 2) +
                          QCryptographicHash::hash(keyAuth, QCryptographicHash::Sha256));
        QVERIFY(X509_cmp_time(X509_get0_notBefore(cert), nullptr) < 0);
        QVERIFY(X509_cmp_time(X509_get0_notAfter(cert), nullptr) > 0);
        X509_free(cert);
        EVP_PKEY_free(key);

        // Another key authorization, another digest.
        const TlsAlpnCertificate other = makeTlsAlpnCertificate(domain, "token-43.thumbprint-42");
        QVERIFY(other.certificatePem != made.certificatePem);
        QVERIFY(other.keyPem != made.keyPem);
    }
};

QTEST_GUILESS_MAIN(TestChallengeAnswers)
#include "test_challengeanswers.moc"
