// The local-network decision behind PASV replies: which clients are told the
// address they connected to and which the public one.

#include "engine/ClientLocality.h"

#include <QTest>

#include <algorithm>

using namespace kv::engine;

class TestClientLocality : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void decision_data() {
        QTest::addColumn<QString>("client");
        QTest::addColumn<bool>("local");
        // The last two local ones are inside this machine's own subnets below.
        for (const char* address :
             {"127.0.0.1", "127.255.0.9", "::1", "::ffff:127.0.0.2", "169.254.10.1", "fe80::1",
              "10.0.0.1", "10.255.255.255", "::ffff:10.1.2.3", "172.16.0.1", "172.31.255.254",
              "192.168.1.20", "100.64.0.1", "100.127.255.255", "fc00::1", "fd12:3456::7",
              "198.51.100.20", "2001:db8:1::5"})
            QTest::newRow(address) << QString(address) << true;
        // Just outside each range: from the Internet.
        for (const char* address :
             {"11.0.0.1", "9.255.255.255", "172.15.255.255", "172.32.0.1", "192.169.0.1",
              "100.63.255.255", "100.128.0.1", "169.253.255.255", "128.0.0.1", "8.8.8.8",
              "::ffff:8.8.8.8", "198.51.101.1", "fe00::1", "2001:db8:2::5", "2a00:1450::1"})
            QTest::newRow(address) << QString(address) << false;
    }
    void decision() {
        QFETCH(QString, client);
        const QList<Subnet> own = {QHostAddress::parseSubnet("198.51.100.7/24"),
                                   QHostAddress::parseSubnet("2001:db8:1::1/64")};
        QTEST(isLocalClient(QHostAddress(client), own), "local");
    }

    void machineSubnetsHoldLoopback() {
        // Every machine has loopback up; its own subnets count as local.
        const QList<Subnet> subnets = machineSubnets();
        QVERIFY(!subnets.isEmpty());
        QVERIFY(std::ranges::any_of(subnets, [](const Subnet& s) { return s.first.isLoopback(); }));
        QVERIFY(std::ranges::none_of(subnets, [](const Subnet& s) { return s.second == 0; }));
    }
};

QTEST_GUILESS_MAIN(TestClientLocality)
#include "test_clientlocality.moc"
