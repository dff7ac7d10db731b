// Following passive_address's host name: the first IPv4 answer reaches the
// engine, later answers replace it, a failure keeps the last good one and is
// logged once, answers after a stop are dropped, and names under .invalid
// fail without a query.

#include "core/PassiveAddressResolver.h"

#include "tests/support/FakeEngine.h"

#include <QTest>

using namespace kv;

namespace {

struct Fixture {
    testing::FakeEngine engine;
    QStringList log;
    QStringList asked;
    QList<PassiveAddressResolver::Answer> pending; // answers the test gives
    PassiveAddressResolver resolver{
        engine, [this](const QString& line) { log << line; },
        [this](const QString& name, QObject*, PassiveAddressResolver::Answer answer) {
            asked << name;
            pending << answer;
        },
        20};
    void answer(const QList<QHostAddress>& addresses) { pending.takeFirst()(addresses); }
    // Waits for the next refresh's question and answers it.
    void next(const QList<QHostAddress>& addresses, int times = 1) {
        for (int i = 0; i < times; ++i) {
            QTRY_COMPARE(pending.size(), 1);
            answer(addresses);
        }
    }
};

const QString kNoAnswer = QStringLiteral(
    "Indirizzo passivo: il nome casa.example.net non corrisponde a nessun indirizzo IPv4; ");

} // namespace

class TestPassiveAddressResolver : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void followsTheNameAndKeepsTheLastGoodAnswer() {
        Fixture f;
        f.engine.setPassive({50000, 50010, {}});
        f.resolver.start("casa.example.net");
        QCOMPARE(f.asked, QStringList{"casa.example.net"});
        // An IPv6 answer cannot go in a PASV reply: the IPv4 one is used.
        f.answer({QHostAddress("2001:db8::1"), QHostAddress("198.51.100.4")});
        QCOMPARE(f.engine.Passive(),
                 (ftp::PassiveSettings{50000, 50010, QHostAddress("198.51.100.4")}));
        QCOMPARE(f.log, QStringList{"Indirizzo passivo: casa.example.net = 198.51.100.4"});

        // Asked again every refresh; the router's new address replaces the old.
        f.next({QHostAddress("198.51.100.5")});
        QCOMPARE(f.engine.Passive().publicAddress, QHostAddress("198.51.100.5"));
        // The same answer again says nothing new.
        f.next({QHostAddress("198.51.100.5")});
        QCOMPARE(f.log.size(), 2);

        // Failures keep the last good address and are logged once.
        f.next({}, 3);
        QCOMPARE(f.engine.Passive().publicAddress, QHostAddress("198.51.100.5"));
        QCOMPARE(f.log.mid(2), QStringList{kNoAnswer + "resta in uso l'ultimo indirizzo "
                                                       "trovato (198.51.100.5)"});

        // After a stop no refresh comes and a late answer changes nothing.
        QTRY_COMPARE(f.pending.size(), 1);
        f.resolver.stop();
        f.answer({QHostAddress("192.0.2.1")});
        QTest::qWait(60);
        QVERIFY(f.pending.isEmpty());
        QCOMPARE(f.engine.Passive().publicAddress, QHostAddress("198.51.100.5"));
    }

    void aNameThatNeverResolvesIsLoggedOnce() {
        Fixture f;
        f.resolver.start("casa.example.net");
        f.next({}, 3);
        QVERIFY(f.engine.Passive().publicAddress.isNull());
        QCOMPARE(f.log, QStringList{kNoAnswer + "le risposte PASV indicano l'indirizzo a cui il "
                                                "client si è collegato"});
        // A new start logs a failure of its own again; an empty name asks nothing.
        f.resolver.start("casa.example.net");
        f.next({});
        QCOMPARE(f.log.size(), 2);
        f.resolver.start(QString());
        QTest::qWait(60);
        QCOMPARE(f.asked.size(), 4);
    }

    void invalidNamesFailWithoutAQuery() {
        QObject context;
        int answers = 0;
        QList<QHostAddress> got{QHostAddress("192.0.2.1")};
        const auto record = [&](const QList<QHostAddress>& addresses) {
            ++answers;
            got = addresses;
        };
        PassiveAddressResolver::systemLookup("nowhere.invalid", &context, record);
        QCOMPARE(answers, 0); // never from inside the call
        QTRY_COMPARE(answers, 1);
        QVERIFY(got.isEmpty());
        // localhost comes from the hosts file.
        PassiveAddressResolver::systemLookup("localhost", &context, record);
        QTRY_COMPARE(answers, 2);
        QVERIFY(got.contains(QHostAddress::LocalHost) || got.contains(QHostAddress::LocalHostIPv6));
    }
};

QTEST_GUILESS_MAIN(TestPassiveAddressResolver)
#include "test_passiveaddressresolver.moc"
