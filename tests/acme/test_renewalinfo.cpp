// The renewal information's pieces: the certificate's identifier (the
// example worked through in RFC 9773), its URL, and the suggested window as
// the CA writes it, with the answers that are not one.
#include "acme/OpenSslHandles.h"
#include "acme/RenewalInfo.h"

#include <QTest>

#include <openssl/bn.h>
#include <openssl/x509v3.h>

using namespace kv::acme;

namespace {

// A self-signed certificate with the given serial (hex) and authority key
// identifier, as PEM; without an identifier when `keyId` is empty.
QByteArray certificate(const char* serialHex, const QByteArray& keyId) {
    const KeyPtr key = newP256Key();
    X509Ptr x509(X509_new());
    BIGNUM* number = nullptr;
    BN_hex2bn(&number, serialHex);
    BN_to_ASN1_INTEGER(number, X509_get_serialNumber(x509.get()));
    BN_free(number);
    X509_gmtime_adj(X509_getm_notBefore(x509.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(x509.get()), 3600);
    X509_set_pubkey(x509.get(), key.get());
    if (!keyId.isEmpty()) {
        AUTHORITY_KEYID* aki = AUTHORITY_KEYID_new();
        aki->keyid = ASN1_OCTET_STRING_new();
        ASN1_OCTET_STRING_set(aki->keyid, reinterpret_cast<const unsigned char*>(keyId.data()),
                              int(keyId.size()));
        X509_add1_ext_i2d(x509.get(), NID_authority_key_identifier, aki, 0, 0);
        AUTHORITY_KEYID_free(aki);
    }
    X509_sign(x509.get(), key.get(), EVP_sha256());
    BioPtr out(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(out.get(), x509.get());
    char* data = nullptr;
    const long n = BIO_get_mem_data(out.get(), &data);
    return QByteArray(data, int(n));
}

} // namespace

class TestRenewalInfo : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void certId_data() {
        QTest::addColumn<QByteArray>("serialHex");
        QTest::addColumn<QByteArray>("keyId");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray rfcKeyId = QByteArray::fromHex("69885B6B87464041E1B37B847BA0AE2CDE01C8D4");
        // The high bit of the serial set: its DER content starts with a zero.
        QTest::newRow("RFC 9773 example") << QByteArray("87654321") << rfcKeyId
                                          << QByteArray("aYhba4dGQEHhs3uEe6CuLN4ByNQ.AIdlQyE");
        QTest::newRow("small serial")
            << QByteArray("7F") << rfcKeyId << QByteArray("aYhba4dGQEHhs3uEe6CuLN4ByNQ.fw");
        QTest::newRow("no authority key identifier")
            << QByteArray("01") << QByteArray() << QByteArray();
    }
    void certId() {
        QFETCH(QByteArray, serialHex);
        QFETCH(QByteArray, keyId);
        QFETCH(QByteArray, expected);
        QCOMPARE(renewalInfoCertId(certificate(serialHex.constData(), keyId)), expected);
    }

    void notACertificate() { QVERIFY(renewalInfoCertId("not a certificate").isEmpty()); }

    void url() {
        QCOMPARE(renewalInfoUrl(QStringLiteral("https://ca.test/ari"), "a.b"),
                 QStringLiteral("https://ca.test/ari/a.b"));
        QCOMPARE(renewalInfoUrl(QStringLiteral("https://ca.test/ari/"), "a.b"),
                 QStringLiteral("https://ca.test/ari/a.b"));
    }

    void window_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("start"); // ISO, UTC; empty: no window
        QTest::addColumn<QString>("end");
        QTest::newRow("seconds")
            << QByteArray(
                   "{\"suggestedWindow\":{\"start\":\"2025-01-02T04:00:00Z\", "
                   "\"end\":\"2025-01-03T04:00:00Z\"},\"explanationURL\":\"https://ca.test/why\"}")
            << "2025-01-02T04:00:00Z"
            << "2025-01-03T04:00:00Z";
        QTest::newRow("fraction and offset")
            << QByteArray("{\"suggestedWindow\":{\"start\":\"2025-01-02T06:00:00.5+02:00\", "
                          "\"end\":\"2025-01-03T04:00:00.123Z\"}}")
            << "2025-01-02T04:00:00Z"
            << "2025-01-03T04:00:00Z";
        QTest::newRow("reversed") << QByteArray("{\"suggestedWindow\":{\"start\":\"2025-01-03T04:"
                                                "00:00Z\", \"end\":\"2025-01-02T04:00:00Z\"}}")
                                  << QString() << QString();
        QTest::newRow("no window")
            << QByteArray("{\"explanationURL\":\"x\"}") << QString() << QString();
        QTest::newRow("not a time")
            << QByteArray(
                   "{\"suggestedWindow\":{\"start\":\"domani\", \"end\":\"2025-01-02T04:00:00Z\"}}")
            << QString() << QString();
        QTest::newRow("not JSON") << QByteArray("<html>") << QString() << QString();
    }
    void window() {
        QFETCH(QByteArray, body);
        QFETCH(QString, start);
        QFETCH(QString, end);
        const auto window = parseRenewalInfo(body);
        QCOMPARE(window.has_value(), !start.isEmpty());
        if (!window)
            return;
        QCOMPARE(window->start.toSecsSinceEpoch(),
                 QDateTime::fromString(start, Qt::ISODate).toSecsSinceEpoch());
        QCOMPARE(window->end.toSecsSinceEpoch(),
                 QDateTime::fromString(end, Qt::ISODate).toSecsSinceEpoch());
        QCOMPARE(window->start.timeSpec(), Qt::UTC);
    }
};

QTEST_GUILESS_MAIN(TestRenewalInfo)
#include "test_renewalinfo.moc"
