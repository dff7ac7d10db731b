// Stored passwords: the three hash kinds and clear text against right, wrong,
// re-cased and hash-string passwords; new hashes; the checker's memory.

#include "access/PasswordHash.h"

#include <QElapsedTimer>
#include <QTest>

using namespace kv::access;

namespace {

// Made with libcrypt for the password "Pa55-word".
const char* const kSha512 = "$6$PEQW2vPLHnmRcdOY$5QlxovXGclKhHAveNDj/2IFvKI813PWvIARXVLbznkkHNxVXH7"
                            "kvF6AKj8Gxdr.3Ju9bRC5Cl4jSEF4aJfLny1";
const char* const kBcrypt = "$2b$05$mUaiAAi8BeSsSFyDnorP2.YOI1z8e0eA691Pf0cxHY3qCu94zz6Cm";
// Debian's default yescrypt cost.
const char* const kYescryptDefault =
    "$y$j9T$aZFIAHzD9YWfn11RTKJGG1$i1AfHh291iKpZnAe5/f3fo9F9URLHlp1ND5em2mb5O.";

} // namespace

class TestPasswordHash : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void storedValuesOpenOnlyWithTheirPassword_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("hashed");
        QTest::newRow("yescrypt, this program's cost")
            << hashPassword("Pa55-word").value_or("") << true;
        QTest::newRow("yescrypt, Debian's cost") << QString(kYescryptDefault) << true;
        QTest::newRow("SHA-512-crypt") << QString(kSha512) << true;
        QTest::newRow("bcrypt") << QString(kBcrypt) << true;
        QTest::newRow("clear text") << QString("Pa55-word") << false;
    }
    void storedValuesOpenOnlyWithTheirPassword() {
        QFETCH(QString, stored);
        QFETCH(bool, hashed);
        QCOMPARE(isPasswordHash(stored), hashed);
        QVERIFY(passwordMatches(stored, QStringLiteral("Pa55-word")));
        for (const QString& wrong : QStringList{"pa55-word", "PA55-WORD", "Pa55-wor", "Pa55-word ",
                                                QString(), QString::fromUtf8("Pa55-word\0x", 11)})
            QVERIFY2(!passwordMatches(stored, wrong), qPrintable(wrong));
        // The stored hash typed as the password is a wrong password.
        if (hashed)
            QVERIFY(!passwordMatches(stored, stored));
    }

    void malformedHashesOpenNothing_data() {
        QTest::addColumn<QString>("stored");
        // A bare prefix, no yescrypt parameters, a bcrypt cost out of range, a cut-short hash.
        for (const char* s :
             {"$6$", "$y$", "$2b$99$abcdefghijklmnopqrstuv", "$y$j9T$aZFIAHzD9YWfn"})
            QTest::newRow(s) << QString(s);
    }
    void malformedHashesOpenNothing() {
        QFETCH(QString, stored);
        QVERIFY(isPasswordHash(stored));
        QVERIFY(!passwordMatches(stored, stored));
        QVERIFY(!passwordMatches(stored, QString()));
    }

    void otherDollarValuesStayClearText() {
        // Only the three kinds are hashes; a "$1$" (MD5-crypt) value is a
        // clear-text password like any other.
        QVERIFY(!isPasswordHash("$1$abc") && passwordMatches("$1$abc", "$1$abc"));
        QVERIFY(passwordMatches(QString(), QString()));
        QVERIFY(passwordMatches("pässwörd", "pässwörd") &&
                !passwordMatches("pässwörd", "passwort"));
    }

    void newHashesAreSaltedYescryptOfTheChosenCost() {
        const std::optional<QString> a = hashPassword("s3cret"), b = hashPassword("s3cret");
        QVERIFY(a && b && *a != *b);
        QVERIFY(a->startsWith("$y$j75$")); // cost 1
        QVERIFY(passwordMatches(*a, "s3cret") && passwordMatches(*b, "s3cret"));
        QVERIFY(!passwordMatches(*a, "S3cret"));
        QVERIFY(hashPassword(QString())); // an empty password can be hashed too
        QVERIFY(!hashPassword(QString::fromUtf8("a\0b", 3)));
        QVERIFY(!hashPassword("x", 99));
    }

    void checkerRemembersEachPairApart() {
        const QString stored = kSha512;
        PasswordChecker checker;
        for (int round = 0; round < 3; ++round) {
            QVERIFY(checker.matches(stored, "Pa55-word") && !checker.matches(stored, "wrong"));
            QVERIFY(!checker.matches(stored, stored));
            QVERIFY(checker.matches("clear", "clear") && !checker.matches("clear", "Clear"));
        }
        // A pair asked again is answered without hashing again.
        QVERIFY(checker.matches(kYescryptDefault, "Pa55-word"));
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 20; ++i)
            QVERIFY(checker.matches(kYescryptDefault, "Pa55-word"));
        QVERIFY2(timer.elapsed() < 200, "remembered answers must not hash again");
        // More pairs than it remembers (malformed hashes fail fast): still right.
        for (int i = 0; i < 600; ++i)
            QVERIFY(!checker.matches("$y$" + QString::number(i), QString()));
        QVERIFY(checker.matches(stored, "Pa55-word"));
    }
};

QTEST_GUILESS_MAIN(TestPasswordHash)
#include "test_passwordhash.moc"
