// The actions listen to the bus: an account's quota warning and its expiry
// reach the rules that name them (and only those), a program gets what
// happened in its environment, and a mail rule gathers them into its batch.

#include "actions/ActionService.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace kv::actions;
using namespace kv::events;

namespace {

ActionRule rule(qint64 id, const QString& event, ActionKind kind, const QString& target,
                const QString& user = "*") {
    ActionRule r;
    r.id = id;
    r.event = event;
    r.kind = kind;
    r.target = target;
    r.user = user;
    return r;
}

struct Fixture {
    QTemporaryDir dir;
    QList<ActionRule> rules;
    QStringList lines;
    ServerEvents bus;
    ActionService service{[this] {
                              return RuleList{rules, {}};
                          },
                          [] { return kv::settings::optionCatalog().checkAll({}); },
                          [this](const QString& line) { lines << line; }, dir.path()};
    QSignalSpy ended{&service.runner(), &ProgramRunner::programEnded};
    Fixture() { service.subscribe(bus); }
};

const QString kEcho = R"(/bin/sh -c "echo evento=$KV_EVENT utente=$KV_USER: $KV_DETAIL")";

} // namespace

class TestActionService : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void accountNoticesRunTheirRules_data() {
        QTest::addColumn<QString>("event");
        QTest::newRow("quota warning") << "quota-warning";
        QTest::newRow("account expired") << "account-expired";
    }
    void accountNoticesRunTheirRules() {
        QFETCH(QString, event);
        Fixture f;
        f.rules = {rule(1, event, ActionKind::Run, kEcho, "mario"),
                   rule(2, event, ActionKind::Run, "/bin/true", "luigi"),
                   rule(3, "upload", ActionKind::Run, "/bin/true")};
        const AccountNotice notice{"mario", "usato l'80% della quota"};
        if (event == "quota-warning")
            Q_EMIT f.bus.quotaWarning(notice);
        else
            Q_EMIT f.bus.accountExpired(notice);
        QTRY_COMPARE_WITH_TIMEOUT(f.ended.size(), 1, 5000);
        QCOMPARE(f.ended.at(0).at(0).toString(), kEcho);
        QVERIFY2(f.lines.join('\n').contains(
                     QString("evento=%1 utente=mario: usato l'80% della quota").arg(event)),
                 qPrintable(f.lines.join('\n')));
        QCOMPARE(f.service.runner().running() + f.service.runner().waiting(), 0);
    }

    void mailRulesGatherThem() {
        Fixture f;
        f.rules = {rule(1, "quota-warning", ActionKind::Mail, "ufficio@example.org"),
                   rule(2, "account-expired", ActionKind::Mail, "capo@example.org")};
        Q_EMIT f.bus.quotaWarning({"mario", "usato l'80% della quota"});
        QCOMPARE(f.service.batcher().openBatches(), 1);
        Q_EMIT f.bus.accountExpired({"anonymous", "scaduto il 09/12/2026"});
        QCOMPARE(f.service.batcher().openBatches(), 2);
        QVERIFY(f.ended.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestActionService)
#include "test_actionservice.moc"
