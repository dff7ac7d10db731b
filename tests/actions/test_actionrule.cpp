// Action rules: which rules are refused and why, how their text is
// normalized, and which events a rule wants.

#include "actions/ActionRule.h"

#include <QTest>

using namespace kv::actions;

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
        row("unknown event", runRule("uploaded", "/bin/true"),
            "Evento sconosciuto: \"uploaded\" (upload, download, delete, rename, mkdir, "
            "login-failed, ban)");
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
        QCOMPARE(rule.event, QString("upload"));
        QCOMPARE(rule.user, QString("*"));
        QVERIFY(!rule.path.isNull()); // stored as empty text
        QVERIFY(rule.path.isEmpty());
        QCOMPARE(rule.target, QString("/bin/true"));
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
        row("anonymous by name", runRule("upload", "x", "anonymous"), upload("anonymous", "/a"),
            true);
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

    void fieldsAreDeclaredOnce() {
        QStringList names;
        for (const ActionField& field : actionFields()) {
            QVERIFY(!names.contains(field.name));
            QVERIFY(!field.caption.isEmpty());
            names << field.name;
        }
        QCOMPARE(names, (QStringList{"id", "event", "user", "path", "run", "mail", "enabled"}));
        for (const QString& event : actionEventNames())
            QVERIFY2(eventCaption(event) != event, qPrintable(event));
    }
};

QTEST_GUILESS_MAIN(TestActionRule)
#include "test_actionrule.moc"
