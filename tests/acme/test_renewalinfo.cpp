// The renewal information's pieces: the certificate's identifier (the
// example worked through in RFC 9773), its URL, and the suggested window as
// the CA writes it, with the answers that are not one.
#include "acme/RenewalInfo.h"
#include "tests/acme/CertificateWithKeyId.h"

#include <QTest>

using namespace kv::acme;

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
        QCOMPARE(renewalInfoCertId(certificateWithKeyId(serialHex.constData(), keyId)), expected);
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
