// What the panels refuse when the operator types a login, a root, a virtual
// folder or an address list entry: the rows of tests/support/entry_refusals.tsv,
// which tests/e2e/test_cli.py gives to the command line, so that both say the
// same thing in the same words. Then what only the window meets: relative
// folders, and the whole disk as a root, asked for first.

#include "access/AccountDatabase.h"
#include "access/EntryChecks.h"
#include "panels/logic/AccountPanelLogic.h"
#include "panels/logic/IpListLogic.h"
#include "panels/logic/VirtualDirList.h"
#include "tests/support/DbTestSupport.h"
#include "tests/support/RecordingMessages.h"

#include <QtTest>

using namespace Qt::StringLiterals;
using kv::admin::EditStep;
using kv::admin::EditVerdict;
using kv::admin::VirtualDirList;

namespace {

// "\s" and "\x01" as the table writes a space and that control character.
QString unescaped(QString text) {
    return text.replace(u"\\s"_s, u" "_s).replace(u"\\x01"_s, QString(QChar(1)));
}

// What the table's rows start from (see the table's header).
struct Site {
    QTemporaryDir dir;
    QString root = dir.filePath(u"root"_s);
    QString outside = dir.filePath(u"outside"_s);
    QString path = dir.filePath(u"accounts.dat"_s);
    kv::access::AccountDatabase db{path};
    std::unique_ptr<kv::access::AccountViews> views;
    kv::testing::RecordingMessages messages;

    Site() {
        QVERIFY(QDir().mkpath(root + u"/sub"_s) && QDir().mkpath(outside));
        QFile file(root + u"/hello.txt"_s);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("hello\n") == 6);
        file.close();
        QVERIFY(db.open());
        QCOMPARE(kv::testing::runSql(
                     path, {u"UPDATE settings SET rootdir = '%1'"_s.arg(root),
                            u"INSERT INTO users (ID, login, password) VALUES (1, 'bob', 'x')"_s,
                            u"INSERT INTO virtualdirs VALUES ('doc', '', '%1/sub', 1)"_s.arg(root),
                            u"INSERT INTO IPok VALUES ('10.9.9.9')"_s}),
                 QString());
        views = std::make_unique<kv::access::AccountViews>(db);
        views->openAll();
    }
    QString placed(const QString& text) const {
        return unescaped(text).replace(u"{root}"_s, root).replace(u"{outside}"_s, outside);
    }
};

QString reasonOf(const EditVerdict& verdict) {
    return verdict.outcome == EditVerdict::Outcome::Refused ? verdict.reason : QString();
}

QString errorOf(const VirtualDirList& list, bool stored) {
    return stored ? QString() : list.lastError();
}

} // namespace

class TestEntryChecks : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void sameRefusalsAsTheCommandLine_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("message");
        QFile table(qEnvironmentVariable("KV_SOURCE_DIR") + u"/tests/support/entry_refusals.tsv"_s);
        QVERIFY(table.open(QIODevice::ReadOnly | QIODevice::Text));
        int rows = 0;
        for (const QString& line : QString::fromUtf8(table.readAll()).split(u'\n')) {
            if (line.isEmpty() || line.startsWith(u'#'))
                continue;
            const QStringList fields = line.split(u'\t');
            QCOMPARE(fields.size(), 3);
            QTest::addRow("%s %s", qPrintable(fields[0]), qPrintable(fields[1]))
                << fields[0] << fields[1] << fields[2];
            ++rows;
        }
        QVERIFY(rows >= 20);
    }
    void sameRefusalsAsTheCommandLine() {
        QFETCH(QString, kind);
        QFETCH(QString, value);
        QFETCH(QString, message);
        Site site;
        const QString given = site.placed(value);
        const QString expected = site.placed(message);
        const QSqlDatabase db = site.db.connection();
        QString said;
        if (kind == u"login"_s || kind == u"root"_s) {
            // A new account typed in the Account panel, as `user add` makes one.
            kv::admin::AccountPanelLogic logic(site.views->Data1(), site.messages, db);
            QVERIFY(logic.cmdAdd());
            if (kind == u"login"_s) {
                said = reasonOf(logic.setLogin(given));
            } else {
                QVERIFY(logic.setLogin(u"dora"_s).isKept());
                said = reasonOf(logic.setRoot(given));
            }
        } else if (kind.startsWith(u'v')) {
            // A new folder of bob's in the folder editor, as `vdir add bob` makes one.
            VirtualDirList list(db, 1);
            QVERIFY(list.Refresh() && list.cmdNuova());
            if (kind == u"vname"_s) {
                said = errorOf(list, list.setField(VirtualDirList::Name, given));
            } else {
                QVERIFY(list.setField(VirtualDirList::Name, u"v"_s));
                const auto column =
                    kind == u"vposition"_s ? VirtualDirList::Source : VirtualDirList::Destination;
                said = errorOf(list, list.setField(column, given));
            }
        } else {
            QCOMPARE(kind, u"ip"_s);
            kv::access::DataView& allowed = site.views->DataIP(0);
            kv::admin::keepEntriesWhole(allowed);
            QVERIFY(kv::admin::cmdNuovoIP(allowed));
            said = kv::admin::typedEntryProblem(allowed, allowed.currentRow(), given)
                       .value_or(QString());
        }
        QCOMPARE(said, expected);
        QVERIFY(site.messages.shown.isEmpty() && site.messages.asked.isEmpty());
    }

    // A panel has no working folder to put a relative path under.
    void relativeFoldersAreRefusedInThePanels() {
        Site site;
        kv::admin::AccountPanelLogic logic(site.views->Data1(), site.messages,
                                           site.db.connection());
        QVERIFY(logic.cmdAdd());
        const QString relative = u"La cartella \"sub\" va indicata con un percorso assoluto"_s;
        QCOMPARE(reasonOf(logic.setRoot(u"sub"_s)), relative);
        VirtualDirList list(site.db.connection(), 1);
        QVERIFY(list.Refresh() && list.cmdNuova());
        QVERIFY(!list.setField(VirtualDirList::Destination, u"sub"_s));
        QCOMPARE(list.lastError(), relative);
        QVERIFY(!list.setField(VirtualDirList::Source, u"sub"_s));
        QVERIFY(list.lastError().contains(u"non è dentro la cartella principale"_s));
    }

    // The whole disk as a root is stored only after a yes to the question
    // (whose default is No); No keeps what was stored.
    void wholeDiskIsAskedFor_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("answer");
        QTest::newRow("no") << u"/"_s << false;
        QTest::newRow("yes") << u"/"_s << true;
        QTest::newRow("written otherwise, yes") << u"//"_s << true;
    }
    void wholeDiskIsAskedFor() {
        QFETCH(QString, typed);
        QFETCH(bool, answer);
        Site site;
        site.messages.answer = answer;
        kv::access::DataView& users = site.views->Data1();
        kv::admin::AccountPanelLogic logic(users, site.messages, site.db.connection());
        QVERIFY(users.setField(u"rootdir"_s, site.outside));
        const EditVerdict account = logic.setRoot(typed);
        const kv::admin::RootStore anonymousRoot =
            kv::admin::viewRootStore(site.views->Data3(), kv::access::anonymousRootOwner);
        const EditVerdict anonymous =
            kv::admin::changeRoot(anonymousRoot, typed, EditStep::Leaving, site.messages);
        const QString question = u"Per %1 sarebbe condiviso tutto il disco (/), compresi i file "
                                 "personali e quelli di sistema.\n\nCondividere davvero tutto il "
                                 "disco?"_s;
        QCOMPARE(site.messages.asked, (QStringList{question.arg(u"l'account bob"_s),
                                                   question.arg(u"l'account anonimo"_s)}));
        const auto expected = answer ? EditVerdict::Outcome::Kept : EditVerdict::Outcome::Declined;
        QCOMPARE(account.outcome, expected);
        QCOMPARE(anonymous.outcome, expected);
        QCOMPARE(users.Field(u"rootdir"_s), answer ? typed : site.outside);
        QCOMPARE(site.views->Data3().Field(u"rootdir"_s), answer ? typed : QString());
        // Once stored, the same root is not asked for again.
        site.messages.asked.clear();
        QVERIFY(logic.setRoot(users.Field(u"rootdir"_s)).isKept());
        QVERIFY(site.messages.asked.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestEntryChecks)
#include "test_entrychecks.moc"
