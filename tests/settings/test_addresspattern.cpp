// AddressPattern: which entries are patterns, and which client addresses each
// one matches, at the edges of blocks and ranges, in both families and for
// IPv4 clients seen as IPv4-mapped IPv6 addresses.

#include "settings/AddressPattern.h"

#include <QTest>

using kv::settings::AddressPattern;
using Kind = AddressPattern::Kind;

Q_DECLARE_METATYPE(AddressPattern::Kind)

class TestAddressPattern : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void matchesWhatTheEntrySays_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QStringList>("in");
        QTest::addColumn<QStringList>("out");
        const auto row = [](const char* name, const char* entry, Kind kind, QStringList in,
                            QStringList out) {
            QTest::newRow(name) << QString::fromUtf8(entry) << kind << in << out;
        };
        // clang-format off
        row("exact IPv4", "10.0.0.7", Kind::Exact, {"10.0.0.7", "::ffff:10.0.0.7"}, {"10.0.0.8", "10.0.0.70", "110.0.0.7", "::1", "client.test", ""});
        row("spaces around", " 10.0.0.7 ", Kind::Exact, {"10.0.0.7"}, {"10.0.0.6"});
        row("exact IPv6, other spelling", "2001:db8::1", Kind::Exact, {"2001:db8:0:0::1", "2001:DB8::1"}, {"2001:db8::2", "10.0.0.1"});
        row("exact IPv4-mapped entry", "::ffff:10.0.0.7", Kind::Exact, {"10.0.0.7"}, {"10.0.0.8"});
        row("CIDR /24", "192.168.1.0/24", Kind::Subnet, {"192.168.1.0", "192.168.1.255", "::ffff:192.168.1.9"}, {"192.168.0.255", "192.168.2.0", "fd00::1"});
        row("CIDR with host bits", "192.168.1.77/24", Kind::Subnet, {"192.168.1.1"}, {"192.168.2.77"});
        row("CIDR /32", "10.1.2.3/32", Kind::Subnet, {"10.1.2.3"}, {"10.1.2.2", "10.1.2.4"});
        row("CIDR /0 IPv4", "0.0.0.0/0", Kind::Subnet, {"1.2.3.4", "255.255.255.255", "0.0.0.0"}, {"::1", "fd00::1"});
        row("CIDR IPv6", "fd00::/8", Kind::Subnet, {"fd12::1", "fdff:ffff::ffff"}, {"fe00::1", "fc00::1", "10.0.0.1"});
        row("CIDR /128", "fd00::5/128", Kind::Subnet, {"fd00::5"}, {"fd00::4", "fd00::6"});
        row("CIDR IPv6 /0 takes mapped IPv4", "::/0", Kind::Subnet, {"::1", "2001:db8::1", "1.2.3.4"}, {"client.test"});
        row("CIDR over mapped IPv4", "::ffff:10.0.0.0/104", Kind::Subnet, {"10.0.0.5", "10.255.255.255"}, {"11.0.0.1", "::10.0.0.5"});
        row("range", "10.0.0.5-10.0.0.20", Kind::Range, {"10.0.0.5", "10.0.0.12", "10.0.0.20", "::ffff:10.0.0.5"}, {"10.0.0.4", "10.0.0.21", "10.0.1.12"});
        row("range with spaces", "10.0.0.5 - 10.0.0.20", Kind::Range, {"10.0.0.6"}, {"10.0.0.21"});
        row("range across parts", "10.0.255.250-10.1.0.3", Kind::Range, {"10.0.255.255", "10.1.0.0", "10.1.0.3"}, {"10.0.255.249", "10.1.0.4", "10.0.0.1"});
        row("range IPv6", "fd00::1-fd00::ff", Kind::Range, {"fd00::1", "fd00::80", "fd00::ff"}, {"fd00::", "fd00::100", "10.0.0.1"});
        row("wildcard last part", "192.168.1.*", Kind::Wildcard, {"192.168.1.0", "192.168.1.255"}, {"192.168.2.1", "192.168.10.1", "::1"});
        row("wildcard everything", "*.*.*.*", Kind::Wildcard, {"8.8.8.8", "::ffff:1.1.1.1"}, {"::1"});
        // clang-format on
    }
    void matchesWhatTheEntrySays() {
        QFETCH(QString, entry);
        QFETCH(Kind, kind);
        QFETCH(QStringList, in);
        QFETCH(QStringList, out);
        const std::optional<AddressPattern> p = AddressPattern::parse(entry);
        QVERIFY(p);
        QCOMPARE(p->kind(), kind);
        // The same answers for an address given as such.
        for (const QString& client : in)
            QVERIFY2(p->matches(client) && p->matches(QHostAddress(client)), qPrintable(client));
        for (const QString& client : out)
            QVERIFY2(!p->matches(client), qPrintable(client));
    }

    void refusesWhatIsNoPattern_data() {
        QTest::addColumn<QString>("entry");
        // clang-format off
        for (const char* entry : {"", "   ", "300.1.1.1", "1.2.3", "1.2.3.4.5", "010.0.0.1", "1.2.3.256",
                                  "1.2.3.-1", "1.2.3.+4", "1..2.3", "1.2.3.4/33", "1.2.3.4/", "/24",
                                  "1.2.3.4/024", "1.2.3.4/-1", "1.2.3.4/8/8", "fd00::/129", "fd00::/ 8",
                                  "10.0.0.20-10.0.0.5", "10.0.0.1-fd00::1", "10.0.0.1-10.0.0.2-10.0.0.3",
                                  "10.0.0.1-", "-10.0.0.1", "10.0.0.1-10.0.0.*", "192.*.1.*", "192.168.1.1*",
                                  "*", "192.168.*", "*.1.2.3", "fd00::*", "fe80::1%eth0", "::g", "host.example",
                                  "1.2.3.4 5", "\xd9\xa1.\xd9\xa2.\xd9\xa3.\xd9\xa4"})
            QTest::newRow(entry) << QString::fromUtf8(entry);
        // clang-format on
    }
    void refusesWhatIsNoPattern() {
        QFETCH(QString, entry);
        QVERIFY(!AddressPattern::parse(entry));
    }
};

QTEST_GUILESS_MAIN(TestAddressPattern)
#include "test_addresspattern.moc"
