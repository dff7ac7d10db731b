// The CSR the order is finalized with, read back as the CA reads it.
#include "acme/CertificateRequest.h"

#include <QTest>

#include <openssl/pem.h>
#include <openssl/x509v3.h>

using namespace kv::acme;

namespace {

QStringList requestedNames(X509_REQ* request) {
    QStringList names;
    STACK_OF(X509_EXTENSION)* extensions = X509_REQ_get_extensions(request);
    for (int i = 0; i < sk_X509_EXTENSION_num(extensions); ++i) {
        X509_EXTENSION* extension = sk_X509_EXTENSION_value(extensions, i);
        if (OBJ_obj2nid(X509_EXTENSION_get_object(extension)) != NID_subject_alt_name)
            continue;
        auto* general = static_cast<GENERAL_NAMES*>(X509V3_EXT_d2i(extension));
        for (int j = 0; j < sk_GENERAL_NAME_num(general); ++j) {
            const GENERAL_NAME* name = sk_GENERAL_NAME_value(general, j);
            if (name->type != GEN_DNS)
                names << QStringLiteral("(not a name)");
            else
                names << QString::fromLatin1(
                    reinterpret_cast<const char*>(ASN1_STRING_get0_data(name->d.dNSName)),
                    ASN1_STRING_length(name->d.dNSName));
        }
        GENERAL_NAMES_free(general);
    }
    sk_X509_EXTENSION_pop_free(extensions, X509_EXTENSION_free);
    return names;
}

} // namespace

class TestCertificateRequest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void namesEveryDomainWithANewKey_data() {
        QTest::addColumn<QStringList>("domains");
        QTest::newRow("one") << QStringList{"kv.test"};
        QTest::newRow("three") << QStringList{"ftp.casa.example.org", "casa.example.org",
                                              "kv.duckdns.example"};
    }
    void namesEveryDomainWithANewKey() {
        QFETCH(QStringList, domains);
        const CertificateRequest made = makeCertificateRequest(domains);
        QVERIFY2(made.error.isEmpty(), qPrintable(made.error));
        const auto* cursor = reinterpret_cast<const unsigned char*>(made.csrDer.constData());
        X509_REQ* request = d2i_X509_REQ(nullptr, &cursor, long(made.csrDer.size()));
        QVERIFY(request);
        QCOMPARE(requestedNames(request), domains);

        EVP_PKEY* requestKey = X509_REQ_get0_pubkey(request);
        QCOMPARE(X509_REQ_verify(request, requestKey), 1);
        QCOMPARE(EVP_PKEY_get_base_id(requestKey), EVP_PKEY_EC);
        BIO* in = BIO_new_mem_buf(made.keyPem.constData(), int(made.keyPem.size()));
        EVP_PKEY* key = PEM_read_bio_PrivateKey(in, nullptr, nullptr, nullptr);
        BIO_free(in);
        QVERIFY(key);
        QCOMPARE(EVP_PKEY_eq(key, requestKey), 1); // the key kept is the one requested
        EVP_PKEY_free(key);
        X509_REQ_free(request);

        // Each request has a key of its own.
        QVERIFY(makeCertificateRequest(domains).keyPem != made.keyPem);
    }

    void noDomainIsRefused() {
        const CertificateRequest made = makeCertificateRequest({});
        QVERIFY(made.csrDer.isEmpty());
        QVERIFY(!made.error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCertificateRequest)
#include "test_certificaterequest.moc"
