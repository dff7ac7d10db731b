// The servers trusted for remote administration: the file as written and
// read back (mode, replaced fingerprints, lines kept), and the verdict on a
// server's certificate from what is remembered and what the operator named.
#include "adminchannel/KnownServers.h"
#include "adminchannel/ServerTrust.h"

#include <QTest>

using namespace kv;

namespace {
const QString kOld = "SHA256:b2xkb2xkb2xkb2xkb2xkb2xkb2xkb2xkb2xkb2xkb2w";
const QString kNew = "SHA256:bmV3bmV3bmV3bmV3bmV3bmV3bmV3bmV3bmV3bmV3bmU";
} // namespace

class TestKnownServers : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rememberedPerAddressAndPort() {
        QTemporaryDir dir;
        const QString path = dir.filePath("config/Kestrova Vellim/known_servers");
        KnownServers known(path);
        const RemoteServerAddress a{"pc.lan", 14021}, b{"pc.lan", 2000}, v6{"::1", 14021};
        QVERIFY(!known.fingerprintFor(a));
        QVERIFY(!known.remember(a, kOld));
        QVERIFY(!known.remember(v6, kNew));
        QCOMPARE(QFile::permissions(path), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ReadUser | QFileDevice::WriteUser);
        QCOMPARE(KnownServers(path).fingerprintFor(a), kOld);
        QCOMPARE(KnownServers(path).fingerprintFor(v6), kNew);
        QVERIFY(!KnownServers(path).fingerprintFor(b));
    }

    // A changed certificate trusted again replaces its line; lines the
    // program cannot read (a note, a damaged line) stay where they were.
    void replacingKeepsOtherLines() {
        QTemporaryDir dir;
        const QString path = dir.filePath("known_servers");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(("# ufficio\npc.lan:14021 " + kOld + "\nrotta\n\nnas:1 " + kOld +
                    "\npc.lan:14021 " + kOld + "\n")
                       .toUtf8());
        file.close();
        QVERIFY(!KnownServers(path).remember({"pc.lan", 14021}, kNew));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()),
                 "# ufficio\npc.lan:14021 " + kNew + "\nrotta\n\nnas:1 " + kOld + "\n");
    }

    void unwritableFileSaysWhy() {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("known_servers")); // a folder where the file goes
        const auto why = KnownServers(dir.filePath("known_servers")).remember({"a", 1}, kOld);
        QVERIFY(why);
        QVERIFY2(why->contains("known_servers"), qPrintable(*why));
    }

    void verdict_data() {
        QTest::addColumn<QString>("remembered"); // empty: never trusted
        QTest::addColumn<QString>("named");
        QTest::addColumn<TrustVerdict>("verdict");
        QTest::addColumn<QString>("expected");
        QTest::newRow("known") << kOld << "" << TrustVerdict::Known << "";
        QTest::newRow("changed") << kNew << "" << TrustVerdict::Mismatch << kNew;
        QTest::newRow("unknown") << ""
                                 << "" << TrustVerdict::Unknown << "";
        QTest::newRow("named") << "" << kOld << TrustVerdict::Named << "";
        QTest::newRow("named without prefix") << "" << kOld.mid(7) << TrustVerdict::Named << "";
        QTest::newRow("named another") << "" << kNew << TrustVerdict::Mismatch << kNew;
        QTest::newRow("changed, new one named") << kNew << kOld << TrustVerdict::Named << "";
        QTest::newRow("known, another named") << kOld << kNew << TrustVerdict::Mismatch << kNew;
    }
    void verdict() {
        QFETCH(QString, remembered);
        QFETCH(QString, named);
        QFETCH(TrustVerdict, verdict);
        QFETCH(QString, expected);
        const std::optional<QString> known =
            remembered.isEmpty() ? std::nullopt : std::optional(remembered);
        const TrustJudgement judged = judgeServerTrust(known, kOld, named);
        QCOMPARE(judged.verdict, verdict);
        QCOMPARE(judged.expected, expected);
    }
};

QTEST_GUILESS_MAIN(TestKnownServers)
#include "test_knownservers.moc"
