// Action rules: which rules are refused and why, how their text is
// normalized, which events a rule wants, and the events as the rules see them.

#include "actions/ActionEvent.h"
#include "actions/ActionRule.h"
#include "actions/PathPattern.h"

#include <QTest>
#include <QTimeZone>

using namespace kv::actions;
using namespace kv::events;

Q_DECLARE_METATYPE(ActionRule)
Q_DECLARE_METATYPE(ActionEvent)

namespace {

ActionRule runRule(const QString& event, const QString& target, const QString& user = "*",
                   const QString& path = {}) {
    ActionRule rule;
    rule.event = event;
    rule.target = target;
    rule.user = user;
    rule.path = path;
    return rule;
}

ActionRule mailRule(const QString& target) {
    ActionRule rule = runRule("upload", target);
    rule.kind = ActionKind::Mail;
    return rule;
}

ActionEvent upload(const QString& user, const QString& path) {
    ActionEvent event;
    event.name = "upload";
    event.user = user;
    event.clientPath = path;
    return event;
}

const QDateTime kNow = QDateTime(QDate(2026, 12, 8), QTime(18, 9, 37), QTimeZone(3600));

TransferEvent transfer(TransferKind kind, TransferOutcome outcome) {
    TransferEvent t;
    t.session = {7, QStringLiteral("10.0.0.5"), QStringLiteral("mario"), Protocol::Ftps};
    t.kind = kind;
    t.outcome = outcome;
    t.clientPath = QStringLiteral("/scan/a b.pdf");
    t.diskPath = QStringLiteral("/srv/ftp/scan/a b.pdf");
    t.bytes = 4321;
    t.size = 9999;
    return t;
}

} // namespace

class TestActionRule : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void checks_data() {
        QTest::addColumn<ActionRule>("rule");
        QTest::addColumn<QString>("why"); // empty: accepted
        const auto row = [](const char* name, const ActionRule& rule, const QString& why) {
            QTest::newRow(name) << rule << why;
        };
        row("every event name", runRule("login-failed", "/bin/true"), "");
        row("quota warning", runRule("quota-warning", "/bin/true"), "");
        row("account expired", runRule("account-expired", "/bin/true", "mario"), "");
        row("unknown event", runRule("uploaded", "/bin/true"),
            "Evento sconosciuto: \"uploaded\" (upload, download, delete, rename, mkdir, "
            "login-failed, ban, quota-warning, account-expired, admin-login, "
            "certificate-renewed, certificate-failed)");
        row("empty program", runRule("upload", ""), "Manca il programma da avviare");
        row("only quotes", runRule("upload", "\"\""), "Manca il programma da avviare");
        row("control character in program", runRule("upload", "/bin/echo\x01"),
            "Il programma contiene caratteri di controllo");
        row("account with a space", runRule("upload", "x", "ma rio"),
            "Account non valido: \"ma rio\" (un login o *)");
        row("bad pattern", runRule("upload", "x", "*", "scan"),
            "Percorso \"scan\" non valido: deve iniziare con / (es. /scansioni/*.pdf)");
        row("two addresses", mailRule("a@b.it,c.d@e-f.org"), "");
        row("no address", mailRule(""), "Manca l'indirizzo e-mail");
        row("empty address after comma", mailRule("a@b.it,"), "Indirizzo e-mail non valido: \"\"");
        for (const auto& [name, address] : {std::pair{"address with a space", "mario rossi@b.it"},
                                            {"header injection", "a@b.it\r\nBcc: x@y.z"},
                                            {"angle brackets", "<a@b.it>"}})
            row(name, mailRule(address),
                QStringLiteral("Indirizzo e-mail non valido: \"%1\"").arg(address));
    }
    void checks() {
        QFETCH(ActionRule, rule);
        QFETCH(QString, why);
        QCOMPARE(checkRule(rule).value_or(QString()), why);
    }

    void normalizing() {
        ActionRule rule = runRule(" UPLOAD ", "  /bin/true  ", "  ", "  ");
        rule = normalizedRule(rule);
        QCOMPARE(QStringList({rule.event, rule.user, rule.path, rule.target}),
                 QStringList({"upload", "*", "", "/bin/true"}));
        QVERIFY(!rule.path.isNull()); // stored as empty text
        QCOMPARE(normalizedRule(mailRule(" a@b.it ,  c@d.it ")).target, QString("a@b.it,c@d.it"));
    }

    void commandWordsAreLiteral() {
        QCOMPARE(commandWords("/bin/prog \"two words\" $HOME ; | > x 'a b'"),
                 (QStringList{"/bin/prog", "two words", "$HOME", ";", "|", ">", "x", "'a", "b'"}));
    }

    void matching_data() {
        QTest::addColumn<ActionRule>("rule");
        QTest::addColumn<ActionEvent>("event");
        QTest::addColumn<bool>("wanted");
        const auto row = [](const char* name, const ActionRule& rule, const ActionEvent& event,
                            bool wanted) { QTest::newRow(name) << rule << event << wanted; };
        row("any account, any path", runRule("upload", "x"), upload("mario", "/a"), true);
        row("another event", runRule("download", "x"), upload("mario", "/a"), false);
        row("account ignores case", runRule("upload", "x", "Mario"), upload("mARIO", "/a"), true);
        row("another account", runRule("upload", "x", "mario"), upload("luigi", "/a"), false);
        const ActionRule pdf = runRule("upload", "x", "*", "/scan/*.pdf");
        row("path matches", pdf, upload("m", "/scan/a.pdf"), true);
        row("path misses", pdf, upload("m", "/scan/a.txt"), false);
        row("a path rule and an event without a path", runRule("upload", "x", "*", "/**"),
            upload("m", ""), false);
        ActionRule off = runRule("upload", "x");
        off.enabled = false;
        row("switched off", off, upload("m", "/a"), false);
    }
    void matching() {
        QFETCH(ActionRule, rule);
        QFETCH(ActionEvent, event);
        QFETCH(bool, wanted);
        QCOMPARE(ruleMatches(rule, event), wanted);
    }

    void everyEventHasACaption() {
        for (const QString& event : actionEventNames())
            QVERIFY2(eventCaption(event) != event, qPrintable(event));
    }

    // Path patterns of the action rules: * and ? stay within one folder name,
    // ** crosses folders, everything else is literal, and malformed patterns are
    // refused with a reason.
    void pathPatterns_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QStringList>("matched");
        QTest::addColumn<QStringList>("missed");
        // clang-format off
        QTest::newRow("star stays in its folder") << "/scansioni/*.pdf" << QStringList{"/scansioni/a.pdf", "/scansioni/.pdf"} << QStringList{"/scansioni/sub/a.pdf", "/scansioni/a.pdf.txt", "/altro/a.pdf", "/scansioni/a.PDF"};
        QTest::newRow("double star crosses folders") << "/in/**" << QStringList{"/in/a", "/in/x/y/z.pdf"} << QStringList{"/inx/a", "/in"};
        QTest::newRow("double star folder matches none too") << "/**/*.jpg" << QStringList{"/a.jpg", "/cam/1/a.jpg"} << QStringList{"/a.jpeg"};
        QTest::newRow("question mark is one character") << "/img?.png" << QStringList{"/img1.png"} << QStringList{"/img12.png", "/img/.png"};
        QTest::newRow("regex characters are literal") << "/a+b (1)[x].$" << QStringList{"/a+b (1)[x].$"} << QStringList{"/aab (1)x.$"};
        QTest::newRow("exact path") << "/ordini.csv" << QStringList{"/ordini.csv"} << QStringList{"/ordini.csv/", "/x/ordini.csv"};
        QTest::newRow("accented names") << "/città/*" << QStringList{"/città/è.txt"} << QStringList{"/citta/e.txt"};
        // clang-format on
    }
    void pathPatterns() {
        QFETCH(QString, pattern);
        QFETCH(QStringList, matched);
        QFETCH(QStringList, missed);
        const auto parsed = PathPattern::parse(pattern);
        QVERIFY(parsed);
        for (const QString& path : matched)
            QVERIFY2(parsed->matches(path), qPrintable(path));
        for (const QString& path : missed)
            QVERIFY2(!parsed->matches(path), qPrintable(path));
    }

    void badPathPatternsAreRefused() {
        for (const auto& [pattern, why] : {std::pair{"scan/*.pdf", "deve iniziare con /"},
                                           {"", "deve iniziare con /"},
                                           {"/a\nb", "caratteri di controllo"},
                                           {"/a/***", "non ***"}}) {
            QString error;
            QVERIFY(!PathPattern::parse(pattern, &error));
            QVERIFY2(error.startsWith("Percorso \"") && error.contains(why), qPrintable(error));
        }
    }

    // The bus's events as the action rules see them: only complete transfers
    // count, renames give the new name, and a program's environment carries the
    // event's fields in the documented variables.
    void onlyCompleteTransfersCount_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("name"); // empty: no event
        const auto row = [](const char* name, TransferKind kind, TransferOutcome outcome,
                            const char* event) {
            QTest::newRow(name) << int(kind) << int(outcome) << QString(event);
        };
        row("upload", TransferKind::Upload, TransferOutcome::Complete, "upload");
        row("download", TransferKind::Download, TransferOutcome::Complete, "download");
        row("aborted upload", TransferKind::Upload, TransferOutcome::Aborted, "");
        row("failed upload", TransferKind::Upload, TransferOutcome::Failed, "");
        row("listing", TransferKind::Listing, TransferOutcome::Complete, "");
    }
    void onlyCompleteTransfersCount() {
        QFETCH(int, kind);
        QFETCH(int, outcome);
        QFETCH(QString, name);
        const auto event =
            fromTransfer(transfer(TransferKind(kind), TransferOutcome(outcome)), kNow);
        QCOMPARE(event ? event->name : QString(), name);
        if (event) {
            QCOMPARE(event->size, 4321); // what was moved, not what was announced
            QCOMPARE(event->protocol, QString("ftps"));
            QCOMPARE(event->time.timeSpec(), Qt::UTC);
        }
    }

    // An upload that added to a file (APPE, a resume at an offset) names the
    // file as stored; a download what it sent.
    void anUploadNamesTheWholeFile() {
        TransferEvent up = transfer(TransferKind::Upload, TransferOutcome::Complete);
        up.fileSize = 100000;
        QCOMPARE(fromTransfer(up, kNow)->size, 100000);
        TransferEvent down = transfer(TransferKind::Download, TransferOutcome::Complete);
        down.fileSize = 100000;
        QCOMPARE(fromTransfer(down, kNow)->size, 4321);
    }

    void fileChanges() {
        FileEvent change;
        change.session.login = QStringLiteral("anonymous");
        change.change = FileChange::Renamed;
        change.clientPath = "/old.txt";
        change.diskPath = "/srv/old.txt";
        change.newClientPath = "/new.txt";
        change.newDiskPath = "/srv/new.txt";
        auto event = fromFileChange(change, kNow);
        QVERIFY(event);
        QCOMPARE(QStringList({event->name, event->clientPath, event->diskPath, event->user}),
                 QStringList({"rename", "/new.txt", "/srv/new.txt", "anonymous"}));
        change.change = FileChange::Deleted;
        QCOMPARE(fromFileChange(change, kNow)->clientPath, QString("/old.txt"));
        change.change = FileChange::FolderMade;
        QCOMPARE(fromFileChange(change, kNow)->name, QString("mkdir"));
        change.change = FileChange::FolderRemoved;
        QVERIFY(!fromFileChange(change, kNow));
    }

    // An account's own events (quota, expiry) name the account and say what
    // happened; they have no address, path or protocol, and a program gets the
    // text in KV_DETAIL.
    void accountNotices_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::newRow("quota") << "quota-warning"
                               << "Quota quasi esaurita";
        QTest::newRow("expiry") << "account-expired"
                                << "Account scaduto";
    }
    void accountNotices() {
        QFETCH(QString, name);
        const AccountNotice notice{"mario", "usato l'85% della quota (850 MiB di 1.000 MiB)"};
        const ActionEvent event = name == "quota-warning" ? fromQuotaWarning(notice, kNow)
                                                          : fromAccountExpired(notice, kNow);
        QCOMPARE(event.name, name);
        QTEST(eventCaption(event.name), "caption");
        QCOMPARE(QStringList({event.user, event.detail, event.address, event.clientPath}),
                 QStringList({"mario", notice.detail, "", ""}));
        QCOMPARE(event.time, kNow.toUTC());
        QVERIFY(ruleMatches(runRule(name, "x", "MARIO"), event));
        QVERIFY(!ruleMatches(runRule(name, "x", "luigi"), event));
        QVERIFY(!ruleMatches(runRule("upload", "x"), event));
        const QProcessEnvironment env = actionEnvironment(event, {});
        QCOMPARE(QStringList({env.value("KV_EVENT"), env.value("KV_USER"), env.value("KV_DETAIL"),
                              env.value("KV_PATH", "unset")}),
                 QStringList({name, "mario", notice.detail, ""}));
    }

    void environment() {
        const ActionEvent event =
            *fromTransfer(transfer(TransferKind::Upload, TransferOutcome::Complete), kNow);
        QProcessEnvironment base;
        base.insert("PATH", "/usr/bin");
        base.insert("KV_FILE", "stale");
        const QProcessEnvironment env = actionEnvironment(event, base);
        const QStringList expected = {"PATH=/usr/bin",         "KV_EVENT=upload",
                                      "KV_USER=mario",         "KV_ADDRESS=10.0.0.5",
                                      "KV_PATH=/scan/a b.pdf", "KV_FILE=/srv/ftp/scan/a b.pdf",
                                      "KV_SIZE=4321",          "KV_TIME=2026-12-08T17:09:37Z",
                                      "KV_PROTOCOL=ftps",      "KV_DETAIL="};
        for (const QString& pair : expected)
            QCOMPARE(env.value(pair.section(u'=', 0, 0)), pair.section(u'=', 1));
        LoginFailure failure{{1, "10.0.0.9", "", Protocol::Ftp}, "root", "password errata"};
        const QProcessEnvironment failed = actionEnvironment(fromLoginFailure(failure, kNow), base);
        QCOMPARE(QStringList({failed.value("KV_EVENT"), failed.value("KV_USER"),
                              failed.value("KV_FILE"), failed.value("KV_SIZE", "unset")}),
                 QStringList({"login-failed", "root", "", ""}));
    }
};

QTEST_GUILESS_MAIN(TestActionRule)
#include "test_actionrule.moc"
