// The account key: its JWK and thumbprint, its signatures as a CA checks
// them, and the file it lives in (private, made once, never overwritten).
#include "acme/AccountKey.h"
#include "tests/acme/Es256Check.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace kv::acme;

class TestAccountKey : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void thumbprintOfTheRfc7638Example() {
        // RFC 7638, section 3.1: the RSA key and its thumbprint.
        const QJsonObject jwk{
            {QStringLiteral("kty"), QStringLiteral("RSA")},
            {QStringLiteral("e"), QStringLiteral("AQAB")},
            {QStringLiteral("n"),
             QStringLiteral(
                 "0vx7agoebGcQSuuPiLJXZptN9nndrQmbXEps2aiAFbWhM78LhWx4cbbfAAtVT86zwu1RK7aPFFxuhDR1"
                 "L6tSoc_BJECPebWKRXjBZCiFV4n3oknjhMstn64tZ_2W-5JsGY4Hc5n9yBXArwl93lqt7_RN5w6Cf0h4"
                 "QyQ5v-65YGjQR0_FDW2QvzqY368QQMicAtaSqzs8KJZgnYb9c7d0zgdAZHzu6qMQvRL5hajrn1n91CbO"
                 "pbISD08qNLyrdkt-bFTWhAI4vMQFh6WeZu0fM4lFd2NcRwr3XPksINHaQ-G_xBniIqbw0Ls1jF44-csF"
                 "Cur-kEgU8awapJzKnqDKgw")}};
        QCOMPARE(jwkThumbprint(jwk), QByteArray("NzbLsXh8uDCcd-6MNwXF4W_7noWXFZAfHkxZsRGC9Xs"));
    }

    void jwkHoldsThePublicPointOnly() {
        const auto key = AccountKey::generate();
        QVERIFY(key);
        const QJsonObject jwk = key->jwk();
        QCOMPARE(jwk.keys(), (QStringList{"crv", "kty", "x", "y"}));
        QCOMPARE(jwk.value("crv").toString(), QStringLiteral("P-256"));
        QCOMPARE(jwk.value("kty").toString(), QStringLiteral("EC"));
        QCOMPARE(fromBase64Url(jwk.value("x").toString()).size(), 32);
        QCOMPARE(fromBase64Url(jwk.value("y").toString()).size(), 32);
        QVERIFY(!jwk.value("x").toString().contains(u'='));
        const QByteArray canonical = "{\"crv\":\"P-256\",\"kty\":\"EC\",\"x\":\"" +
                                     jwk.value("x").toString().toLatin1() + "\",\"y\":\"" +
                                     jwk.value("y").toString().toLatin1() + "\"}";
        QCOMPARE(key->thumbprint(),
                 QCryptographicHash::hash(canonical, QCryptographicHash::Sha256)
                     .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    }

    void signaturesVerifyWithTheJwk_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("jws signing input") << QByteArray("eyJhbGciOiJFUzI1NiJ9.e30");
        QTest::newRow("long") << QByteArray(100000, 'a');
    }
    void signaturesVerifyWithTheJwk() {
        QFETCH(QByteArray, input);
        const auto key = AccountKey::generate();
        QVERIFY(key);
        // Several times: R or S with a leading zero byte must still be 32 bytes.
        for (int i = 0; i < 20; ++i) {
            const QByteArray signature = key->sign(input);
            QCOMPARE(signature.size(), 64);
            QVERIFY(es256Verifies(key->jwk(), input, signature));
            QVERIFY(!es256Verifies(key->jwk(), input + "x", signature));
        }
        const auto other = AccountKey::generate();
        QVERIFY(!es256Verifies(other->jwk(), input, key->sign(input)));
    }

    void keyFileIsPrivateAndReused() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("acme-account.pem"));
        const AccountKeyResult first = loadOrCreateAccountKey(path);
        QVERIFY2(first.key, qPrintable(first.error));
        QVERIFY(first.created);
        QCOMPARE(QFileInfo(path).permissions(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                    QFileDevice::ReadUser | QFileDevice::WriteUser);
        QVERIFY(!QFile::exists(path + ".new"));
        const AccountKeyResult again = loadOrCreateAccountKey(path);
        QVERIFY2(again.key, qPrintable(again.error));
        QVERIFY(!again.created);
        QCOMPARE(again.key->thumbprint(), first.key->thumbprint());
    }

    void unusableKeyFileIsRefusedAndKept_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::newRow("garbage") << QByteArray("not a key\n");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("rsa key") << QByteArray(); // made below
    }
    void unusableKeyFileIsRefusedAndKept() {
        QFETCH(QByteArray, contents);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("acme-account.pem"));
        if (QByteArray(QTest::currentDataTag()) == "rsa key") {
            QProcess openssl;
            openssl.start(QStringLiteral("openssl"),
                          {"genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:1024"});
            QVERIFY(openssl.waitForFinished(30000));
            contents = openssl.readAllStandardOutput();
            QVERIFY(contents.contains("PRIVATE KEY"));
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(contents);
        file.close();
        const AccountKeyResult result = loadOrCreateAccountKey(path);
        QVERIFY(!result.key);
        QVERIFY(result.error.contains(path));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), contents);
    }
};

QTEST_GUILESS_MAIN(TestAccountKey)
#include "test_acmeaccountkey.moc"
