// Address helpers and the host-name cache: client host texts to the dotted
// form the address lists hold, never waiting for a name server.

#include "access/AddressHelpers.h"
#include "access/HostNameCache.h"
#include "tests/support/FakeEngine.h"

#include <QTest>

using namespace kv::admin;
using kv::access::HostNameCache;
using kv::testing::FakeEngine;

class TestAddressHelpers : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void resolvesWithEveryFallback_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("answer"); // what the resolver gives, space-separated
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("looksUp");
        // clang-format off
        QTest::newRow("dotted") << "192.168.1.20" << "" << "192.168.1.20" << false;
        QTest::newRow("any digits and dots") << "1.2.999" << "" << "1.2.999" << false;
        QTest::newRow("empty") << "" << "" << "" << false;
        QTest::newRow("name") << "pc.lan" << "10.0.0.5 10.0.0.6" << "10.0.0.5" << true;
        QTest::newRow("first IPv4 after IPv6") << "pc.lan" << "fe80::1 10.0.0.7" << "10.0.0.7" << true;
        QTest::newRow("IPv6 only") << "pc.lan" << "2001:db8::1" << "pc.lan" << true;
        QTest::newRow("lookup fails") << "pc.lan" << "" << "pc.lan" << true;
        QTest::newRow("mapped IPv4") << "::ffff:10.1.2.3" << "" << "10.1.2.3" << false;
        QTest::newRow("mapped IPv4, upper case") << "::FFFF:10.1.2.3" << "" << "10.1.2.3" << false;
        QTest::newRow("IPv6 literal") << "2001:db8::1" << "" << "2001:db8::1" << false;
        QTest::newRow("IPv4-compatible is not mapped") << "::10.1.2.3" << "" << "::10.1.2.3" << false;
        // clang-format on
    }
    void resolvesWithEveryFallback() {
        QFETCH(QString, host);
        QFETCH(QString, answer);
        QStringList asked;
        const auto lookup = [&](const QString& name) {
            asked << name;
            QList<QHostAddress> result;
            for (const QString& a : answer.split(u' ', Qt::SkipEmptyParts))
                result << QHostAddress(a);
            return result;
        };
        QTEST(ResolveHostAddress(host, lookup), "expected");
        QFETCH(bool, looksUp);
        QCOMPARE(asked, looksUp ? QStringList{host} : QStringList{});
    }

    // Lookups never wait: a name's first request has no answer yet (the
    // lookup runs meanwhile), later ones are answered from the cache.
    void hostNameCacheAnswersWithoutWaiting() {
        QStringList asked;
        QList<HostNameCache::Answer> pending;
        HostNameCache cache(
            [&](const QString& name, QObject*, HostNameCache::Answer done) {
                asked << name;
                pending << std::move(done);
            },
            std::chrono::hours(1));
        QCOMPARE(cache.addressesOf("pc.lan"), std::nullopt);
        QCOMPARE(cache.addressesOf("PC.lan"), std::nullopt); // asked once only
        QCOMPARE(asked, QStringList{"pc.lan"});
        pending.takeFirst()({QHostAddress("10.0.0.5")});
        QCOMPARE(cache.addressesOf("pc.LAN"), QList<QHostAddress>{QHostAddress("10.0.0.5")});
        // An answer older than its time is looked up again.
        HostNameCache quick(
            [&](const QString& name, QObject*, HostNameCache::Answer done) {
                asked << name;
                done({});
            },
            std::chrono::milliseconds(0));
        QCOMPARE(quick.addressesOf("gone.lan"), QList<QHostAddress>{});
        QTRY_VERIFY(quick.addressesOf("gone.lan") && asked.count("gone.lan") >= 2);
        // The system lookup answers reserved names at once, without a name
        // server (a real name is looked up in the login handler's test).
        QCOMPARE(HostNameCache().addressesOf("NO-SUCH-HOST.Invalid."), QList<QHostAddress>{});
    }

    void numericTextAndBytes() {
        QVERIFY(IsNumericAddress(QString()) && IsNumericAddress(QStringLiteral("...")));
        QVERIFY(!IsNumericAddress(QStringLiteral("10.0.0.1 ")));
        QVERIFY(!IsNumericAddress(QStringLiteral("１.2.3.4"))); // full-width digit
        QCOMPARE(AddressFromBytes({0, 10, 255, 7}), QStringLiteral("0.10.255.7"));
    }

    void defaultAddressPrefersAFreshEngine_data() {
        QTest::addColumn<bool>("haveFresh");
        QTest::addColumn<QString>("fresh");
        QTest::addColumn<QString>("main");
        QTest::addColumn<QString>("expected");
        // clang-format off
        QTest::newRow("fresh engine's") << true << "0.0.0.0" << "10.0.0.1" << "0.0.0.0";
        QTest::newRow("main engine's when fresh is empty") << true << "" << "10.0.0.1" << "10.0.0.1";
        QTest::newRow("main engine's without a fresh one") << false << "" << "10.0.0.1" << "10.0.0.1";
        QTest::newRow("none") << true << "" << "" << "";
        // clang-format on
    }
    void defaultAddressPrefersAFreshEngine() {
        QFETCH(bool, haveFresh);
        QFETCH(QString, fresh);
        QFETCH(QString, main);
        FakeEngine mainEngine;
        mainEngine.setLocalAddress(main);
        int made = 0;
        const EngineFactory factory = [&]() -> std::unique_ptr<kv::engine::FtpEngine> {
            auto engine = std::make_unique<FakeEngine>();
            engine->setLocalAddress(fresh);
            return ++made && haveFresh ? std::move(engine) : nullptr;
        };
        QTEST(DefaultLocalIP(factory, &mainEngine), "expected");
        QCOMPARE(made, 1);
        QCOMPARE(DefaultLocalIP({}, nullptr), QString());
    }
};

QTEST_GUILESS_MAIN(TestAddressHelpers)
#include "test_addresshelpers.moc"
