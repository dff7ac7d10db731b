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
        const auto row = [](const char* address, bool local) {
            QTest::newRow(address) << QString(address) << local;
        };
        row("127.0.0.1", true);
        row("127.255.0.9", true);
        row("::1", true);
        row("::ffff:127.0.0.2", true);
        row("169.254.10.1", true);
        row("fe80::1", true);
        row("10.0.0.1", true);
        row("10.255.255.255", true);
        row("::ffff:10.1.2.3", true);
        row("172.16.0.1", true);
        row("172.31.255.254", true);
        row("192.168.1.20", true);
        row("100.64.0.1", true);
        row("100.127.255.255", true);
        row("fc00::1", true);
        row("fd12:3456::7", true);
        row("198.51.100.20", true); // inside this machine's own subnet below
        row("2001:db8:1::5", true); // inside this machine's own IPv6 subnet below
        // Just outside each range: from the Internet.
        row("11.0.0.1", false);
        row("9.255.255.255", false);
        row("172.15.255.255", false);
        row("172.32.0.1", false);
        row("192.169.0.1", false);
        row("100.63.255.255", false);
        row("100.128.0.1", false);
        row("169.253.255.255", false);
        row("128.0.0.1", false);
        row("8.8.8.8", false);
        row("::ffff:8.8.8.8", false);
        row("198.51.101.1", false);
        row("fe00::1", false);
        row("2001:db8:2::5", false);
        row("2a00:1450::1", false);
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
