// The default root's whole-disk warning, question and shared folder without
// a window.

#include "panels/logic/RootFolderLogic.h"
#include "panels/logic/SettingsRowEdit.h"
#include "tests/support/DataRow.h"
#include "tests/support/OptionsFixture.h"
#include "tests/support/RecordingMessages.h"

#include <QTest>

using namespace Qt::StringLiterals;
using kv::admin::EditStep;
using kv::admin::EditVerdict;

class TestRootFolderLogic : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void wholeDiskWarning_data() {
        QTest::addColumn<QString>("root");
        QTest::addColumn<bool>("warns");
        QTest::newRow("/") << u"/"_s << true;
        QTest::newRow("// and spaces") << u" // "_s << true;
        QTest::newRow("empty: an older database's") << QString() << true;
        QTest::newRow("a folder") << u"/srv/ftp"_s << false;
        QTest::newRow("the home folder") << u"/home/anna"_s << false;
    }
    void wholeDiskWarning() {
        QFETCH(QString, root);
        QTEST(kv::admin::warnsWholeDisk(root), "warns");
        QVERIFY(kv::admin::wholeDiskRootWarning().contains(u"\"Usa una cartella condivisa\""_s));
    }

    // An empty default root is the whole disk (an older file's); an empty
    // account root is the default root.
    void choosingTheWholeDiskAsks_data() {
        QTest::addColumn<bool>("account");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<bool>("asks");
        QTest::newRow("a folder, then /") << false << u"/srv/ftp"_s << u"/"_s << true;
        QTest::newRow("a folder, then empty") << false << u"/srv/ftp"_s << QString() << true;
        QTest::newRow("/ again") << false << u"/"_s << u"/"_s << false;
        QTest::newRow("empty, then /") << false << QString() << u"/"_s << false;
        QTest::newRow("a folder, then another") << false << u"/srv/ftp"_s << u"/tmp"_s << false;
        QTest::newRow("account: a folder, then //") << true << u"/srv/ftp"_s << u"//"_s << true;
        addRow("account: a folder, then empty", true, u"/srv/ftp"_s, QString(), false);
        QTest::newRow("account: empty, then /") << true << QString() << u"/"_s << true;
        QTest::newRow("account: / written otherwise") << true << u"/"_s << u"/."_s << false;
    }
    void choosingTheWholeDiskAsks() {
        QFETCH(bool, account);
        QFETCH(QString, before);
        QFETCH(QString, chosen);
        const kv::access::RootOwner owner =
            account ? kv::access::accountRootOwner(u"bob"_s) : kv::access::defaultRootOwner();
        QTEST(kv::admin::asksWholeDisk(owner, before, chosen), "asks");
    }

    // Typed, the whole disk is held back until the box is left; then the
    // question, naming the default root, decides: no puts the old root back,
    // yes keeps it.
    void theRootBoxAsksWhenLeft_data() {
        QTest::addColumn<int>("step");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("questions");
        QTest::addColumn<QString>("row");
        const QString old = QDir::tempPath();
        using O = EditVerdict::Outcome;
        QTest::newRow("typing") << int(EditStep::Typing) << true << int(O::Refused) << 0 << old;
        addRow("left, no", int(EditStep::Leaving), false, int(O::Declined), 1, old);
        QTest::newRow("left, yes") << int(EditStep::Leaving) << true << int(O::Kept) << 1 << u"/"_s;
        addRow("given (a yes asked already)", int(EditStep::Given), false, int(O::Kept), 0, u"/"_s);
    }
    void theRootBoxAsksWhenLeft() {
        QFETCH(int, step);
        QFETCH(bool, answer);
        QFETCH(int, questions);
        kv::testing::OptionsFixture f(
            {u"UPDATE settings SET rootdir = '%1'"_s.arg(QDir::tempPath())});
        f.views->openAll();
        kv::admin::SettingsRowEdit row(f.views->Data2());
        const kv::admin::RootStore store = kv::admin::defaultRootStore(row);
        kv::testing::RecordingMessages messages;
        messages.answer = answer;
        const EditVerdict verdict = kv::admin::changeRoot(store, u"/"_s, EditStep(step), messages);
        QTEST(int(verdict.outcome), "outcome");
        QVERIFY(verdict.reason.isEmpty());
        const QString question =
            u"Per la cartella radice predefinita sarebbe condiviso tutto il disco (/), compresi "
            u"i file personali e quelli di sistema.\n\nCondividere davvero tutto il disco?"_s;
        QCOMPARE(messages.asked, QStringList(questions, question));
        QTEST(row.shown(u"rootdir"_s), "row");
        // A folder that does not exist is refused first, with the catalog's words.
        const EditVerdict missing =
            kv::admin::changeRoot(store, u"/no/such/folder"_s, EditStep::Leaving, messages);
        QCOMPARE(missing.reason, u"La cartella \"/no/such/folder\" non esiste"_s);
    }

    void theSharedFolderOffered_data() {
        QTest::addColumn<QString>("dataFolder");
        QTest::addColumn<QString>("shared");
        QTest::newRow("the service's") << u"/var/lib/kestrova"_s << u"/srv/kestrova"_s;
        QTest::newRow("the service's, written otherwise")
            << u"/var/lib//kestrova/"_s << u"/srv/kestrova"_s;
        addRow("a user's", u"/home/anna/.local/share/Kestrova"_s, u"/home/anna/Condivisi"_s);
    }
    void theSharedFolderOffered() {
        QFETCH(QString, dataFolder);
        QTEST(kv::admin::sharedRootFor(dataFolder, u"/home/anna"_s, QString()), "shared");
    }

    // "Usa una cartella condivisa" on a user's data folder: the folder in the
    // home folder, made when missing; a file in its place is named.
    void theSharedFolderIsMade() {
        QTemporaryDir home;
        const QByteArray oldHome = qgetenv("HOME");
        const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("HOME", home.path().toUtf8());
        qunsetenv("XDG_CONFIG_HOME");
        const QString folder = kv::admin::sharedRootFor(home.filePath(u"data"_s));
        qputenv("HOME", oldHome);
        if (!oldConfig.isNull())
            qputenv("XDG_CONFIG_HOME", oldConfig);
        QCOMPARE(folder, home.path() + u"/Condivisi"_s);
        const kv::admin::SharedRootChoice made = kv::admin::prepareSharedRoot(folder);
        QCOMPARE(made.error, QString());
        QCOMPARE(made.folder, folder);
        QVERIFY(QFileInfo(folder).isDir());
        QCOMPARE(kv::admin::prepareSharedRoot(folder).error, QString()); // already there

        const QString file = home.filePath(u"file"_s);
        QFile(file).open(QIODevice::WriteOnly);
        QCOMPARE(kv::admin::prepareSharedRoot(file).error,
                 file + u" esiste ma non è una cartella"_s);
    }
};

QTEST_GUILESS_MAIN(TestRootFolderLogic)
#include "test_rootfolderlogic.moc"
