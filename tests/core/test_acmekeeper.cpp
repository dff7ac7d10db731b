// The keeper against pebble on loopback, with the real challenge listener:
// it obtains a certificate by http-01, stores it and the server's TLS
// settings then name it; with the challenge port taken the next attempt
// fails saying so, a retry is planned in about 5 minutes and the certificate
// in use stays; a new pair the server refuses to load is taken back.
#include "core/AcmeKeeper.h"
#include "core/ChallengeServerListener.h"
#include "core/StartOptions.h"
#include "events/ServerEvents.h"
#include "tests/acme/CertificateWithKeyId.h"
#include "tests/acme/PebbleCa.h"
#include "tests/core/StandInCa.h"

#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using namespace kv;

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestAcmeKeeper : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void obtainsThenKeepsItWhenThePortIsTakenOrThePairRefused() {
        if (!PebbleCa::installed())
            QSKIP("pebble and pebble-challtestsrv are not installed (Debian package pebble, "
                  "which tools/setup installs)");
        const quint16 httpPort = PebbleCa::freeTcpPort();
        PebbleCa ca;
        const QString started = ca.start(httpPort, PebbleCa::freeTcpPort(), 0);
        QVERIFY2(started.isEmpty(), qPrintable(started));
        QTemporaryDir data;
        const QMap<QString, QString> rows{
            {QStringLiteral("tls"), QStringLiteral("on")},
            {QStringLiteral("acme"), QStringLiteral("on")},
            {QStringLiteral("acme_domains"), QStringLiteral("kv.test")},
            {QStringLiteral("acme_directory"), ca.directoryUrl()},
            {QStringLiteral("acme_ca_file"), ca.tlsCertificateFile()},
            {QStringLiteral("acme_http_port"), QString::number(httpPort)}};
        const QString selfSigned = readStartOptions(rows, data.path()).tls.certificateFile;

        events::ServerEvents bus;
        QSignalSpy renewed(&bus, &events::ServerEvents::certificateRenewed);
        QSignalSpy failed(&bus, &events::ServerEvents::certificateFailed);
        QStringList log;
        int reloads = 0;
        bool serverRefuses = false;
        const QDateTime now = QDateTime::currentDateTimeUtc();
        AcmeKeeper::Collaborators with;
        with.bus = &bus;
        with.log = [&log](const QString& line) { log << line; };
        with.reloadServer = [&reloads, &serverRefuses] {
            ++reloads;
            return !serverRefuses;
        };
        with.makeListener = &makeChallengeServerListener;
        with.now = [&now] { return now; };
        with.jitter = [] { return 0.5; };
        AcmeKeeper keeper(data.path(), with);
        QSignalSpy finished(&keeper, &AcmeKeeper::attemptFinished);
        AcmeKeeperSettings settings = acmeKeeperSettings(rows, data.path());
        QVERIFY(settings.enabled);
        settings.attempt.listenAddress = QHostAddress::LocalHost;
        settings.attempt.order.defaultPollMs = 200;
        keeper.configure(settings); // no certificate yet: an attempt at once
        QVERIFY(log.first().contains(QStringLiteral("autofirmato")));
        QVERIFY(keeper.state().working);
        QVERIFY(finished.wait(90000));
        QVERIFY2(finished.first().at(0).toBool(),
                 qPrintable(finished.first().at(1).toString() + ca.log()));
        QCOMPARE(reloads, 1);
        QCOMPARE(renewed.count(), 1);
        const AcmeState obtained = keeper.state();
        QCOMPARE(obtained.names, QStringList{QStringLiteral("kv.test")});
        QVERIFY(obtained.issuer.contains(QStringLiteral("Pebble")));
        QVERIFY(obtained.lastError.isEmpty());
        QCOMPARE(obtained.attempts, 1);
        QVERIFY(obtained.nextAttempt > now.addDays(1)); // at two thirds of its lifetime
        // What the engine is given at a start or reload names the new pair.
        const ftp::TlsSettings tls = readStartOptions(rows, data.path()).tls;
        QVERIFY(tls.certificateFile != selfSigned);
        QCOMPARE(tls.certificateFile, keeper.store().certificateFile());
        QCOMPARE(tls.privateKeyFile, keeper.store().keyFile());

        // Another program holds the challenge port.
        QTcpServer squatter;
        QVERIFY(squatter.listen(QHostAddress::LocalHost, httpPort));
        keeper.renewNow();
        QVERIFY(finished.wait(30000));
        QCOMPARE(finished.last().at(0).toBool(), false);
        const QString reason = finished.last().at(1).toString();
        QVERIFY2(reason.contains(QStringLiteral("porta %1").arg(httpPort)), qPrintable(reason));
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.first().first().toString(), reason);
        const AcmeState afterFailure = keeper.state();
        QCOMPARE(afterFailure.lastError, reason);
        QCOMPARE(afterFailure.attempts, 2);
        QCOMPARE(now.secsTo(afterFailure.nextAttempt), 5 * 60);
        QCOMPARE(afterFailure.serial, obtained.serial); // the certificate in use unchanged
        QCOMPARE(reloads, 1);
        QCOMPARE(readStartOptions(rows, data.path()).tls.certificateFile,
                 keeper.store().certificateFile());
        QVERIFY(log.last().contains(reason));
        squatter.close();

        // The server cannot load the new pair: the previous one is put back.
        const QByteArray chainInUse = readAll(keeper.store().certificateFile());
        serverRefuses = true;
        keeper.renewNow();
        QVERIFY(finished.wait(90000));
        QCOMPARE(finished.last().at(0).toBool(), false);
        const QString refusal = finished.last().at(1).toString();
        QVERIFY2(refusal.contains(QStringLiteral("resta in uso il precedente")),
                 qPrintable(refusal + ca.log()));
        QCOMPARE(reloads, 2);
        QCOMPARE(readAll(keeper.store().certificateFile()), chainInUse);
        QCOMPARE(keeper.state().serial, obtained.serial);
        QCOMPARE(keeper.state().lastError, refusal);
        QCOMPARE(failed.count(), 2);
    }

    // The CA's renewal information moves the renewal from two thirds of the
    // lifetime (60 days on) into the window it suggests.
    void suggestedWindowMovesTheRenewal() {
        QTemporaryDir data;
        const AcmePairStore store(data.path());
        QByteArray key;
        const QByteArray chain = acme::certificateWithKeyId(
            "87654321", QByteArray::fromHex("69885B6B87464041E1B37B847BA0AE2CDE01C8D4"), &key);
        QCOMPARE(store.install(chain, key), std::nullopt);
        const QDateTime now =
            QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
        StandInCa ca;
        ca.bodies.insert("/dir", "{\"renewalInfo\":\"" + ca.url("/ari").toUtf8() + "\"}");
        const QString start = now.addDays(2).toString(Qt::ISODate);
        const QString end = now.addDays(3).toString(Qt::ISODate);
        ca.bodies.insert("/ari/aYhba4dGQEHhs3uEe6CuLN4ByNQ.AIdlQyE",
                         QStringLiteral("{\"suggestedWindow\":{\"start\":\"%1\",\"end\":\"%2\"}}")
                             .arg(start, end)
                             .toUtf8());
        const QMap<QString, QString> rows{
            {QStringLiteral("tls"), QStringLiteral("on")},
            {QStringLiteral("acme"), QStringLiteral("on")},
            {QStringLiteral("acme_domains"), QStringLiteral("kv.test")},
            {QStringLiteral("acme_directory"), ca.url("/dir")}};
        AcmeKeeper::Collaborators with;
        with.now = [&now] { return now; };
        with.jitter = [] { return 0.5; };
        AcmeKeeper keeper(data.path(), with);
        AcmeKeeperSettings settings = acmeKeeperSettings(rows, data.path());
        QVERIFY(settings.enabled);
        keeper.configure(settings);
        QVERIFY(!keeper.state().working);
        QCOMPARE(now.daysTo(keeper.state().nextAttempt), 60); // by percent, until the CA answers
        QSignalSpy changed(&keeper, &AcmeKeeper::stateChanged);
        QVERIFY(changed.wait(10000));
        QCOMPARE(ca.asked.size(), 2);
        QCOMPARE(now.secsTo(keeper.state().nextAttempt), qint64(2.5 * 24 * 60 * 60));
    }
};

QTEST_GUILESS_MAIN(TestAcmeKeeper)
#include "test_acmekeeper.moc"
