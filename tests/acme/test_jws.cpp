// The signed body of an ACME POST, read back as a CA reads it.
#include "acme/Jws.h"
#include "tests/acme/Es256Check.h"

#include <QJsonDocument>
#include <QTest>

using namespace kv::acme;

class TestJws : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void readsBackAsTheCaReadsIt_data() {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("accountUrl");
        QTest::newRow("new account, key in the header")
            << QByteArray(R"({"termsOfServiceAgreed":true})") << QString();
        QTest::newRow("order, account by its URL")
            << QByteArray(R"({"identifiers":[{"type":"dns","value":"kv.test"}]})")
            << QStringLiteral("https://ca.test/acct/7");
        QTest::newRow("POST-as-GET") << QByteArray() << QStringLiteral("https://ca.test/acct/7");
    }
    void readsBackAsTheCaReadsIt() {
        QFETCH(QByteArray, payload);
        QFETCH(QString, accountUrl);
        const auto key = AccountKey::generate();
        QVERIFY(key);
        const QString url = QStringLiteral("https://ca.test/new-order");
        const QByteArray body = signedRequest(*key, url, "nonce-1", payload, accountUrl);
        const QJsonObject jws = QJsonDocument::fromJson(body).object();
        QCOMPARE(jws.keys(), (QStringList{"payload", "protected", "signature"}));

        const QString protectedPart = jws.value("protected").toString();
        const QString payloadPart = jws.value("payload").toString();
        QVERIFY(!protectedPart.contains(u'=') && !payloadPart.contains(u'='));
        QCOMPARE(fromBase64Url(payloadPart), payload);
        QCOMPARE(payloadPart.isEmpty(), payload.isEmpty());

        const QJsonObject header = QJsonDocument::fromJson(fromBase64Url(protectedPart)).object();
        QCOMPARE(header.value("alg").toString(), QStringLiteral("ES256"));
        QCOMPARE(header.value("nonce").toString(), QStringLiteral("nonce-1"));
        QCOMPARE(header.value("url").toString(), url);
        // Exactly one of jwk and kid.
        if (accountUrl.isEmpty()) {
            QCOMPARE(header.value("jwk").toObject(), key->jwk());
            QVERIFY(!header.contains("kid"));
        } else {
            QCOMPARE(header.value("kid").toString(), accountUrl);
            QVERIFY(!header.contains("jwk"));
        }

        const QByteArray signature = fromBase64Url(jws.value("signature").toString());
        const QByteArray signingInput = protectedPart.toLatin1() + '.' + payloadPart.toLatin1();
        QVERIFY(es256Verifies(key->jwk(), signingInput, signature));
        QVERIFY(!es256Verifies(key->jwk(), signingInput + "x", signature));
    }
};

QTEST_GUILESS_MAIN(TestJws)
#include "test_jws.moc"
