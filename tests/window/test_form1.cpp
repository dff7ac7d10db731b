#include "tests/support/WindowHarness.h"

#include "access/AccountService.h"
#include "access/DataView.h"
#include "adminchannel/AdminChannel.h"
#include "desktop/WebAddresses.h"
#include "layout/Twips.h"
#include "tests/support/DataRow.h"
#include "tests/support/DbTestSupport.h"
#include "tests/support/FakeConnection.h"
#include "window/HelpBrowser.h"
#include "window/LogPanel.h"
#include "window/OnlinePanel.h"
#include "window/TrayIcon.h"

#include <QCalendarWidget>
#include <QCheckBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QWheelEvent>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QListWidget>
#include <QScrollBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTreeWidget>

using namespace Qt::StringLiterals;

using namespace kv;
using kv::testing::WindowHarness;

namespace {

int visiblePanels(ui::Form1& w) {
    int n = 0;
    for (int i = 0; i < ui::kPanelCount; ++i)
        n += w.picPanel(i)->isVisibleTo(&w) ? 1 : 0;
    return n;
}

QString stored(WindowHarness& h, const QString& name) {
    return h.settings.value(kAppTarrow, kSectionAppIni, name);
}

// Toolbar, status and tray menu all tell the same state. Every panel stays
// usable either way: edits reach a running server through a reload.
void expectOnline(ui::Form1& w, bool online) {
    QCOMPARE(w.startButton()->isEnabled(), !online);
    QCOMPARE(w.stopButton()->isEnabled(), online);
    for (int i = 0; i < 6; ++i)
        QVERIFY(w.picPanel(i)->isEnabled());
    QVERIFY(w.picPanel(2)->findChild<QWidget*>(u"chkIPko"_s)->isEnabled());
    QVERIFY(w.picPanel(2)->findChild<QWidget*>(u"pic_ban_attempts"_s)->isEnabled());
    QVERIFY(w.picPanel(2)->findChild<QWidget*>(u"GridBans"_s)->isEnabled());
    QCOMPARE(w.tray().mnuStart()->isEnabled(), !online);
    QCOMPARE(w.tray().mnuStop()->isEnabled(), online);
    QCOMPARE(w.tray().tip(),
             online ? u"Kestrova Vellim - Online"_s : u"Kestrova Vellim - Offline"_s);
    if (!online)
        QCOMPARE(w.statusText(), u"Offline"_s);
}

// A server another program runs on the same data folder: its own core
// and its administration channel.
struct OtherServer {
    MemorySettingsStore settings;
    testing::FakeEngine* engine = nullptr;
    std::unique_ptr<ProgramCore> core;
    std::unique_ptr<AdminChannel> channel;
    explicit OtherServer(const QString& folder) {
        core = std::make_unique<ProgramCore>(folder, settings, [this] {
            auto made = std::make_unique<testing::FakeEngine>();
            engine = made.get();
            return made;
        });
        engine->setLocalAddress(u"127.0.0.1"_s);
        QVERIFY(core->server().ServerStart());
        channel = std::make_unique<AdminChannel>(*core);
        QCOMPARE(channel->open(), AdminChannel::OpenResult::Listening);
    }
};

// The labels under `root` whose text does not fit the room they were given.
QStringList cutLabels(QWidget* root) {
    QStringList cut;
    for (QLabel* label : root->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(root) || label->text().isEmpty() || !label->pixmap().isNull())
            continue;
        const QSize room = label->contentsRect().size();
        const QSize hint =
            label->sizeHint() -
            QSize(label->contentsMargins().left() + label->contentsMargins().right(),
                  label->contentsMargins().top() + label->contentsMargins().bottom());
        const bool fits = label->wordWrap()
                              ? label->heightForWidth(label->width()) <= label->height()
                              : hint.width() <= room.width() && hint.height() <= room.height();
        if (!fits)
            cut << QStringLiteral("%1 \"%2\" %3x%4 < %5x%6")
                       .arg(label->objectName(), label->text().left(40))
                       .arg(room.width())
                       .arg(room.height())
                       .arg(hint.width())
                       .arg(hint.height());
    }
    return cut;
}

using Shown = decltype(testing::RecordingMessages::shown);

} // namespace

class TestForm1 : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void firstStartAndStoredSize_data() {
        QTest::addColumn<QString>("width");
        QTest::addColumn<QString>("height");
        QTest::addColumn<QSize>("pixels");
        addRow("nothing stored", "", "", QSize(536, 558));
        addRow("whole twips", "9000", "7500", QSize(600, 500));
        addRow("leading number of a text", "9600.4 twips", "7800", QSize(640, 520));
    }
    void firstStartAndStoredSize() {
        QFETCH(QString, width);
        QFETCH(QString, height);
        WindowHarness h;
        if (!width.isEmpty()) {
            h.settings.setValue(kAppTarrow, kSectionAppIni, "Width", width);
            h.settings.setValue(kAppTarrow, kSectionAppIni, "Height", height);
        }
        ui::Form1& w = h.window();
        QTEST(w.size(), "pixels");
        QCOMPARE(w.windowTitle(), u"Kestrova Vellim 1.0.0"_s);
        QCOMPARE(w.usersText(), QString());
        QCOMPARE(w.menuList()->count(), 6);
        QVERIFY(!w.alreadyActivated());
        expectOnline(w, false);
    }

    void navigationShowsExactlyOnePanel() {
        WindowHarness h;
        ui::Form1& w = h.started();
        QVERIFY(w.alreadyActivated());
        QCOMPARE(visiblePanels(w), 1);
        QCOMPARE(w.titleText(), u"Account"_s);
        const char* titles[] = {"Account", "Impostazioni", "Sicurezza", "Log", "Online", "Help"};
        for (int position = 1; position <= 6; ++position) {
            w.selectItem(position);
            QCOMPARE(visiblePanels(w), 1);
            QVERIFY(w.picPanel(position - 1)->isVisibleTo(&w));
            QCOMPARE(w.titleText(), QString::fromLatin1(titles[position - 1]));
            QCOMPARE(w.PannelloCorrente(), position - 1);
            QCOMPARE(w.menuList()->currentRow(), position - 1);
        }
        // Clicking an item of the list does the same.
        for (int row : {2, 0}) {
            const QRect r = w.menuList()->visualItemRect(w.menuList()->item(row));
            QTest::mouseClick(w.menuList()->viewport(), Qt::LeftButton, {}, r.center());
            QCOMPARE(w.PannelloCorrente(), row);
            QCOMPARE(visiblePanels(w), 1);
            QCOMPARE(w.titleText(), QString::fromLatin1(titles[row]));
        }
        // So do the arrow keys, moving through the list.
        w.menuList()->setFocus();
        QTest::keyClick(w.menuList(), Qt::Key_Down);
        QCOMPARE(w.PannelloCorrente(), 1);
        QVERIFY(w.picPanel(1)->isVisibleTo(&w));
        QCOMPARE(w.titleText(), u"Impostazioni"_s);
        QTest::keyClick(w.menuList(), Qt::Key_End);
        QCOMPARE(w.PannelloCorrente(), 5);
        QTest::keyClick(w.menuList(), Qt::Key_Up);
        QCOMPARE(w.titleText(), u"Online"_s);
        QCOMPARE(visiblePanels(w), 1);
        QVERIFY(w.menuList()->hasFocus() || !QApplication::focusWidget());
    }

    // The account groups follow the current account, also while the server
    // runs and after it stopped.
    void accountGroupsFollowTheAccountAcrossAServerRun() {
        WindowHarness h;
        ui::Form1& w = h.started();
        auto* login = w.findChild<QLineEdit*>(u"txtLogin"_s);
        auto* folders = w.findChild<QWidget*>(u"cmdUserVirtual"_s);
        QVERIFY(!login->isEnabled() && !folders->isEnabled());
        w.toolbarClick(u"kStart"_s);
        w.findChild<QPushButton*>(u"cmdAdd"_s)->click();
        QVERIFY(login->isEnabled() && folders->isEnabled());
        QTest::keyClicks(login, u"mario"_s); // a new account without a login is not kept
        QTest::keyClick(login, Qt::Key_Return);
        w.toolbarClick(u"kStop"_s);
        QVERIFY(login->isEnabled() && folders->isEnabled());
        h.core->views().Data1().Delete();
        w.toolbarClick(u"kStart"_s);
        w.toolbarClick(u"kStop"_s);
        QVERIFY(!login->isEnabled() && !folders->isEnabled());
    }

    // An account's limit set in the "Limiti" group is written at once, and
    // the window has its running server reread it: the limits in force follow.
    void limitsReachTheRunningServer() {
        WindowHarness h;
        h.setRow("ip", "127.0.0.1");
        access::AccountService accounts(h.core->database().connection());
        QCOMPARE(accounts.addAccount(u"mario"_s, u"segreta"_s, {}), std::nullopt);
        h.core->views().Data1().Refresh();
        ui::Form1& w = h.started();
        w.toolbarClick(u"kStart"_s);
        QCOMPARE(h.core->server().ServerState(), 1);
        w.selectItem(0);
        const qint32 id = qint32(accounts.accountId(u"mario"_s).value_or(-1));
        const QDate last = QDate::currentDate().addDays(10);
        Q_EMIT w.findChild<QDateEdit*>(u"dtExpires"_s)->calendarWidget()->clicked(last);
        QCOMPARE(h.core->limitsBook().account(id).expires, QDate()); // after the click
        QCoreApplication::processEvents();                           // no focus moved meanwhile
        QCOMPARE(h.core->limitsBook().account(id).expires, last);
        QVERIFY(w.logPanel().logText().contains(u"Modifiche applicate dal server\r\n"_s));
        QVERIFY(h.messages.shown.isEmpty());
    }

    // The Limiti group tells the space an account with a quota uses, as kept
    // in accounts.dat before any server ran, and which accounts share its folders.
    void quotaUsageAndOverlapsShowInTheAccountPanel() {
        WindowHarness h;
        QTemporaryDir shared;
        QFile file(shared.filePath(u"a.bin"_s));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(3000, 'x')) == 3000);
        file.close();
        access::AccountService accounts(h.core->database().connection());
        access::AccountFields fields;
        fields.root = shared.path();
        fields.limits.quotaBytes = 1024 * 1024;
        QCOMPARE(accounts.addAccount(u"mario"_s, u"segreta"_s, fields), std::nullopt);
        fields.limits = {};
        QCOMPARE(accounts.addAccount(u"luigi"_s, u"segreta"_s, fields), std::nullopt);
        h.core->views().Data1().Refresh();
        const qint32 mario = qint32(accounts.accountId(u"mario"_s).value_or(-1));
        ui::Form1& w = h.started();
        w.selectItem(0);
        auto* usage = w.findChild<QLabel*>(u"lblQuotaUsage"_s);
        QVERIFY(usage);
        QVERIFY2(usage->text().contains(u"non ancora contato"_s), qPrintable(usage->text()));
        QCOMPARE(h.core->quotaTable().scanNow(mario).bytes, 3000);
        h.core->views().Data1().Refresh(); // the panel shows the account again
        QVERIFY2(usage->text().contains(u"1 file"_s), qPrintable(usage->text()));
        QVERIFY2(usage->text().contains(u"%"_s), qPrintable(usage->text()));
        const QString overlap = w.findChild<QLabel*>(u"lblQuotaOverlap"_s)->text();
        QVERIFY2(overlap.contains(u"luigi"_s), qPrintable(overlap));
    }

    // While the window's own server runs, an account typed in the panel is
    // saved once the focus leaves it and the next login finds it; a setting
    // reaches the server through a reload, which says whether it applied.
    void editsReachTheRunningServer() {
        WindowHarness h;
        h.setRow("ip", "127.0.0.1");
        ui::Form1& w = h.started();
        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.toolbarClick(u"kStart"_s);
        QCOMPARE(h.core->server().ServerState(), 1);
        const auto type = [&w](const QString& box, const QString& text) {
            auto* edit = w.findChild<QLineEdit*>(box);
            edit->setFocus(Qt::TabFocusReason);
            edit->selectAll();
            QTest::keyClicks(edit, text);
        };
        // A new account left without a login is not kept when the focus goes.
        w.findChild<QPushButton*>(u"cmdAdd"_s)->click();
        w.menuList()->setFocus(Qt::TabFocusReason);
        QCOMPARE(testing::texts(testing::column(h.dir.filePath(u"accounts.dat"_s),
                                                u"SELECT count(*) FROM users"_s)),
                 QStringList{u"0"_s});
        w.selectItem(0);
        w.findChild<QPushButton*>(u"cmdAdd"_s)->click();
        type(u"txtLogin"_s, u"mario"_s);
        type(u"txtPassword"_s, u"segreta"_s);
        QVERIFY(w.findChild<QCheckBox*>(u"chkAbilitato"_s)->isChecked()); // new accounts work
        testing::FakeConnection mario(u"MARIO"_s, u"segreta"_s);          // logins ignore case
        QCOMPARE(h.core->login().LoginRequest(mario).outcome,
                 kv::session::LoginDecision::Outcome::Refused);
        w.menuList()->setFocus(Qt::TabFocusReason); // the focus leaves the panel
        const kv::session::LoginDecision decision = h.core->login().LoginRequest(mario);
        QVERIFY2(decision.grant, qPrintable(decision.reason));
        QCOMPARE(decision.grant->rights.letters(), u"RB"_s);
        QCOMPARE(h.fakeEngine->relistenCalls, 0); // accounts need no reload

        w.selectItem(2);
        type(u"Text2"_s, u"240"_s);
        w.menuList()->setFocus(Qt::TabFocusReason);
        QCOMPARE(h.fakeEngine->relistenCalls, 1);
        QCOMPARE(h.fakeEngine->Timeout(), 240);
        QVERIFY(w.logPanel().logText().contains(u"] SERVER RELOAD ON IP 127.0.0.1"_s));
        QVERIFY(w.logPanel().logText().contains(u"Modifiche applicate dal server\r\n"_s));
        QVERIFY(h.messages.shown.isEmpty());

        // A reload the server cannot follow keeps it as it was, and says why.
        h.fakeEngine->listenResult = false;
        h.fakeEngine->listenError = u"porta occupata"_s;
        type(u"Text2"_s, u"250"_s);
        w.menuList()->setFocus(Qt::TabFocusReason);
        QCOMPARE(h.fakeEngine->relistenCalls, 2);
        QCOMPARE(
            h.messages.texts(),
            QStringList{u"Modifiche salvate, ma il server non le ha applicate: porta occupata"_s});
        QVERIFY(w.logPanel().logText().contains(u"SERVER RELOAD FAILED: porta occupata"_s));
        QCOMPARE(h.core->server().ServerState(), 1);
        h.fakeEngine->listenResult = true;
    }

    void resizeStoresOnlyTheNormalSize() {
        WindowHarness h;
        ui::Form1& w = h.started();
        w.resize(700, 520);
        QTRY_COMPARE(stored(h, "Width"), u"10500"_s);
        QCOMPARE(stored(h, "Height"), u"7800"_s);
        // The layout follows the window: the viewport grows with it.
        const int viewportWidth = w.viewport()->width();
        w.resize(760, 520);
        QTRY_COMPARE(w.viewport()->width(), viewportWidth + 60);
        QCOMPARE(stored(h, "Width"), u"11400"_s);

        w.showMaximized();
        QTRY_VERIFY(w.isMaximized());
        w.Form_Resize();
        QCOMPARE(stored(h, "Width"), u"11400"_s);
        QCOMPARE(stored(h, "Height"), u"7800"_s);
    }

    // The start notice is closed with its close box, which stores only a ticked choice.
    void startAndStopShowTheState() {
        WindowHarness h;
        h.setRow("ip", "127.0.0.1");
        h.options.showNotice = [&h](ui::StartNotice& notice) {
            ++h.notices;
            notice.check()->setChecked(h.tickNotice);
            notice.show();
            notice.close();
        };
        ui::Form1& w = h.started();
        h.fakeEngine->setLocalAddress(QString());
        // The toolbar commits pending edits first.
        access::DataView& row = h.core->views().Data2();
        QVERIFY(row.Edit());
        QVERIFY(row.setField("port", "2121"));
        w.toolbarClick(u"kStart"_s);
        QCOMPARE(stored(h, "NoShow1"), QString()); // the notice closed without the tick
        QVERIFY(!row.isDirty());
        QCOMPARE(h.fakeEngine->Port(), qint16(2121));
        QCOMPARE(h.core->server().ServerState(), 1);
        expectOnline(w, true);
        QCOMPARE(w.statusText(), u"Online: 127.0.0.1"_s);
        QVERIFY(w.logPanel().logText().contains("] SERVER START ON IP 127.0.0.1\r\n"));

        w.toolbarClick(u"kStop"_s);
        QCOMPARE(h.core->server().ServerState(), 0);
        expectOnline(w, false);
        QVERIFY(w.logPanel().logText().endsWith("] SERVER STOP\r\n"));
        QVERIFY(h.messages.shown.isEmpty());

        // A failing start is reported once and changes nothing.
        const QString logBefore = w.logPanel().logText();
        h.fakeEngine->listenResult = false;
        w.toolbarClick(u"kStart"_s);
        QCOMPARE(h.messages.shown, (Shown{{kStartFailedMessage, MessageIcon::Exclamation}}));
        QCOMPARE(h.core->server().ServerState(), 0);
        expectOnline(w, false);
        QCOMPARE(w.logPanel().logText(), logBefore);
        QCOMPARE(h.notices, 1); // only the successful start showed it

        // Once ticked, the notice is shown no more.
        h.fakeEngine->listenResult = true;
        h.tickNotice = true;
        w.toolbarClick(u"kStart"_s);
        QCOMPARE(stored(h, "NoShow1"), u"1"_s);
        w.toolbarClick(u"kStop"_s);
        w.toolbarClick(u"kStart"_s);
        QCOMPARE(h.notices, 2);
    }

    void automaticStartWhileMinimisedToTheTray() {
        WindowHarness h(WindowHarness::Engine::Fake, true);
        h.setRow("ip", "127.0.0.1");
        h.setRow("minimized", "1");
        h.setRow("start", true);
        ui::Form1& w = h.started();
        QVERIFY(w.inTray() && !w.isVisible());
        QCOMPARE(h.core->server().ServerState(), 1);
        QCOMPARE(h.notices, 0); // hidden: no notice
        expectOnline(w, true);
        // A second activation starts nothing again.
        w.Form_Activate();
        QCOMPARE(h.fakeEngine->listenCalls, 1);
    }

    void withoutATrayTheWindowStaysReachable() {
        WindowHarness h(WindowHarness::Engine::Fake, false);
        h.setRow("ip", "127.0.0.1");
        h.setRow("minimized", "1");
        ui::Form1& w = h.started();
        QVERIFY(w.isVisible() && !w.inTray() && !w.tray().shown());
        w.showMinimized();
        QVERIFY(w.isVisible() && !w.inTray() && !w.tray().shown());
    }

    void trayMenuStartsAndRestores() {
        WindowHarness h(WindowHarness::Engine::Fake, true);
        h.setRow("ip", "127.0.0.1");
        ui::Form1& w = h.started();
        w.resize(640, 560);
        const QString width = stored(h, "Width");
        w.showMinimized();
        QTRY_VERIFY(w.inTray() && !w.isVisible());
        QCOMPARE(stored(h, "Width"), width); // minimising stores nothing
        QVERIFY(!w.tray().showsOnline());
        expectOnline(w, false);

        w.tray().mnuStart()->trigger();
        QCOMPARE(h.core->server().ServerState(), 1);
        QCOMPARE(h.notices, 0);
        QVERIFY(w.tray().showsOnline());
        expectOnline(w, true);

        w.tray().mnuRipristina()->trigger();
        QVERIFY(w.isVisible() && !w.inTray() && !w.tray().shown());
        QCOMPARE(w.size(), QSize(640, 560));
    }

    // An older file's empty root is not turned into "/" behind the
    // operator's back: it stays empty and the settings panel warns; an empty
    // port gets the usual one.
    void emptyRootKeptAndPortFilledAtActivation() {
        WindowHarness h;
        h.setRow("rootdir", QString());
        ui::Form1& w = h.started();
        access::DataView& row = h.core->views().Data2();
        QCOMPARE(row.Field("rootdir"), QString());
        QVERIFY(!row.isDirty());
        w.Form_Activate();
        QCOMPARE(row.Field("rootdir"), QString());
        auto* warning = w.findChild<QLabel*>(u"lblWholeDisk"_s);
        QVERIFY(warning && !warning->isHidden());

        WindowHarness other; // the port choice itself is tested without a window
        other.setRow("port", QString());
        other.started();
        QCOMPARE(other.core->views().Data2().Field("port"), u"21"_s);
    }

    void unusableDatabaseIsReportedOnce() {
        WindowHarness h(WindowHarness::Engine::Fake, false, [](const QString& dir) {
            QFile f(dir + "/accounts.dat");
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("not a database at all");
        });
        QVERIFY(!h.core->databaseProblem().isEmpty());
        ui::Form1& w = h.started();
        w.Form_Activate();
        QCOMPARE(h.messages.shown, (Shown{{h.core->databaseProblem(), MessageIcon::Exclamation}}));
        QCOMPARE(h.core->views().Data1().RecordCount(), 0);
    }

    void helpPanelNavigation() {
        WindowHarness h;
        ui::Form1& w = h.started();
        QCOMPARE(w.helpBrowser().address(), u"about:blank"_s);
        w.selectItem(6);
        const QString help = shell::helpPageAddress(1, 0, 0);
        QCOMPARE(w.helpBrowser().address(), help);
        QVERIFY(w.helpBrowser().toPlainText().contains("Kestrova Vellim"));
        QVERIFY(!w.scrollBar()->isVisible());
        // An activation blanks it; the next layout goes back to the help page.
        w.Form_Activate();
        QCOMPARE(w.helpBrowser().address(), u"about:blank"_s);
        w.selectItem(6);
        QCOMPARE(w.helpBrowser().address(), help);

        // Returning from another program is no activation; from one of the
        // program's own windows it is.
        Q_EMIT qApp->focusWindowChanged(nullptr);
        QEvent activate(QEvent::WindowActivate);
        QCoreApplication::sendEvent(&w, &activate);
        QCOMPARE(w.helpBrowser().address(), help);
        QCoreApplication::sendEvent(&w, &activate);
        QCOMPARE(w.helpBrowser().address(), u"about:blank"_s);
        w.selectItem(6);

        // Links to other sites open outside; the help's own pages inside.
        Q_EMIT w.helpBrowser().anchorClicked(QUrl("https://www.example.org/"));
        QCOMPARE(h.opened, QStringList{"https://www.example.org/|"});
        Q_EMIT w.helpBrowser().anchorClicked(QUrl("log.html"));
        QVERIFY(w.helpBrowser().address().endsWith("/ftpserver/log.html"));
        QCOMPARE(h.opened.size(), 1);

        // A page of the help stays where it is and is reloaded.
        w.helpBrowser().navigate(shell::homePageAddress() + "/ftpserver/online.html");
        QVERIFY(w.helpBrowser().toPlainText().contains("Disconnetti account"));
        w.selectItem(6);
        QVERIFY(w.helpBrowser().address().endsWith("online.html"));
        w.selectItem(1);
        QVERIFY(w.scrollBar()->isVisible());
        h.opened.clear();
        w.imgBanner_Click(); // the maker's home page
        QCOMPARE(h.opened, QStringList{shell::homePageAddress() + "|" + h.dir.path()});
    }

    // The window is sized while hidden, when nothing can be laid out; the
    // viewport's scroll bar must still stand at its right edge once shown,
    // not in its corner at a size of its own, when no resize follows.
    void scrollBarPlacedWhenFirstShown() {
        WindowHarness h;
        ui::Form1& w = h.window();
        w.show();
        const QScrollBar* bar = w.scrollBar();
        const QWidget* viewport = bar->parentWidget();
        QVERIFY(bar->isVisible());
        QVERIFY2(bar->x() > viewport->width() / 2, qPrintable(QString::number(bar->x())));
        QVERIFY(bar->geometry().right() < viewport->width());
        QVERIFY(bar->height() > viewport->height() / 2);
    }

    // The scroll bar moves the shown panel; a control that gets the focus
    // below (or above) the visible part of the panel is scrolled into view.
    void scrollBarAndFocusMoveTheShownPanel() {
        WindowHarness h;
        ui::Form1& w = h.started();
        w.resize(w.minimumSize());
        w.selectItem(4); // the log panel fits any height: its box follows the viewport
        QVERIFY(!w.scrollBar()->isEnabled());
        QWidget* panel = w.picPanel(0);
        w.selectItem(1);
        QVERIFY(w.scrollBar()->isEnabled()); // the account panel is taller than the window
        w.scrollBar()->setValue(w.scrollBar()->maximum());
        QVERIFY(panel->y() < 0);
        w.OrdinaPannello(0);
        QCOMPARE(panel->y(), 0); // laid out again from the top
        QCOMPARE(w.scrollBar()->value(), 0);

        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));
        const auto shown = [&w](QWidget* control) { // from top to bottom
            const int top = control->mapTo(w.viewport(), QPoint(0, 0)).y();
            return top >= 0 && top + control->height() <= w.viewport()->height();
        };
        auto* last = w.findChild<QPushButton*>(u"cmdVirtualAnonymous"_s);
        QVERIFY(!shown(last));
        last->setFocus(Qt::TabFocusReason);
        QVERIFY(shown(last));
        QVERIFY(w.scrollBar()->value() > 0);
        auto* first = w.findChild<QWidget*>(u"chkAnonymous"_s);
        QTest::keyClick(last, Qt::Key_Tab); // Tab goes on from the last control
        QVERIFY(w.focusWidget() != last);
        first->setFocus(Qt::BacktabFocusReason);
        QVERIFY(shown(first));

        // The account grid lets Tab and Shift+Tab out, to the controls around it.
        w.scrollBar()->setValue(0);
        access::DataView& users = h.core->views().Data1();
        QVERIFY(users.AddNew() && users.Update());
        auto* grid = w.findChild<QTableView*>(u"DBGrid1"_s);
        grid->setFocus(Qt::TabFocusReason);
        QTest::keyClick(grid, Qt::Key_Tab);
        QVERIFY(!grid->hasFocus());
        grid->setFocus(Qt::TabFocusReason);
        QTest::keyClick(grid, Qt::Key_Backtab, Qt::ShiftModifier);
        QVERIFY(!grid->hasFocus());

        // A panel shown after a scrolled one starts at its top, bar included,
        // and the first wheel step moves it one step from there.
        w.scrollBar()->setValue(w.scrollBar()->maximum());
        w.selectItem(3);
        QWidget* security = w.picPanel(2);
        QCOMPARE(security->y(), 0);
        QCOMPARE(w.scrollBar()->value(), 0);
        QVERIFY(w.scrollBar()->isEnabled());
        const QPointF at(10, 10);
        QWheelEvent wheel(at, w.viewport()->mapToGlobal(at), {}, QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(w.viewport(), &wheel);
        QVERIFY(w.scrollBar()->value() > 0);
        QVERIFY(w.scrollBar()->value() <= 3 * w.scrollBar()->singleStep());
        QCOMPARE(security->y(), -twipsToPixels(w.scrollBar()->value()));
    }

    // Every label shows its whole text at the default size, in each panel
    // and in the status bar with large figures.
    void labelsShowTheirWholeText() {
        WindowHarness h;
        h.setRow("ip", "127.0.0.1");
        ui::Form1& w = h.started();
        for (int position = 1; position <= 5; ++position) {
            w.selectItem(position);
            const QStringList cut = cutLabels(w.picPanel(position - 1));
            QVERIFY2(cut.isEmpty(), qPrintable(cut.join(u"; ")));
        }
        w.toolbarClick(u"kStart"_s);
        testing::FakeConnection one, two;
        h.fakeEngine->connections = {&one, &two};
        w.ShowUsersNumber();
        Q_EMIT w.online().ratesChanged(u"Upload: 10,9 MB/s  Download: 10,9 MB/s"_s);
        QTRY_VERIFY2(cutLabels(w.statusBar()).isEmpty(),
                     qPrintable(cutLabels(w.statusBar()).join(u"; ")));
        QCOMPARE(w.usersText(), u"2 utenti connessi"_s);
        h.fakeEngine->connections.clear();

        // The banner never covers the toolbar's buttons, down to the smallest window.
        auto* toolbar = w.findChild<QToolBar*>(u"Toolbar1"_s);
        auto* banner = w.findChild<QWidget*>(u"picBanner"_s);
        for (const QSize size : {QSize(536, 558), w.minimumSize()}) {
            w.resize(size);
            for (QAction* button : toolbar->actions()) {
                QWidget* shown = toolbar->widgetForAction(button);
                const QRect place(shown->mapTo(&w, QPoint(0, 0)), shown->size());
                QVERIFY2(!place.intersects(banner->geometry()), qPrintable(button->iconText()));
            }
        }
    }

    void keyboardShortcuts() {
        WindowHarness h;
        h.setRow("ip", "127.0.0.1");
        ui::Form1& w = h.started();
        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QCOMPARE(w.PannelloCorrente(), 0);
        QTest::keyClick(w.menuList(), Qt::Key_F1);
        QCOMPARE(w.PannelloCorrente(), 5);
        QCOMPARE(w.titleText(), u"Help"_s);

        // Start and Stop carry mnemonics, underlined on their buttons.
        auto* toolbar = w.findChild<QToolBar*>(u"Toolbar1"_s);
        auto* start = qobject_cast<QToolButton*>(toolbar->widgetForAction(w.startButton()));
        auto* stop = qobject_cast<QToolButton*>(toolbar->widgetForAction(w.stopButton()));
        QCOMPARE((QStringList{start->text(), stop->text()}), (QStringList{"&Start", "S&top"}));
        QTest::keyClick(&w, Qt::Key_S, Qt::AltModifier);
        QTRY_COMPARE(h.core->server().ServerState(), 1);
        QTest::keyClick(&w, Qt::Key_T, Qt::AltModifier);
        QTRY_COMPARE(h.core->server().ServerState(), 0);
    }

    // Stop and closing ask first while clients are connected, saying how many
    // and how many transfers run; "No" leaves everything running.
    void disruptiveActionsAskFirst_data() {
        QTest::addColumn<int>("clients");
        QTest::addColumn<int>("transfers");
        QTest::addColumn<QString>("stopQuestion");
        QTest::newRow("nobody") << 0 << 0 << QString();
        QTest::newRow("one idle")
            << 1 << 0
            << u"C'è 1 client connesso.\nArrestando il server i client verranno disconnessi."
               "\n\nArrestare il server?"_s;
        QTest::newRow("three, two moving")
            << 3 << 2
            << u"Ci sono 3 client connessi, con 2 trasferimenti in corso.\nArrestando il "
               "server i client verranno disconnessi e i trasferimenti interrotti.\n\n"
               "Arrestare il server?"_s;
    }
    // Another program's server on the window's folder: attached, not doubled.
    void attachesToTheServerAlreadyOnItsFolder() {
        WindowHarness h;
        h.setRow("ip", "127.0.0.1");
        OtherServer other(h.dir.path());
        testing::FakeConnection bob("bob", "x", "10.1.2.3");
        bob.setGrant(std::make_shared<files::LoginGrant>());
        other.engine->connections = {&bob};
        h.setRow("start", true); // even told to start, it starts nothing of its own
        ui::Form1& w = h.started();
        QTRY_VERIFY_WITH_TIMEOUT(w.isAttached(), 5000);
        QCOMPARE(h.core->server().ServerState(), 0);
        QCOMPARE(w.statusText(),
                 u"Online: 127.0.0.1 (PID %1)"_s.arg(QCoreApplication::applicationPid()));
        QCOMPARE(
            w.statusToolTip(),
            u"Server in funzione su 127.0.0.1 (altra finestra o server senza finestra, PID %1)"_s
                .arg(QCoreApplication::applicationPid()));
        QVERIFY(!w.startButton()->isEnabled() && !w.stopButton()->isEnabled());
        QVERIFY(w.stopButton()->toolTip().contains(u"altro programma"_s));
        QVERIFY(!w.tray().mnuStop()->isEnabled());
        // Edits reach the server through accounts.dat and a reload.
        for (int i = 0; i < 3; ++i)
            QVERIFY(w.picPanel(i)->isEnabled());
        QVERIFY(w.picPanel(2)->findChild<QWidget*>(u"chkIPko"_s)->isEnabled());
        QVERIFY(w.logPanel().logText().contains(u"Collegato al server già in funzione"_s));

        QTRY_COMPARE_WITH_TIMEOUT(w.online().list()->topLevelItemCount(), 1, 5000);
        QCOMPARE(w.online().list()->topLevelItem(0)->text(2), u"10.1.2.3"_s);
        QCOMPARE(w.usersText(), u"1 utenti connessi"_s);

        // Stop cannot reach it; Disconnetti can.
        w.toolbarClick(u"kStop"_s);
        w.mnuStop_Click();
        QCOMPARE(other.core->server().ServerState(), 1);
        w.online().list()->setCurrentItem(w.online().list()->topLevelItem(0));
        w.online().killButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(bob.disconnects, 1, 5000);

        // The banned addresses are the server's, and Sblocca lifts them there.
        other.core->loginBans().ban(u"10.9.9.9"_s, 600000);
        auto* bans = w.picPanel(2)->findChild<QTableWidget*>(u"GridBans"_s);
        QTRY_COMPARE_WITH_TIMEOUT(bans->rowCount(), 1, 5000);
        QCOMPARE(bans->item(0, 0)->text(), u"10.9.9.9"_s);
        bans->selectRow(0);
        w.picPanel(2)->findChild<QPushButton*>(u"cmdUnban"_s)->click();
        QTRY_COMPARE_WITH_TIMEOUT(bans->rowCount(), 0, 5000);
        QVERIFY(!other.core->loginBans().isBanned(u"10.9.9.9"_s));

        QVERIFY(!w.logPanel().logText().contains(u"Modifiche"_s)); // nothing written yet
        h.setRow("timeout", "240");
        QTRY_VERIFY_WITH_TIMEOUT(w.logPanel().logText().contains(u"Modifiche applicate"_s), 5000);
        QCOMPARE(other.core->views().Data2().Field(u"timeout"_s), u"240"_s);
        QVERIFY(h.messages.shown.isEmpty());

        // Closing the window leaves the server running, without asking.
        w.close();
        QVERIFY(h.messages.asked.isEmpty());
        QCOMPARE(other.core->server().ServerState(), 1);
        other.engine->connections.clear();
    }

    void serverGoingAwayOffersStart() {
        WindowHarness h;
        h.setRow("ip", "127.0.0.1");
        auto other = std::make_unique<OtherServer>(h.dir.path());
        ui::Form1& w = h.started();
        QTRY_VERIFY_WITH_TIMEOUT(w.isAttached(), 5000);
        // A reload the server cannot apply is said, with its reason.
        other->core->server().ServerStop();
        h.setRow("timeout", "250");
        QTRY_COMPARE_WITH_TIMEOUT(h.messages.shown.size(), 1, 5000);
        QVERIFY(h.messages.texts().first().contains(u"Il server non è in funzione"_s));
        other.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!w.isAttached(), 5000);
        QCOMPARE(w.statusText(), u"Offline: il server collegato si è fermato"_s);
        QVERIFY(w.logPanel().logText().contains(u"Il server collegato si è fermato"_s));
        QVERIFY(w.startButton()->isEnabled() && !w.stopButton()->isEnabled());
        QCOMPARE(w.stopButton()->toolTip(), u"Arresta il server (Alt+T)"_s);
        QCOMPARE(w.online().list()->topLevelItemCount(), 0);

        // Start now runs the window's own server, which serves the channel in turn.
        w.toolbarClick(u"kStart"_s);
        QCOMPARE(h.core->server().ServerState(), 1);
        expectOnline(w, true);
        QVERIFY(QFile::exists(h.dir.path() + u"/kestrova.sock"_s));
        w.toolbarClick(u"kStop"_s);
        QVERIFY(!QFile::exists(h.dir.path() + u"/kestrova.sock"_s));
    }

    // The system service's folder is the service's: when its server stops the
    // window says how to start it again and starts no server of its own, and
    // it attaches again once the service is back. What the status bar says
    // fits there at the default size.
    void serviceFolderWaitsForTheService() {
        WindowHarness h;
        // A long address, so that the status bar's fit is tried.
        h.setRow("ip", "192.168.100.200");
        h.options.serviceFolder = h.dir.path();
        auto service = std::make_unique<OtherServer>(h.dir.path());
        ui::Form1& w = h.started();
        QTRY_VERIFY_WITH_TIMEOUT(w.isAttached(), 5000);
        Q_EMIT w.online().ratesChanged(u"Upload: 10,9 MB/s  Download: 10,9 MB/s"_s);
        QTRY_VERIFY2(cutLabels(w.statusBar()).isEmpty(),
                     qPrintable(cutLabels(w.statusBar()).join(u"; ")));
        QCOMPARE(w.statusText(), u"Online: 192.168.100.200 (servizio)"_s);
        QVERIFY(w.stopButton()->toolTip().contains(u"sudo systemctl stop kestrova"_s));

        service.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!w.isAttached(), 5000);
        const QString howToStart = u"sudo systemctl start kestrova"_s;
        QCOMPARE(w.statusText(), u"Offline: servizio fermo (%1)"_s.arg(howToStart));
        QVERIFY(!w.startButton()->isEnabled() && !w.stopButton()->isEnabled());
        QVERIFY(!w.tray().mnuStart()->isEnabled());
        QVERIFY(w.startButton()->toolTip().contains(u"servizio di sistema"_s));
        QVERIFY(w.startButton()->toolTip().contains(howToStart));
        QVERIFY(w.logPanel().logText().contains(
            u"Il servizio di sistema si è fermato. Per avviarlo di nuovo: %1"_s.arg(howToStart)));
        QTRY_VERIFY2(cutLabels(w.statusBar()).isEmpty(),
                     qPrintable(cutLabels(w.statusBar()).join(u"; ")));
        // Nothing starts a server of the window's own on the service's folder.
        w.toolbarClick(u"kStart"_s);
        w.mnuStart_Click();
        QTest::qWait(1200); // a turn of the look for the service
        QCOMPARE(h.core->server().ServerState(), 0);
        QVERIFY(!QFile::exists(h.dir.path() + u"/kestrova.sock"_s));
        QVERIFY(h.messages.shown.isEmpty());

        service = std::make_unique<OtherServer>(h.dir.path());
        QTRY_VERIFY_WITH_TIMEOUT(w.isAttached(), 5000);
        QCOMPARE(w.statusText(), u"Online: 192.168.100.200 (servizio)"_s);
        QCOMPARE(w.startButton()->toolTip(), u"Avvia il server (Alt+S)"_s);
        QCOMPARE(h.core->server().ServerState(), 0);
    }

    // Opened on the service's folder while the service is stopped, the window
    // starts nothing, even told to, and attaches once the service runs.
    void serviceFolderOpenedWhileTheServiceIsStopped() {
        WindowHarness h;
        h.setRow("ip", "127.0.0.1");
        h.setRow("start", true);
        h.options.serviceFolder = h.dir.path();
        ui::Form1& w = h.started();
        QCOMPARE(h.core->server().ServerState(), 0);
        QVERIFY(!w.startButton()->isEnabled());
        QCOMPARE(w.statusText(), u"Offline: servizio fermo (sudo systemctl start kestrova)"_s);
        QVERIFY(w.logPanel().logText().contains(u"Il servizio di sistema non è in funzione su"_s));
        OtherServer service(h.dir.path());
        QTRY_VERIFY_WITH_TIMEOUT(w.isAttached(), 5000);
        QCOMPARE(w.statusText(), u"Online: 127.0.0.1 (servizio)"_s);
        w.close();
    }

    void disruptiveActionsAskFirst() {
        QFETCH(int, clients);
        QFETCH(int, transfers);
        QFETCH(QString, stopQuestion);
        WindowHarness h;
        h.setRow("ip", "127.0.0.1");
        ui::Form1& w = h.started();
        w.toolbarClick(u"kStart"_s);
        std::vector<std::unique_ptr<testing::FakeConnection>> fakes;
        for (int i = 0; i < clients; ++i) {
            fakes.push_back(std::make_unique<testing::FakeConnection>());
            if (i < transfers)
                fakes.back()->activity.direction = kv::session::TransferActivity::Direction::Upload;
            h.fakeEngine->connections.append(fakes.back().get());
        }
        const QStringList asked =
            stopQuestion.isEmpty() ? QStringList{} : QStringList{stopQuestion};
        h.messages.answer = false;
        w.stopButton()->trigger();
        w.tray().mnuStop()->trigger();
        QCOMPARE(h.messages.asked, asked + asked);
        QCOMPARE(h.core->server().ServerState(), clients ? 1 : 0);
        if (!clients)
            w.toolbarClick(u"kStart"_s);

        h.messages.asked.clear();
        w.close();
        QCOMPARE(h.messages.asked.size(), clients ? 1 : 0);
        if (clients) {
            QVERIFY(h.messages.asked.first().contains(u"Chiudere il programma?"_s));
            QVERIFY(w.isVisible());
            QCOMPARE(h.fakeEngine->stopCalls, 0);
            h.messages.answer = true;
            w.tray().mnuEsci()->trigger(); // the tray's "Esci" closes the same way
            QCOMPARE(h.messages.asked.size(), 2);
        }
        QVERIFY(!w.isVisible());
        QCOMPARE(h.core->server().ServerState(), 0);
        h.fakeEngine->connections.clear();
    }
};

QTEST_MAIN(TestForm1)
#include "test_form1.moc"
