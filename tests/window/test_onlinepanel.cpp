#include "tests/support/WindowHarness.h"

#include "events/ServerEvents.h"
#include "tests/support/FakeConnection.h"
#include "window/OnlinePanel.h"
#include "window/RateGraph.h"

#include <QHeaderView>
#include <QImage>
#include <QPushButton>
#include <QTreeWidget>
#include <memory>

using namespace Qt::StringLiterals;

using namespace kv;
using kv::testing::WindowHarness;

namespace {

// Logged in with `rights` in `root` (empty: the default root).
std::shared_ptr<files::LoginGrant> grant(const QString& root, const QString& rights) {
    auto made = std::make_shared<files::LoginGrant>();
    made->root = root;
    made->rights = files::Rights::fromLetters(rights);
    return made;
}

// A click in the first column: the live columns make the row wider than the list.
void click(QTreeWidget* list, int row) {
    const QRect r = list->visualItemRect(list->topLevelItem(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, {r.left() + 10, r.center().y()});
}

// How many pixels of the rightmost `columns` columns are near `colour`.
int pixelsNear(const QImage& image, const QColor& colour, int columns) {
    int n = 0;
    for (int x = image.width() - columns; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y) {
            const QColor c = image.pixelColor(x, y);
            n += std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) +
                     std::abs(c.blue() - colour.blue()) <
                 60;
        }
    return n;
}

// The texts of `count` columns from `first` on.
QStringList texts(const QTreeWidgetItem* item, int first, int count) {
    QStringList texts;
    for (int c = first; c < first + count; ++c)
        texts << item->text(c);
    return texts;
}

QStringList liveTexts(const QTreeWidgetItem* item) {
    return texts(item, monitor::kOnlineColumns, monitor::kLiveColumns);
}

} // namespace

class TestOnlinePanel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The list follows the logins and closed connections the core reports.
    void clientsListedSelectedAndDisconnected() {
        WindowHarness h;
        ui::Form1& w = h.started();
        w.selectItem(5);
        w.toolbarClick("kStart");
        QTreeWidget* list = w.online().list();
        events::ServerEvents& reported = h.core->notifications();
        // Nothing selected: the operator is told.
        w.online().killButton()->click();
        QCOMPARE(h.messages.texts(), QStringList{ui::kNoUserSelectedMessage});

        testing::FakeConnection mario("mario", "pw1"), anna("anna", "pw2"), third("anna", "pw2");
        mario.setGrant(grant(u"/srv/mario"_s, u"RWDBM"_s));
        anna.setGrant(grant(QString(), u"RB"_s));
        third.setGrant(grant(QString(), u"RB"_s));
        h.fakeEngine->connections = {&mario, &anna};
        Q_EMIT reported.loggedIn({});
        QCOMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(w.usersText(), u"2 utenti connessi"_s);
        // Never the password; the rights in words (their table: test_onlinelist).
        QCOMPARE(texts(list->topLevelItem(0), 0, 4),
                 (QStringList{"mario", "********", "127.0.0.1", "/srv/mario"}));
        QCOMPARE(texts(list->topLevelItem(1), 3, 2), // no root of its own
                 (QStringList{w.defaultRootText(), "File: lettura Cartelle: navigazione"}));
        click(list, 0);
        QVERIFY(!w.online().rememberedKey().isEmpty());

        // Another login rebuilds the list; the clicked row is selected again.
        // One account twice from one address: a row for each connection (and
        // Disconnetti ends the one chosen: test_onlinelist).
        // Reports in a burst (cameras logging in again after a power cut)
        // are served by one later rebuild, not one each.
        h.fakeEngine->connections.append(&third);
        Q_EMIT reported.loggedIn({});
        QTreeWidgetItem* const first = list->topLevelItem(0);
        for (int i = 0; i < 49; ++i)
            Q_EMIT reported.loggedIn({});
        QCOMPARE(w.usersText(), u"3 utenti connessi"_s);
        QCOMPARE(list->topLevelItem(0), first);
        QTRY_COMPARE(list->topLevelItemCount(), 3);
        QCOMPARE(list->selectedItems().size(), 1);
        QCOMPARE(list->selectedItems().first()->text(0), u"mario"_s);
        QCOMPARE(w.selectedOnlineAddress(), std::optional<QString>("127.0.0.1"));

        // A header click sorts (column "Account": anna before mario, who
        // arrived first), and a rebuild keeps the order and the selection.
        QHeaderView* header = list->header();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(0) + 5, header->height() / 2));
        QCOMPARE(list->topLevelItem(0)->text(0), u"anna"_s);
        w.AggiornaUtenti();
        QCOMPARE(list->topLevelItem(0)->text(0), u"anna"_s);
        QCOMPARE(list->selectedItems().first()->text(0), u"mario"_s);

        // Disconnetti ends the selected client; once it has left, the
        // selection is forgotten.
        w.online().killButton()->click();
        QCOMPARE(mario.disconnects, 1);
        h.fakeEngine->connections.removeOne(&mario);
        Q_EMIT reported.sessionClosed({});
        QTRY_COMPARE(list->topLevelItemCount(), 2);
        QVERIFY(list->selectedItems().isEmpty());
        QCOMPARE(w.online().rememberedKey(), QString());
        QCOMPARE(w.usersText(), u"2 utenti connessi"_s);
        QCOMPARE(h.messages.shown.size(), 1);
        h.fakeEngine->connections.clear(); // stopping closes them
        w.toolbarClick("kStop");
        QCOMPARE(list->topLevelItemCount(), 0);
        QCOMPARE(w.usersText(), QString());
    }

    // An event about one session changes that session's row in place: it
    // comes when the session opens, changes with its login, goes when it
    // closes, and the other rows keep their items and their selection.
    void oneSessionsEventsChangeOnlyItsRow() {
        WindowHarness h;
        ui::Form1& w = h.started();
        w.selectItem(5);
        w.toolbarClick("kStart");
        QTreeWidget* list = w.online().list();
        events::ServerEvents& reported = h.core->notifications();
        testing::FakeConnection mario("mario", "pw1"), anna("anna", "pw2");
        mario.setGrant(grant(u"/srv/mario"_s, u"RB"_s));
        h.fakeEngine->connections = {&mario};
        Q_EMIT reported.loggedIn({mario.Id(), "127.0.0.1", "mario"});
        QCOMPARE(list->topLevelItemCount(), 1);
        QTreeWidgetItem* const marioItem = list->topLevelItem(0);
        click(list, 0);
        QVERIFY(marioItem->isSelected());

        h.fakeEngine->connections.append(&anna);
        Q_EMIT reported.sessionOpened({anna.Id(), "127.0.0.1", {}});
        QTRY_COMPARE(list->topLevelItemCount(), 2); // within kOnlineRebuildMs
        QCOMPARE(w.usersText(), u"2 utenti connessi"_s);
        QTreeWidgetItem* const annaItem = list->topLevelItem(1);
        anna.setRefused(u"password errata"_s);
        Q_EMIT reported.loginFailed({{anna.Id(), "127.0.0.1", {}}, "anna", "password errata"});
        QTRY_COMPARE(annaItem->text(4), u"Login rifiutato: password errata"_s);
        anna.setGrant(grant(QString(), u"RB"_s));
        Q_EMIT reported.loggedIn({anna.Id(), "127.0.0.1", "anna"});
        QTRY_COMPARE(annaItem->text(4), u"File: lettura Cartelle: navigazione"_s);
        QCOMPARE(list->topLevelItem(1), annaItem);
        QCOMPARE(list->topLevelItem(0), marioItem);
        QVERIFY(marioItem->isSelected());

        h.fakeEngine->connections.removeOne(&anna);
        Q_EMIT reported.sessionClosed({anna.Id(), "127.0.0.1", "anna"});
        QCOMPARE(w.usersText(), u"1 utenti connessi"_s);
        QTRY_COMPARE(list->topLevelItemCount(), 1);
        QCOMPARE(list->topLevelItem(0), marioItem);
        QVERIFY(marioItem->isSelected());
        h.fakeEngine->connections.clear();
    }

    // The live columns, the status bar's totals and the graph follow the
    // counters from one poll to the next. No column of masks, an anonymous
    // client's e-mail on its login, logins no wider than they are (one made 300
    // pixels wide before): the transfer columns stay in view in 900 pixels.
    void liveTransfersRateGraphAndColumns() {
        WindowHarness h;
        h.settings.setValue(kAppTarrow, kSectionAppIni, "OnlineCol1", "4500");
        ui::Form1& w = h.started();
        w.resize(900, 600);
        w.selectItem(5);
        w.toolbarClick("kStart");
        testing::FakeConnection mario("mario", "pw", "192.0.2.5"),
            guest("anonymous", "io@casa.it", "192.0.2.6");
        mario.activity.direction = kv::session::TransferActivity::Direction::Download;
        mario.activity.path = "/film.mkv";
        mario.activity.size = 4 << 20;
        guest.activity.direction = kv::session::TransferActivity::Direction::Upload;
        guest.activity.path = "/su.bin";
        h.fakeEngine->connections = {&mario, &guest};
        w.AggiornaUtenti();
        ui::OnlinePanel& panel = w.online();
        QTreeWidget* list = panel.list();
        QVERIFY(list->isColumnHidden(1));
        QCOMPARE(list->topLevelItem(1)->toolTip(0), u"anonimo: io@casa.it"_s);
        QCOMPARE(list->topLevelItem(0)->toolTip(0), QString());
        QVERIFY(list->columnWidth(0) < 150);
        QCOMPARE(list->headerItem()->text(9), u"Avanzamento"_s);
        QVERIFY(list->header()->sectionViewportPosition(9) + list->header()->sectionSize(9) <=
                list->viewport()->width());

        panel.refreshLive(10000);
        mario.activity.bytes = mario.activity.sentTotal = 3 << 20;
        guest.activity.bytes = guest.activity.receivedTotal = 512 << 10;
        panel.refreshLive(11000);
        QCOMPARE(liveTexts(list->topLevelItem(0)),
                 QStringList({"/film.mkv", "Download", "3,0 MB", "3,0 MB/s", "75%"}));
        QCOMPARE(list->topLevelItem(1)->text(monitor::kOnlineColumns), u"/su.bin"_s);
        QCOMPARE(w.ratesText(), u"Upload: 512 KB/s  Download: 3,0 MB/s"_s);
        // A limited transfer shows its limit beside its speed, from the
        // event that started it.
        events::TransferEvent limited;
        limited.session = {mario.Id(), "192.0.2.5", "mario", events::Protocol::Sftp};
        limited.clientPath = "/film.mkv";
        limited.limitBytesPerSecond = 5 << 20;
        Q_EMIT h.core->notifications().transferStarted(limited);
        mario.activity.bytes = mario.activity.sentTotal = 4 << 20;
        panel.refreshLive(12000);
        QCOMPARE(list->topLevelItem(0)->text(monitor::kOnlineColumns + 3),
                 u"1,0 MB/s (limite 5,0 MB/s)"_s);
        QCOMPARE(list->topLevelItem(1)->text(monitor::kOnlineColumns + 3), u"0 B/s"_s);
        Q_EMIT h.core->notifications().transferFinished(limited);
        mario.activity.bytes = 0;
        mario.activity.direction = kv::session::TransferActivity::Direction::Download;
        panel.refreshLive(13000);
        QCOMPARE(list->topLevelItem(0)->text(monitor::kOnlineColumns + 3), u"0 B/s"_s);
        // The transfer ends: the row keeps no live texts, the rates drop.
        mario.activity.direction = kv::session::TransferActivity::Direction::None;
        panel.refreshLive(14000);
        QCOMPARE(liveTexts(list->topLevelItem(0)), QStringList(5, QString()));
        QCOMPARE(w.ratesText(), u"Upload: 0 B/s  Download: 0 B/s"_s);
        // Both lines end at the graph's right edge (a line needs two polls).
        const QImage graph = panel.graph()->grab().toImage();
        QVERIFY(pixelsNear(graph, panel.graph()->downloadColor(), 12) > 0);
        QVERIFY(pixelsNear(graph, panel.graph()->uploadColor(), 12) > 0);
        w.toolbarClick("kStop");
        QCOMPARE(w.ratesText(), QString());
        h.fakeEngine->connections.clear();
    }

    void columnWidthsRestoredAndScaled() {
        WindowHarness h;
        const QStringList widths = {"1013", "2010", "3000", "1500", "495"};
        for (int i = 0; i < 5; ++i)
            h.settings.setValue(kAppTarrow, kSectionAppIni, QString("OnlineCol%1").arg(i + 1),
                                widths[i]);
        ui::Form1& w = h.window();
        QTreeWidget* list = w.online().list();
        const QList<int> pixels = {68, 134, 200, 100, 33}; // 1013 twips round up
        for (int i = 0; i < 5; ++i)
            QCOMPARE(list->header()->sectionSize(i), i == 1 ? 0 : pixels[i]); // 1: hidden

        list->resize(400, 200); // 6000 twips
        w.online().AdattaColonneOnline();
        list->resize(600, 200); // 9000 twips
        w.online().AdattaColonneOnline();
        QCOMPARE(w.online().columnWidths(),
                 (monitor::ColumnWidths{1519.5, 3015, 4500, 2250, 742.5}));

        w.close();
        QCOMPARE(h.settings.value(kAppTarrow, kSectionAppIni, "OnlineCol1"), u"1519.5"_s);
    }
};

QTEST_MAIN(TestOnlinePanel)
#include "test_onlinepanel.moc"
