// The ACME pair's files: a new pair kept beside the previous one, a pair
// that cannot be loaded taken back with the previous one left in use.
#include "core/AcmePairStore.h"
#include "ftp/TlsCertificate.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace kv;

namespace {

struct Pair {
    QByteArray chain;
    QByteArray key;
};

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A certificate and key that load, named `host`.
Pair makePair(const QTemporaryDir& scratch, const QString& host) {
    const QString cert = scratch.filePath(host + QStringLiteral("-cert.pem"));
    const QString key = scratch.filePath(host + QStringLiteral("-key.pem"));
    const ftp::CertificateResult made = ftp::generateSelfSignedCertificate(cert, key, host, {});
    if (!made.summary)
        qWarning() << made.error;
    return {readAll(cert), readAll(key)};
}

} // namespace

class TestAcmePairStore : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void newPairKeepsThePreviousOne() {
        QTemporaryDir data, scratch;
        const AcmePairStore store(data.path());
        QVERIFY(!store.usablePair());
        const Pair first = makePair(scratch, QStringLiteral("first.kv.test"));
        const Pair second = makePair(scratch, QStringLiteral("second.kv.test"));

        QCOMPARE(store.install(first.chain, first.key), std::nullopt);
        QCOMPARE(QFileInfo(store.folder()).permissions(),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                     QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
        QVERIFY(store.usablePair());
        QCOMPARE(store.usablePair()->names.first(), QStringLiteral("first.kv.test"));
        QVERIFY(!QFile::exists(store.previousCertificateFile()));

        QCOMPARE(store.install(second.chain, second.key), std::nullopt);
        QCOMPARE(store.usablePair()->names.first(), QStringLiteral("second.kv.test"));
        QCOMPARE(readAll(store.previousCertificateFile()), first.chain);
        QCOMPARE(readAll(store.previousKeyFile()), first.key);
        for (const QString& path : {store.certificateFile(), store.keyFile(),
                                    store.previousCertificateFile(), store.previousKeyFile()})
            QCOMPARE(QFileInfo(path).permissions(),
                     QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                         QFileDevice::WriteUser);
    }

    void unusablePairIsTakenBack_data() {
        QTest::addColumn<QString>("flaw");
        QTest::newRow("not PEM") << "garbage";
        QTest::newRow("key of another certificate") << "mismatch";
        QTest::newRow("truncated chain") << "truncated";
    }
    void unusablePairIsTakenBack() {
        QFETCH(QString, flaw);
        QTemporaryDir data, scratch;
        const AcmePairStore store(data.path());
        const Pair good = makePair(scratch, QStringLiteral("good.kv.test"));
        const Pair other = makePair(scratch, QStringLiteral("other.kv.test"));
        QCOMPARE(store.install(good.chain, good.key), std::nullopt);

        Pair bad = other;
        if (flaw == QLatin1String("garbage"))
            bad.chain = "not a certificate";
        else if (flaw == QLatin1String("mismatch"))
            bad.key = good.key;
        else
            bad.chain.truncate(bad.chain.size() / 2);
        const auto problem = store.install(bad.chain, bad.key);
        QVERIFY(problem);
        QVERIFY2(problem->contains(QStringLiteral("resta in uso il precedente")),
                 qPrintable(*problem));
        QCOMPARE(readAll(store.certificateFile()), good.chain);
        QCOMPARE(readAll(store.keyFile()), good.key);
        QVERIFY(store.usablePair());
        QCOMPARE(store.usablePair()->names.first(), QStringLiteral("good.kv.test"));
    }

    // A current pair cut short (a power cut while it was written): FTPS
    // serves the previous one, which the next pair does not push out.
    void pairCutShortLeavesThePreviousInUse() {
        QTemporaryDir data, scratch;
        const AcmePairStore store(data.path());
        const Pair first = makePair(scratch, QStringLiteral("first.kv.test"));
        const Pair second = makePair(scratch, QStringLiteral("second.kv.test"));
        const Pair third = makePair(scratch, QStringLiteral("third.kv.test"));
        QVERIFY(!store.pairInUse());
        QCOMPARE(store.install(first.chain, first.key), std::nullopt);
        QCOMPARE(store.install(second.chain, second.key), std::nullopt);
        QCOMPARE(store.pairInUse()->certificateFile, store.certificateFile());

        QVERIFY(QFile::resize(store.certificateFile(), 0));
        QVERIFY(!store.usablePair());
        const auto inUse = store.pairInUse();
        QVERIFY(inUse);
        QCOMPARE(inUse->certificateFile, store.previousCertificateFile());
        QCOMPARE(inUse->keyFile, store.previousKeyFile());
        QCOMPARE(inUse->facts.names.first(), QStringLiteral("first.kv.test"));

        QCOMPARE(store.install(third.chain, third.key), std::nullopt);
        QCOMPARE(store.pairInUse()->facts.names.first(), QStringLiteral("third.kv.test"));
        QCOMPARE(readAll(store.previousCertificateFile()), first.chain);
        QCOMPARE(readAll(store.previousKeyFile()), first.key);
    }

    void firstPairUnusableLeavesNone() {
        QTemporaryDir data;
        const AcmePairStore store(data.path());
        const auto problem = store.install("garbage", "garbage");
        QVERIFY(problem && problem->contains(QStringLiteral("autofirmato")));
        QVERIFY(!QFile::exists(store.certificateFile()));
        QVERIFY(!store.usablePair());
    }
};

QTEST_GUILESS_MAIN(TestAcmePairStore)
#include "test_acmepairstore.moc"
