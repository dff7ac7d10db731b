#include "access/AccountDatabase.h"
#include "access/ServerEventHandler.h"
#include "tests/support/FakeConnection.h"

#include <QHash>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>

using namespace kv::access;
using kv::engine::Verdict;
using kv::testing::FakeConnection;

namespace {

struct Recorder : EngineLineSink, OnlineObserver {
    QStringList calls;
    void LogLine(const kv::engine::ConnectionObject& c, const QString& text) override {
        calls << QStringLiteral("log %1 %2").arg(c.UserName(), text);
    }
    void ShowUsersNumber() override { calls << QStringLiteral("count"); }
    void AggiornaUtenti() override { calls << QStringLiteral("list"); }
};

struct NoLists : ListSwitches {
    bool BlockListOn() const override { return false; }
    bool AllowListOn() const override { return false; }
};

} // namespace

class TestServerEventHandler : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<AccountDatabase> db_;
    ConnectedUsers users_;
    NoLists lists_;
    std::unique_ptr<LoginHandler> login_;
    std::unique_ptr<AccessChecks> checks_;
    Recorder recorder_;
    std::unique_ptr<ServerEventHandler> handler_;

    // Every check the engine asks for, by name.
    Verdict check(const QString& event, FakeConnection& c) {
        ServerEventHandler& h = *handler_;
        const QString p = QStringLiteral("/dir/file");
        const QHash<QString, std::function<Verdict()>> calls = {
            {"cwd", [&] { return h.ChangeDirCheck(c, p); }},
            {"mkd", [&] { return h.MakeDirCheck(c, p); }},
            {"rmd", [&] { return h.RemoveDirCheck(c, p); }},
            {"dele", [&] { return h.DeleteCheck(c, p); }},
            {"rnto", [&] { return h.RenameCheck(c, p, p + QLatin1Char('2')); }},
            {"stor", [&] { return h.UploadCheck(c, p); }},
            {"retr", [&] { return h.DownloadCheck(c, p); }},
            {"site", [&] { return h.OtherCheckA(c, QStringLiteral("CHMOD 777 x")); }},
            {"mfmt", [&] { return h.OtherCheckB(c, p); }}};
        return calls.value(event)();
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        db_ = std::make_unique<AccountDatabase>(dir_.filePath(QStringLiteral("accounts.dat")));
        QVERIFY(db_->open());
        login_ = std::make_unique<LoginHandler>(db_->connection(), users_, lists_,
                                                [](const QString& h) { return h; });
        checks_ = std::make_unique<AccessChecks>(users_);
        handler_ = std::make_unique<ServerEventHandler>(*login_, *checks_, recorder_, recorder_);
    }
    void init() { recorder_.calls.clear(); }

    void eachCheckTestsItsOneRight_data() {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QString>("needed"); // the one letter that allows it; "" none does
        const char* table[][2] = {{"cwd", "B"},  {"mkd", "M"},  {"rmd", "M"},
                                  {"dele", "D"}, {"rnto", "W"}, {"stor", "W"},
                                  {"retr", "R"}, {"site", ""},  {"mfmt", "W"}};
        for (const auto& [event, letter] : table)
            QTest::newRow(event) << QString::fromLatin1(event) << QString::fromLatin1(letter);
    }
    void eachCheckTestsItsOneRight() {
        QFETCH(QString, event);
        QFETCH(QString, needed);
        FakeConnection never;
        QCOMPARE(check(event, never), Verdict::Deny);
        // With every right but the one needed, and with only the one needed.
        for (const QString& letters :
             {QStringLiteral("RWDBM").remove(needed), needed, QStringLiteral("RWDBM")}) {
            FakeConnection c;
            const qint32 n = users_.Append();
            users_.record(n)->setPermissions(letters);
            c.setTag(n);
            const bool allowed = !needed.isEmpty() && letters.contains(needed);
            QCOMPARE(check(event, c), allowed ? Verdict::Allow : Verdict::Deny);
        }
        QVERIFY(recorder_.calls.isEmpty());
    }

    void loginAndCloseRefreshTheOnlineList() {
        FakeConnection c(QStringLiteral("nobody"), QStringLiteral("x"));
        QCOMPARE(handler_->LoginRequest(c), Verdict::Deny);
        QCOMPARE(recorder_.calls, (QStringList{"count", "list"}));
        const qint32 index = ConnectionIndex(c);
        QVERIFY(index > 0);
        handler_->ConnectionClosed(c);
        QCOMPARE(recorder_.calls, (QStringList{"count", "list", "count", "list"}));
        QVERIFY(users_.record(index)); // the record stays
    }

    void linesGoToTheLogAndNoticesDoNothing() {
        FakeConnection c(QStringLiteral("bob"), QStringLiteral("x"));
        handler_->LogLine(c, QStringLiteral("RETR a.txt"));
        handler_->OtherNoticeA(c, QStringLiteral("/a.txt"), 10);
        handler_->OtherNoticeB(c, QStringLiteral("/b.txt"), 10, false);
        QCOMPARE(recorder_.calls, QStringList{"log bob RETR a.txt"});
    }
};

QTEST_GUILESS_MAIN(TestServerEventHandler)
#include "test_servereventhandler.moc"
