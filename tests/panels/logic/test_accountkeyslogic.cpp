// The Account panel's key group without a window.

#include "panels/logic/AccountKeysLogic.h"
#include "tests/support/OptionsFixture.h"
#include "tests/support/RecordingMessages.h"
#include "tests/support/SampleKeys.h"

#include <QSignalSpy>
#include <QTest>

using kv::MessageIcon;
using kv::admin::AccountKeysLogic;
using namespace kv::testing;

namespace {

// Accounts bob and carol, bob current.
struct Fixture : OptionsFixture {
    RecordingMessages messages;
    std::unique_ptr<AccountKeysLogic> logic;

    Fixture()
        : OptionsFixture({QStringLiteral("INSERT INTO users (login, password, enabled) VALUES "
                                         "('bob', 'x', 1), ('carol', 'y', 1)")}) {
        views->openAll();
        views->Data1().setCurrentRow(0);
        logic = std::make_unique<AccountKeysLogic>(views->Data1(), messages, db.connection());
    }
    QString writeFile(const QString& name, const QByteArray& content) {
        QFile f(dir.filePath(name));
        if (!f.open(QIODevice::WriteOnly))
            return {};
        f.write(content);
        return f.fileName();
    }
    QStringList keyOwners() const {
        return texts(column(path, QStringLiteral("SELECT login FROM account_keys")));
    }
};

} // namespace

class TestAccountKeysLogic : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void addsFromAPubFileToTheCurrentAccount() {
        Fixture f;
        QSignalSpy changed(f.logic.get(), &AccountKeysLogic::changed);
        const QString pub = f.writeFile("id_ed25519.pub", QByteArray(kEd25519Line) + "\n");
        QVERIFY(f.logic->addFromFile(pub));
        QCOMPARE(f.messages.shown.size(), 0);
        QCOMPARE(f.logic->rows().size(), 1); // its texts and the other account's: test_accountpanel
        QVERIFY(changed.count() >= 1);
        // Again: told, still one key.
        QVERIFY(f.logic->addFromFile(pub));
        QCOMPARE(f.messages.shown.size(), 1);
        QCOMPARE(f.messages.shown[0].second, MessageIcon::Information);
        QCOMPARE(f.keyOwners(), QStringList{"bob"});
    }

    void refusalsAreToldAndChangeNothing_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        // Which lines are refused, and with which words: test_publickeyline.
        QTest::newRow("dsa") << QByteArray(kDsaLine) << "DSA";
        QTest::newRow("too big to be a key") << QByteArray(100 * 1024, 'a') << "Impossibile";
        QTest::newRow("no file") << QByteArray() << "Impossibile leggere";
    }
    void refusalsAreToldAndChangeNothing() {
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        Fixture f;
        const QString file =
            content.isEmpty() ? f.dir.filePath("missing.pub") : f.writeFile("k.pub", content);
        QVERIFY(!f.logic->addFromFile(file));
        QCOMPARE(f.messages.shown.size(), 1);
        QVERIFY2(f.messages.shown[0].first.contains(reason), qPrintable(f.messages.shown[0].first));
        QVERIFY(f.keyOwners().isEmpty());
    }

    void removedOnlyAfterYes() {
        Fixture f;
        QVERIFY(f.logic->addLine(QString::fromLatin1(kEd25519Line)));
        QVERIFY(f.logic->addLine(QString::fromLatin1(kEcdsa256Line)));
        QCOMPARE(f.logic->rows().size(), 2);
        QVERIFY(!f.logic->removeRow(1));
        QCOMPARE(f.messages.asked.size(), 1);
        QVERIFY(f.messages.asked[0].contains(QString::fromLatin1(kEcdsa256Fingerprint)));
        QCOMPARE(f.keyOwners().size(), 2);
        f.messages.answer = true;
        QVERIFY(f.logic->removeRow(1));
        QCOMPARE(f.logic->rows().size(), 1);
        QCOMPARE(f.logic->rows()[0].fingerprint, QString::fromLatin1(kEd25519Fingerprint));
        QVERIFY(!f.logic->removeRow(5));
        QCOMPARE(f.messages.texts().last(), QStringLiteral("Nessuna chiave selezionata"));
        // Without a current account nothing is added or removed.
        f.views->Data1().setCurrentRow(-1);
        QVERIFY(!f.logic->addLine(QString::fromLatin1(kEd25519Line)));
        QCOMPARE(f.messages.texts().last(), QStringLiteral("Nessun account selezionato"));
        QVERIFY(!f.logic->removeRow(0));
        QCOMPARE(f.keyOwners().size(), 1);
    }

    // A login being typed is not saved yet: the key is bob's.
    void keysGoToTheSavedLogin() {
        Fixture f;
        QVERIFY(f.views->Data1().Edit());
        QVERIFY(f.views->Data1().setField(QStringLiteral("login"), QStringLiteral("roberto")));
        QVERIFY(f.logic->addLine(QString::fromLatin1(kEd25519Line)));
        QCOMPARE(f.keyOwners(), QStringList{"bob"});
    }
};

QTEST_GUILESS_MAIN(TestAccountKeysLogic)
#include "test_accountkeyslogic.moc"
