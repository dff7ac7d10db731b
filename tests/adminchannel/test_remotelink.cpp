// A window's link to a remote server: which step follows each failure, the
// back-off, and the trust questions, answered yes or no, against a TLS
// server of the test's own: trusted fingerprints remembered, a refusal or a
// changed certificate never followed by an attempt of its own.
#include "adminchannel/RemoteLink.h"

#include "adminchannel/AttachedServer.h"
#include "adminchannel/KnownServers.h"
#include "tests/adminchannel/TlsAdminServer.h"

#include <QSignalSpy>
#include <QTest>

using namespace kv;
using F = AdminConnection::Failure;

namespace {

struct Fixture {
    testing::TlsAdminServer server;
    QTemporaryDir dir;
    KnownServers known{dir.filePath(QStringLiteral("known_servers"))};
    AttachedServer attached;
    QStringList asked; // the questions put, with the fingerprints shown
    bool answer = true;
    std::optional<QString> nextPassword;
    std::unique_ptr<RemoteLink> link;

    Fixture() {
        RemoteLink::Questions q;
        q.trustFirst = [this](const RemoteServerAddress&, const QString& seen) {
            asked << QStringLiteral("first ") + seen;
            return answer;
        };
        q.trustChanged = [this](const RemoteServerAddress&, const QString& was,
                                const QString& seen) {
            asked << QStringLiteral("changed ") + was + u' ' + seen;
            return answer;
        };
        q.password = [this](const QString&) {
            asked << QStringLiteral("password");
            return nextPassword;
        };
        link = std::make_unique<RemoteLink>(attached, known, server.address(),
                                            QStringLiteral("segreta"), q);
    }
};

} // namespace

Q_DECLARE_METATYPE(RemoteStep)

class TestRemoteLink : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void stepAfterFailure_data() {
        QTest::addColumn<F>("failure");
        QTest::addColumn<RemoteStep>("step");
        QTest::newRow("no server") << F::NoServer << RemoteStep::RetryLater;
        QTest::newRow("never trusted") << F::UnknownCertificate << RemoteStep::AskTrust;
        QTest::newRow("changed") << F::CertificateChanged << RemoteStep::AskTrustChanged;
        QTest::newRow("password") << F::WrongPassword << RemoteStep::AskPassword;
        QTest::newRow("address") << F::AddressRefused << RemoteStep::StayDisconnected;
    }
    void stepAfterFailure() {
        QFETCH(F, failure);
        QFETCH(RemoteStep, step);
        QCOMPARE(stepAfter(failure), step);
    }

    void backoffDoublesUpToAMinute() {
        ReconnectBackoff b;
        QList<int> waits;
        for (int i = 0; i < 9; ++i)
            waits << b.next();
        QCOMPARE(waits, (QList<int>{1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000, 60000}));
        b.reset();
        QCOMPARE(b.next(), 1000);
    }

    void trustQuestions_data() {
        QTest::addColumn<bool>("knownBefore"); // another fingerprint was trusted
        QTest::addColumn<bool>("answer");
        QTest::newRow("first, trusted") << false << true;
        QTest::newRow("first, refused") << false << false;
        QTest::newRow("changed, new one trusted") << true << true;
        QTest::newRow("changed, closed") << true << false;
    }
    void trustQuestions() {
        QFETCH(bool, knownBefore);
        QFETCH(bool, answer);
        Fixture f;
        f.answer = answer;
        const QString old = QStringLiteral("SHA256:vecchia");
        if (knownBefore)
            QVERIFY(!f.known.remember(f.server.address(), old));
        QSignalSpy linked(f.link.get(), &RemoteLink::linked);
        QSignalSpy stopped(f.link.get(), &RemoteLink::stopped);
        f.link->connectNow();
        QTRY_VERIFY_WITH_TIMEOUT(linked.size() + stopped.size() > 0, 5000);
        const QString seen = f.server.fingerprint;
        QCOMPARE(f.asked, QStringList{knownBefore ? QStringLiteral("changed ") + old + u' ' + seen
                                                  : QStringLiteral("first ") + seen});
        QCOMPARE(linked.size(), answer ? 1 : 0);
        QCOMPARE(f.known.fingerprintFor(f.server.address()),
                 answer ? std::optional(seen)
                        : (knownBefore ? std::optional(old) : std::optional<QString>()));
        // The password went only to the server once trusted.
        QCOMPARE(f.server.ops().contains("login"), answer);
        if (!answer) {
            QVERIFY(!f.link->retrying());
            QTest::qWait(1200); // longer than the first back-off: nothing is tried
            QCOMPARE(f.server.connections, 1);
        }
    }

    void refusedPasswordIsAskedNotRetried_data() {
        QTest::addColumn<bool>("another");
        QTest::newRow("another given") << true;
        QTest::newRow("given up") << false;
    }
    void refusedPasswordIsAskedNotRetried() {
        QFETCH(bool, another);
        Fixture f;
        QVERIFY(!f.known.remember(f.server.address(), f.server.fingerprint));
        f.server.password = QStringLiteral("nuova");
        if (another)
            f.nextPassword = QStringLiteral("nuova");
        QSignalSpy stopped(f.link.get(), &RemoteLink::stopped);
        QSignalSpy linked(f.link.get(), &RemoteLink::linked);
        f.link->connectNow();
        QTRY_COMPARE_WITH_TIMEOUT(f.asked.size(), 1, 5000);
        QCOMPARE(f.asked[0], QStringLiteral("password"));
        if (!another) {
            QTRY_COMPARE_WITH_TIMEOUT(stopped.size(), 1, 5000);
            QVERIFY(!f.link->retrying());
            QTest::qWait(1200);
            QCOMPARE(f.server.connections, 1);
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(linked.size(), 1, 5000);
        QCOMPARE(f.server.received[1].value("password").toString(), QStringLiteral("nuova"));
    }

    void lostConnectionComesBackAfterTheBackoff() {
        Fixture f;
        QVERIFY(!f.known.remember(f.server.address(), f.server.fingerprint));
        QSignalSpy linked(f.link.get(), &RemoteLink::linked);
        QSignalSpy lost(f.link.get(), &RemoteLink::lost);
        f.link->connectNow();
        QTRY_COMPARE_WITH_TIMEOUT(linked.size(), 1, 5000);
        f.server.dropClients();
        QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 5000);
        QCOMPARE(lost[0][1].toInt(), ReconnectBackoff::kFirstMs);
        QVERIFY(f.link->retrying());
        QTRY_COMPARE_WITH_TIMEOUT(linked.size(), 2, 5000);
        QVERIFY(f.asked.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRemoteLink)
#include "test_remotelink.moc"
