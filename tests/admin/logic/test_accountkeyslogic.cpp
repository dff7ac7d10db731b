// The Account panel's key group without a window: keys added from a .pub file
// go to the current account's saved login, refusals are told and change
// nothing, a key is removed only after the operator's yes, and the list
// follows the current account.

#include "access/AccountDatabase.h"
#include "admin/logic/AccountKeysLogic.h"
#include "tests/support/RecordingMessages.h"
#include "tests/support/SampleKeys.h"

#include <QSignalSpy>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using kv::MessageIcon;
using kv::admin::AccountKeysLogic;
using namespace kv::testing;

class TestAccountKeysLogic : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<kv::access::AccountDatabase> db_;
    std::unique_ptr<kv::access::AccountViews> views_;
    RecordingMessages messages_;
    std::unique_ptr<AccountKeysLogic> logic_;

    QString writeFile(const QString& name, const QByteArray& content) {
        QFile f(dir_.filePath(name));
        if (!f.open(QIODevice::WriteOnly))
            return {};
        f.write(content);
        return f.fileName();
    }
    int storedKeys() {
        QSqlQuery q(db_->connection());
        if (!q.exec(QStringLiteral("SELECT count(*) FROM account_keys")) || !q.next())
            return 0;
        return q.value(0).toInt();
    }

private Q_SLOTS:
    void init() {
        views_.reset();
        db_.reset();
        QFile::remove(dir_.filePath(QStringLiteral("accounts.dat")));
        db_ = std::make_unique<kv::access::AccountDatabase>(
            dir_.filePath(QStringLiteral("accounts.dat")));
        QVERIFY(db_->open());
        QSqlQuery q(db_->connection());
        QVERIFY(q.exec(QStringLiteral("INSERT INTO users (login, password, enabled) VALUES "
                                      "('bob', 'x', 1), ('carol', 'y', 1)")));
        views_ = std::make_unique<kv::access::AccountViews>(*db_);
        views_->openAll();
        messages_ = {};
        logic_ = std::make_unique<AccountKeysLogic>(views_->Data1(), messages_, db_->connection());
    }

    void addsFromAPubFileToTheCurrentAccount() {
        QSignalSpy changed(logic_.get(), &AccountKeysLogic::changed);
        views_->Data1().setCurrentRow(0);
        const QString pub =
            writeFile(QStringLiteral("id_ed25519.pub"), QByteArray(kEd25519Line) + "\n");
        QVERIFY(logic_->addFromFile(pub));
        QCOMPARE(messages_.shown.size(), 0);
        QCOMPARE(logic_->rows().size(), 1); // its texts and the other account's: test_accountpanel
        QVERIFY(changed.count() >= 1);
        // Again: told, still one key.
        QVERIFY(logic_->addFromFile(pub));
        QCOMPARE(messages_.shown.size(), 1);
        QCOMPARE(messages_.shown[0].second, MessageIcon::Information);
        QCOMPARE(storedKeys(), 1);
    }

    void refusalsAreToldAndChangeNothing_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        // Which lines are refused, and with which words: test_publickeyline.
        QTest::newRow("dsa") << QByteArray(kDsaLine) << "DSA";
        QTest::newRow("too big to be a key") << QByteArray(100 * 1024, 'a') << "Impossibile";
    }
    void refusalsAreToldAndChangeNothing() {
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        views_->Data1().setCurrentRow(0);
        QVERIFY(!logic_->addFromFile(writeFile(QStringLiteral("k.pub"), content)));
        QCOMPARE(messages_.shown.size(), 1);
        QVERIFY2(messages_.shown[0].first.contains(reason), qPrintable(messages_.shown[0].first));
        QCOMPARE(storedKeys(), 0);
    }

    void noFileOrNoAccount() {
        views_->Data1().setCurrentRow(0);
        QVERIFY(!logic_->addFromFile(dir_.filePath(QStringLiteral("missing.pub"))));
        QVERIFY(messages_.texts().last().contains(QStringLiteral("Impossibile leggere")));
        views_->Data1().setCurrentRow(-1);
        QVERIFY(!logic_->addLine(QString::fromLatin1(kEd25519Line)));
        QCOMPARE(messages_.texts().last(), QStringLiteral("Nessun account selezionato"));
        QVERIFY(!logic_->removeRow(0));
        QCOMPARE(storedKeys(), 0);
    }

    void removedOnlyAfterYes() {
        views_->Data1().setCurrentRow(0);
        QVERIFY(logic_->addLine(QString::fromLatin1(kEd25519Line)));
        QVERIFY(logic_->addLine(QString::fromLatin1(kEcdsa256Line)));
        QCOMPARE(logic_->rows().size(), 2);
        messages_.answer = false;
        QVERIFY(!logic_->removeRow(1));
        QCOMPARE(messages_.asked.size(), 1);
        QVERIFY(messages_.asked[0].contains(QString::fromLatin1(kEcdsa256Fingerprint)));
        QCOMPARE(storedKeys(), 2);
        messages_.answer = true;
        QVERIFY(logic_->removeRow(1));
        QCOMPARE(logic_->rows().size(), 1);
        QCOMPARE(logic_->rows()[0].fingerprint, QString::fromLatin1(kEd25519Fingerprint));
        QVERIFY(!logic_->removeRow(5));
        QCOMPARE(messages_.texts().last(), QStringLiteral("Nessuna chiave selezionata"));
    }

    void keysGoToTheSavedLogin() {
        views_->Data1().setCurrentRow(0);
        // A login being typed is not saved yet: the key is bob's.
        QVERIFY(views_->Data1().Edit());
        QVERIFY(views_->Data1().setField(QStringLiteral("login"), QStringLiteral("roberto")));
        QVERIFY(logic_->addLine(QString::fromLatin1(kEd25519Line)));
        QSqlQuery q(db_->connection());
        QVERIFY(q.exec(QStringLiteral("SELECT login FROM account_keys")) && q.next());
        QCOMPARE(q.value(0).toString(), QStringLiteral("bob"));
    }
};

QTEST_GUILESS_MAIN(TestAccountKeysLogic)
#include "test_accountkeyslogic.moc"
