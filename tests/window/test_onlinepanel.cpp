#include "tests/support/WindowHarness.h"

#include "access/DataView.h"
#include "tests/support/FakeConnection.h"
#include "window/OnlinePanel.h"
#include "window/RateGraph.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QImage>
#include <QPushButton>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTreeWidget>
#include <memory>

using namespace Qt::StringLiterals;

using namespace kv;
using kv::testing::WindowHarness;

namespace {

// A free loopback port that fits the 16-bit port setting.
quint16 freePort() {
    const quint16 base = 20000 + quint16(QCoreApplication::applicationPid() % 9000);
    for (quint16 p = base; p < base + 200; ++p) {
        QTcpServer probe;
        if (probe.listen(QHostAddress::LocalHost, p))
            return p;
    }
    return 0;
}

// A client that logs in and stays connected.
struct Client {
    QTcpSocket socket;
    QByteArray received;

    bool waitFor(const QByteArray& text) {
        QElapsedTimer t;
        t.start();
        while (!received.contains(text) && t.elapsed() < 5000) {
            if (socket.state() != QAbstractSocket::ConnectedState && !socket.bytesAvailable())
                return false;
            socket.waitForReadyRead(50);
            QCoreApplication::processEvents();
            received += socket.readAll();
        }
        return received.contains(text);
    }
    bool login(quint16 port, const QString& user, const QString& password) {
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (!socket.waitForConnected(3000))
            return false;
        // Each reply awaited, each command sent after it.
        for (const auto& [reply, next] :
             {std::pair<QByteArray, QByteArray>{"220 ", "USER " + user.toUtf8()},
              {"331 ", "PASS " + password.toUtf8()},
              {"230 ", {}}}) {
            if (!waitFor(reply)) {
                qWarning() << "no" << reply << "reply:" << received << socket.errorString();
                return false;
            }
            if (!next.isEmpty())
                socket.write(next + "\r\n");
        }
        return true;
    }
};

struct Online {
    WindowHarness h{WindowHarness::Engine::Real};
    quint16 port = freePort();
    QString marioRoot;

    Online() {
        marioRoot = h.dir.path();
        QSqlQuery q(h.core->database().connection());
        q.prepare("INSERT INTO users (login, password, enabled, read, write, \"delete\", browse, "
                  "manage, rootdir) VALUES (?, ?, 1, ?, ?, ?, ?, ?, ?)");
        const auto add = [&](const QString& login, const QString& password, bool all,
                             const QString& root) {
            q.addBindValue(login);
            q.addBindValue(password);
            for (int i = 0; i < 5; ++i)
                q.addBindValue(all || i == 0 || i == 3);
            q.addBindValue(root);
            if (!q.exec())
                qWarning() << q.lastQuery();
        };
        add("mario", "pw1", true, marioRoot);
        add("anna", "pw2", false, QString());
        h.core->views().openAll();
        h.setRow("ip", "127.0.0.1");
        h.setRow("port", QString::number(port));
        h.setRow("rootdir", h.dir.path());
    }
    ui::Form1& start() {
        ui::Form1& w = h.started();
        w.selectItem(5);
        w.toolbarClick("kStart");
        return w;
    }
    QTreeWidget* list() { return h.window().online().list(); }
    int rowOf(const QString& login) {
        for (int i = 0; i < list()->topLevelItemCount(); ++i)
            if (list()->topLevelItem(i)->text(0) == login)
                return i;
        return -1;
    }
    void click(int row) {
        QTreeWidgetItem* item = list()->topLevelItem(row);
        const QRect r = list()->visualItemRect(item);
        // In the first column: the live columns make the row wider than the list.
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, {r.left() + 10, r.center().y()});
    }
};

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

QStringList liveTexts(const QTreeWidgetItem* item) {
    QStringList texts;
    for (int c = monitor::kOnlineColumns; c < monitor::kOnlineColumns + monitor::kLiveColumns; ++c)
        texts << item->text(c);
    return texts;
}

} // namespace

class TestOnlinePanel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void clientsListedSelectedAndDisconnected() {
        Online o;
        QVERIFY(o.port);
        ui::Form1& w = o.start();
        QCOMPARE(o.h.core->server().ServerState(), 1);
        // Nothing selected: the operator is told.
        w.online().killButton()->click();
        QCOMPARE(o.h.messages.texts(), QStringList{ui::kNoUserSelectedMessage});

        Client mario, anna, third;
        QVERIFY(mario.login(o.port, "mario", "pw1"));
        QTRY_COMPARE(o.list()->topLevelItemCount(), 1);
        QCOMPARE(w.usersText(), u"1 utenti connessi"_s);
        QTreeWidgetItem* row = o.list()->topLevelItem(0);
        QCOMPARE(row->text(0), u"mario"_s);
        QCOMPARE(row->text(1), u"********"_s); // never the password
        QCOMPARE(row->text(2), u"127.0.0.1"_s);
        QCOMPARE(row->text(3), o.marioRoot);
        QCOMPARE(row->text(4), QStringLiteral("File: lettura scrittura cancellazione Cartelle: "
                                              "navigazione scrittura"));
        QVERIFY(anna.login(o.port, "anna", "pw2"));
        QTRY_COMPARE(o.list()->topLevelItemCount(), 2);
        const int a = o.rowOf("anna");
        QCOMPARE(o.list()->topLevelItem(a)->text(3), w.defaultRootText()); // no root of its own
        QCOMPARE(o.list()->topLevelItem(a)->text(4), u"File: lettura Cartelle: navigazione"_s);
        o.click(o.rowOf("mario"));
        QVERIFY(!w.online().rememberedKey().isEmpty());

        // Another login rebuilds the list; the clicked row is selected again.
        QVERIFY(third.login(o.port, "anna", "pw2"));
        QTRY_COMPARE(w.usersText(), u"3 utenti connessi"_s);
        // One account twice from one address: a row for each connection.
        QCOMPARE(o.list()->topLevelItemCount(), 3);
        QCOMPARE(o.list()->selectedItems().size(), 1);
        QCOMPARE(o.list()->selectedItems().first()->text(0), u"mario"_s);
        QCOMPARE(w.selectedOnlineAddress(), std::optional<QString>("127.0.0.1"));

        // A header click sorts (column "Account": anna before mario, who
        // arrived first), and a rebuild keeps the order and the selection.
        QHeaderView* header = o.list()->header();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(0) + 5, header->height() / 2));
        QCOMPARE(o.list()->topLevelItem(0)->text(0), u"anna"_s);
        w.AggiornaUtenti();
        QCOMPARE(o.list()->topLevelItem(0)->text(0), u"anna"_s);
        QCOMPARE(o.list()->selectedItems().first()->text(0), u"mario"_s);

        // Disconnecting the selected client: it leaves, the selection is forgotten.
        w.online().killButton()->click();
        QTRY_COMPARE(o.list()->topLevelItemCount(), 2);
        QVERIFY(mario.waitFor("\r\n") || mario.socket.state() != QAbstractSocket::ConnectedState);
        QTRY_VERIFY(mario.socket.state() != QAbstractSocket::ConnectedState);
        QCOMPARE(o.list()->topLevelItem(0)->text(0), u"anna"_s);
        QCOMPARE(o.list()->topLevelItem(1)->text(0), u"anna"_s);
        QVERIFY(o.list()->selectedItems().isEmpty());
        QCOMPARE(w.online().rememberedKey(), QString());
        QCOMPARE(w.usersText(), u"2 utenti connessi"_s);
        QCOMPARE(anna.socket.state(), QAbstractSocket::ConnectedState);
        QCOMPARE(o.h.messages.shown.size(), 1);

        // Of anna's two connections, Disconnetti ends the selected one only.
        o.click(1);
        w.online().killButton()->click();
        QTRY_COMPARE(o.list()->topLevelItemCount(), 1);
        QTRY_COMPARE(w.usersText(), u"1 utenti connessi"_s);
        const auto connected = [](const Client& c) {
            return c.socket.state() == QAbstractSocket::ConnectedState;
        };
        QTRY_VERIFY(connected(anna) != connected(third));
        w.toolbarClick("kStop");
        QCOMPARE(o.list()->topLevelItemCount(), 0);
        QTRY_COMPARE(w.usersText(), QString());
    }

    // Fed by a fake engine: the live columns, the status bar's totals and the
    // graph follow the counters from one poll to the next. The list shows what
    // tells something: no column of masks, an anonymous client's e-mail on its
    // login, logins no wider than they are (one made 300 pixels wide before),
    // so the transfer columns stay in view in a 900-pixel window.
    void liveTransfersRateGraphAndColumns() {
        WindowHarness h;
        h.settings.setValue(kAppTarrow, kSectionAppIni, "OnlineCol1", "4500");
        ui::Form1& w = h.started();
        w.resize(900, 600);
        w.selectItem(5);
        w.toolbarClick("kStart");
        testing::FakeConnection mario("mario", "pw", "192.0.2.5"),
            guest("anonymous", "io@casa.it", "192.0.2.6");
        mario.activity.direction = engine::TransferActivity::Direction::Download;
        mario.activity.path = "/film.mkv";
        mario.activity.size = 4 << 20;
        guest.activity.direction = engine::TransferActivity::Direction::Upload;
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
        QCOMPARE(liveTexts(list->topLevelItem(1)),
                 QStringList({"/su.bin", "Upload", "512 KB", "512 KB/s", ""}));
        QCOMPARE(w.ratesText(), u"Upload: 512 KB/s  Download: 3,0 MB/s"_s);
        // The transfer ends: the row keeps no live texts, the rates drop.
        mario.activity.direction = engine::TransferActivity::Direction::None;
        panel.refreshLive(12000);
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
        const monitor::ColumnWidths scaled = w.online().columnWidths();
        const QList<double> expected = {1519.5, 3015, 4500, 2250, 742.5};
        for (int i = 0; i < 5; ++i)
            QCOMPARE(scaled[i], expected[i]);

        w.close();
        QCOMPARE(h.settings.value(kAppTarrow, kSectionAppIni, "OnlineCol1"), u"1519.5"_s);
    }
};

QTEST_MAIN(TestOnlinePanel)
#include "test_onlinepanel.moc"
