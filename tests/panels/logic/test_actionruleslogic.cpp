// The actions group's behaviour without a window.

#include "panels/logic/ActionRulesLogic.h"
#include "tests/support/OptionsFixture.h"

#include <QTest>
#include <QTimer>

using namespace kv;
using namespace kv::admin;

namespace {

class FakeSender : public actions::MailSender {
public:
    QList<actions::MailSettings> sent;
    actions::SmtpResult answer{true, "250 2.0.0 Ok: queued", {}};
    void send(const actions::MailSettings& mail, const QStringList&, const QByteArray&,
              Done done) override {
        sent << mail;
        QTimer::singleShot(0, this, [done, a = answer] { done(a); });
    }
};

struct Fixture : testing::OptionsFixture {
    std::unique_ptr<ActionRulesLogic> logic;
    explicit Fixture(const QStringList& sql = {})
        : OptionsFixture(sql),
          logic(std::make_unique<ActionRulesLogic>(db.connection(), views->options())) {}
};

actions::ActionRule rule(const QString& event, actions::ActionKind kind, const QString& target) {
    actions::ActionRule r;
    r.event = event;
    r.kind = kind;
    r.target = target;
    return r;
}

} // namespace

class TestActionRulesLogic : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The rows, the question and the switch: test_actionsgroup.
    void refusesWithTheCommandLinesWords() {
        Fixture f;
        QCOMPARE(std::get<QString>(f.logic->add(rule("upload", actions::ActionKind::Run, "  "))),
                 QString("Manca il programma da avviare"));
        auto bad = rule("upload", actions::ActionKind::Mail, "ufficio");
        QCOMPARE(std::get<QString>(f.logic->add(bad)),
                 QString("Indirizzo e-mail non valido: \"ufficio\""));
        QVERIFY(f.logic->rules().rules.isEmpty());
    }

    // The list names the events in Italian; the rule keeps the command line's word.
    void eventsInItalian_data() {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QString>("name");
        const QStringList italian = {"caricamento",
                                     "scaricamento",
                                     "cancellazione",
                                     "rinomina",
                                     "nuova cartella",
                                     "accesso rifiutato",
                                     "blocco",
                                     "avviso di quota",
                                     "scadenza account",
                                     "amministrazione remota",
                                     "certificato rinnovato",
                                     "certificato non rinnovato"};
        QCOMPARE(actions::actionEventNames().size(), italian.size());
        for (int i = 0; i < italian.size(); ++i)
            QTest::newRow(qPrintable(actions::actionEventNames().at(i)))
                << actions::actionEventNames().at(i) << italian.at(i);
        QTest::newRow("a later version's word")
            << QString("upload-started") << QString("upload-started");
    }
    void eventsInItalian() {
        QFETCH(QString, event);
        QTEST(ActionRulesLogic::eventName(event), "name");
        Fixture f;
        QVERIFY(std::holds_alternative<qint64>(
                    f.logic->add(rule(event, actions::ActionKind::Run, "/bin/true"))) ||
                !actions::actionEventNames().contains(event));
        const actions::RuleList list = f.logic->rules();
        if (!list.rules.isEmpty()) {
            QCOMPARE(list.rules.first().event, event);
            QTEST(ActionRulesLogic::row(list.rules.first()).at(1), "name");
        }
    }

    void passwordIsWriteOnly() {
        Fixture f;
        QVERIFY(!f.logic->isSet("mail_password")); // shown once set: test_actionsgroup
        QCOMPARE(f.logic->change("mail_password", "s3greto"), std::nullopt);
        // An empty box after a visit keeps the password.
        QCOMPARE(f.logic->change("mail_password", ""), std::nullopt);
        QCOMPARE(f.views->options().pending().value("mail_password"), QString("s3greto"));
        QCOMPARE(f.logic->change("mail_server", "mail server"),
                 std::optional<QString>(
                     "Opzione mail_server: mail server non è un server (host oppure host:porta)"));
        QCOMPARE(f.logic->shown("mail_security"), QString("starttls"));
    }

    void testMailUsesTheSettingsOnScreen() {
        Fixture f;
        FakeSender sender;
        const auto ignore = [](const QString&, bool) {};
        QCOMPARE(f.logic->sendTestMail("nobody", sender, ignore),
                 std::optional<QString>("Indirizzo e-mail non valido: \"nobody\""));
        QCOMPARE(f.logic->sendTestMail("a@example.org", sender, ignore),
                 std::optional<QString>("Server di posta non impostato (opzione mail_server)"));
        QCOMPARE(f.logic->change("mail_server", "smtp.example.org:2525"), std::nullopt);
        QCOMPARE(f.logic->change("mail_user", "kv"), std::nullopt);
        QStringList shown;
        QList<bool> went;
        const auto record = [&](const QString& text, bool ok) {
            shown << text;
            went << ok;
        };
        QCOMPARE(f.logic->sendTestMail("a@example.org", sender, record), std::nullopt);
        QTRY_COMPARE(shown.size(), 1);
        QCOMPARE(sender.sent.first().host, QString("smtp.example.org"));
        QCOMPARE(sender.sent.first().port, 2525);
        QCOMPARE(sender.sent.first().user, QString("kv"));
        QCOMPARE(shown.first(), QString("E-mail di prova inviata a a@example.org.\nRisposta del "
                                        "server: 250 2.0.0 Ok: queued"));
        QVERIFY(went.first());
        sender.answer = {false, "535 no",
                         "invio non riuscito: Login denied (risposta del server: 535 no)"};
        QCOMPARE(f.logic->sendTestMail("a@example.org", sender, record), std::nullopt);
        QTRY_COMPARE(shown.size(), 2);
        QCOMPARE(shown.last(), QString("E-mail di prova non inviata: invio non riuscito: Login "
                                       "denied (risposta del server: 535 no)"));
        QVERIFY(!went.last());
        QCOMPARE(f.logic->change("mail_security", "none"), std::nullopt);
        QVERIFY(f.logic->sendTestMail("a@example.org", sender, record)->contains("none è ammesso"));
    }
};

QTEST_GUILESS_MAIN(TestActionRulesLogic)
#include "test_actionruleslogic.moc"
