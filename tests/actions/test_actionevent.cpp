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
        const QStringList expected = {"PATH=/usr/bin",         "KV_EVENT=upload",
                                      "KV_USER=mario",         "KV_ADDRESS=10.0.0.5",
                                      "KV_PATH=/scan/a b.pdf", "KV_FILE=/srv/ftp/scan/a b.pdf",
                                      "KV_SIZE=4321",          "KV_TIME=2026-12-08T17:09:37Z",
                                      "KV_PROTOCOL=ftps"};
        for (const QString& pair : expected)
            QCOMPARE(env.value(pair.section(u'=', 0, 0)), pair.section(u'=', 1));
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
