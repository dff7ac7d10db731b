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
        QTest::newRow("every event name") << runRule("login-failed", "/bin/true") << "";
        QTest::newRow("unknown event") << runRule("uploaded", "/bin/true")
                                       << "Evento sconosciuto: \"uploaded\" (upload, download, "
                                          "delete, rename, mkdir, login-failed, ban)";
        QTest::newRow("empty program") << runRule("upload", "") << "Manca il programma da avviare";
        QTest::newRow("only quotes")
            << runRule("upload", "\"\"") << "Manca il programma da avviare";
        QTest::newRow("control character in program")
            << runRule("upload", "/bin/echo\x01") << "Il programma contiene caratteri di controllo";
        QTest::newRow("account with a space")
            << runRule("upload", "x", "ma rio") << "Account non valido: \"ma rio\" (un login o *)";
        QTest::newRow("bad pattern") << runRule("upload", "x", "*", "scan")
                                     << "Percorso \"scan\" non valido: deve iniziare con / (es. "
                                        "/scansioni/*.pdf)";
        QTest::newRow("two addresses") << mailRule("a@b.it,c.d@e-f.org") << "";
        QTest::newRow("no address") << mailRule("") << "Manca l'indirizzo e-mail";
        QTest::newRow("empty address after comma")
            << mailRule("a@b.it,") << "Indirizzo e-mail non valido: \"\"";
        QTest::newRow("address with a space")
            << mailRule("mario rossi@b.it") << "Indirizzo e-mail non valido: \"mario rossi@b.it\"";
        QTest::newRow("header injection")
            << mailRule("a@b.it\r\nBcc: x@y.z")
            << "Indirizzo e-mail non valido: \"a@b.it\r\nBcc: x@y.z\"";
        QTest::newRow("angle brackets")
            << mailRule("<a@b.it>") << "Indirizzo e-mail non valido: \"<a@b.it>\"";
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
        QTest::newRow("any account, any path")
            << runRule("upload", "x") << upload("mario", "/a") << true;
        QTest::newRow("another event")
            << runRule("download", "x") << upload("mario", "/a") << false;
        QTest::newRow("account ignores case")
            << runRule("upload", "x", "Mario") << upload("mARIO", "/a") << true;
        QTest::newRow("another account")
            << runRule("upload", "x", "mario") << upload("luigi", "/a") << false;
        QTest::newRow("anonymous by name")
            << runRule("upload", "x", "anonymous") << upload("anonymous", "/a") << true;
        QTest::newRow("path matches")
            << runRule("upload", "x", "*", "/scan/*.pdf") << upload("m", "/scan/a.pdf") << true;
        QTest::newRow("path misses")
            << runRule("upload", "x", "*", "/scan/*.pdf") << upload("m", "/scan/a.txt") << false;
        QTest::newRow("a path rule and an event without a path")
            << runRule("upload", "x", "*", "/**") << upload("m", "") << false;
        ActionRule off = runRule("upload", "x");
        off.enabled = false;
        QTest::newRow("switched off") << off << upload("m", "/a") << false;
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
