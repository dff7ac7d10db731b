// The bus's events as the action rules see them: only complete transfers
// count, renames give the new name, and a program's environment carries the
// event's fields in the documented variables.

#include "actions/ActionEvent.h"

#include <QTest>
#include <QTimeZone>

using namespace kv::actions;
using namespace kv::events;

namespace {

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

class TestActionEvent : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void onlyCompleteTransfersCount_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("name"); // empty: no event
        QTest::newRow("upload") << int(TransferKind::Upload) << int(TransferOutcome::Complete)
                                << "upload";
        QTest::newRow("download") << int(TransferKind::Download) << int(TransferOutcome::Complete)
                                  << "download";
        QTest::newRow("aborted upload")
            << int(TransferKind::Upload) << int(TransferOutcome::Aborted) << "";
        QTest::newRow("failed upload")
            << int(TransferKind::Upload) << int(TransferOutcome::Failed) << "";
        QTest::newRow("listing") << int(TransferKind::Listing) << int(TransferOutcome::Complete)
                                 << "";
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
        QCOMPARE(event->name, QString("rename"));
        QCOMPARE(event->clientPath, QString("/new.txt"));
        QCOMPARE(event->diskPath, QString("/srv/new.txt"));
        QCOMPARE(event->user, QString("anonymous"));
        change.change = FileChange::Deleted;
        QCOMPARE(fromFileChange(change, kNow)->clientPath, QString("/old.txt"));
        change.change = FileChange::FolderMade;
        QCOMPARE(fromFileChange(change, kNow)->name, QString("mkdir"));
        change.change = FileChange::FolderRemoved;
        QVERIFY(!fromFileChange(change, kNow));
    }

    void environment() {
        const ActionEvent event =
            *fromTransfer(transfer(TransferKind::Upload, TransferOutcome::Complete), kNow);
        QProcessEnvironment base;
        base.insert("PATH", "/usr/bin");
        base.insert("KV_FILE", "stale");
        const QProcessEnvironment env = actionEnvironment(event, base);
        QCOMPARE(env.value("PATH"), QString("/usr/bin"));
        QCOMPARE(env.value("KV_EVENT"), QString("upload"));
        QCOMPARE(env.value("KV_USER"), QString("mario"));
        QCOMPARE(env.value("KV_ADDRESS"), QString("10.0.0.5"));
        QCOMPARE(env.value("KV_PATH"), QString("/scan/a b.pdf"));
        QCOMPARE(env.value("KV_FILE"), QString("/srv/ftp/scan/a b.pdf"));
        QCOMPARE(env.value("KV_SIZE"), QString("4321"));
        QCOMPARE(env.value("KV_TIME"), QString("2026-12-08T17:09:37Z"));
        QCOMPARE(env.value("KV_PROTOCOL"), QString("ftps"));
        LoginFailure failure{{1, "10.0.0.9", "", Protocol::Ftp}, "root", "password errata"};
        const QProcessEnvironment failed = actionEnvironment(fromLoginFailure(failure, kNow), base);
        QCOMPARE(failed.value("KV_EVENT"), QString("login-failed"));
        QCOMPARE(failed.value("KV_USER"), QString("root"));
        QCOMPARE(failed.value("KV_FILE"), QString());
        QCOMPARE(failed.value("KV_SIZE"), QString());
        QVERIFY(failed.contains("KV_SIZE"));
    }
};

QTEST_GUILESS_MAIN(TestActionEvent)
#include "test_actionevent.moc"
