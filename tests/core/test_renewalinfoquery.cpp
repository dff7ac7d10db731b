// The renewal information asked of a stand-in CA on loopback (plain HTTP):
// the directory read first, then the certificate's entry by its identifier;
// a directory without renewalInfo, an unknown entry and a CA that is not
// there all end without a window.
#include "acme/RenewalInfo.h"
#include "core/RenewalInfoQuery.h"
#include "tests/acme/CertificateWithKeyId.h"
#include "tests/core/StandInCa.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using namespace kv;

namespace {

const QByteArray kKeyId = QByteArray::fromHex("69885B6B87464041E1B37B847BA0AE2CDE01C8D4");
constexpr char kEntry[] = "/ari/aYhba4dGQEHhs3uEe6CuLN4ByNQ.AIdlQyE";

} // namespace

class TestRenewalInfoQuery : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void answers_data() {
        QTest::addColumn<bool>("offered"); // the directory names renewalInfo
        QTest::addColumn<bool>("known");   // the CA has the certificate's entry
        QTest::addColumn<bool>("windowSeen");
        QTest::newRow("window") << true << true << true;
        QTest::newRow("no renewalInfo in the directory") << false << true << false;
        QTest::newRow("entry unknown") << true << false << false;
    }
    void answers() {
        QFETCH(bool, offered);
        QFETCH(bool, known);
        QFETCH(bool, windowSeen);
        StandInCa ca;
        ca.bodies.insert("/dir", offered ? "{\"renewalInfo\":\"" + ca.url("/ari").toUtf8() + "\"}"
                                         : QByteArray("{\"newNonce\":\"x\"}"));
        if (known)
            ca.bodies.insert(kEntry, "{\"suggestedWindow\":{\"start\":\"2030-01-02T04:00:00Z\","
                                     "\"end\":\"2030-01-03T04:00:00Z\"}}");
        RenewalInfoQuery query;
        QSignalSpy finished(&query, &RenewalInfoQuery::finished);
        query.start(ca.url("/dir"), {}, acme::certificateWithKeyId("87654321", kKeyId));
        QCOMPARE(finished.count(), 0); // never from inside start()
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.count(), 1);
        const QDateTime start = finished.first().at(0).toDateTime();
        QCOMPARE(start.isValid(), windowSeen);
        if (windowSeen) {
            QCOMPARE(start,
                     QDateTime::fromString(QStringLiteral("2030-01-02T04:00:00Z"), Qt::ISODate));
            QCOMPARE(finished.first().at(1).toDateTime(),
                     QDateTime::fromString(QStringLiteral("2030-01-03T04:00:00Z"), Qt::ISODate));
        }
        QCOMPARE(ca.asked.value(0), QByteArray("/dir"));
        QCOMPARE(ca.asked.size(), offered ? 2 : 1);
        if (offered)
            QCOMPARE(ca.asked.value(1), QByteArray(kEntry));
    }

    void caAbsent() {
        quint16 port = 0;
        {
            QTcpServer probe; // a port nobody listens on any more
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            port = probe.serverPort();
        }
        RenewalInfoQuery query;
        QSignalSpy finished(&query, &RenewalInfoQuery::finished);
        query.start(QStringLiteral("http://127.0.0.1:%1/dir").arg(port), {},
                    acme::certificateWithKeyId("01", kKeyId));
        QVERIFY(finished.wait(15000));
        QVERIFY(!finished.first().at(0).toDateTime().isValid());
    }

    void certificateWithoutKeyId() {
        RenewalInfoQuery query;
        QSignalSpy finished(&query, &RenewalInfoQuery::finished);
        query.start(QStringLiteral("http://127.0.0.1:1/dir"), {},
                    acme::certificateWithKeyId("01", {}));
        QCOMPARE(finished.count(), 0);
        QVERIFY(finished.wait(5000));
        QVERIFY(!finished.first().at(0).toDateTime().isValid());
    }
};

QTEST_GUILESS_MAIN(TestRenewalInfoQuery)
#include "test_renewalinfoquery.moc"
