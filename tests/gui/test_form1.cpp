#include "WindowHarness.h"

#include "access/DataView.h"
#include "app/ui/HelpBrowser.h"
#include "app/ui/LogPanel.h"
#include "app/ui/OnlinePanel.h"
#include "app/ui/TrayIcon.h"
#include "shell/Twips.h"
#include "shell/WebAddresses.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QScrollBar>

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

void useLoopbackAddress(WindowHarness& h) {
    h.setRow(QStringLiteral("ip"), QStringLiteral("127.0.0.1"));
}

} // namespace

class TestForm1 : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void firstStartWithNoStoredValues() {
        WindowHarness h;
        ui::Form1& w = h.window();
        QCOMPARE(w.size(), QSize(twipsToPixels(8040), twipsToPixels(8370)));
        QCOMPARE(w.windowTitle(), QStringLiteral("Kestrova Vellim 1.0.0"));
        QCOMPARE(w.statusText(), QStringLiteral("Offline"));
        QCOMPARE(w.usersText(), QString());
        QVERIFY(w.startButton()->isEnabled());
        QVERIFY(!w.stopButton()->isEnabled());
        QCOMPARE(w.menuList()->count(), 6);
        QCOMPARE(w.menuList()->item(1)->text(), QStringLiteral("Impostazioni"));
        QVERIFY(!w.alreadyActivated());
    }

    void storedSizeIsRestored_data() {
        QTest::addColumn<QString>("width");
        QTest::addColumn<QString>("height");
        QTest::addColumn<QSize>("pixels");
        QTest::newRow("whole twips") << "9000"
                                     << "7500" << QSize(600, 500);
        QTest::newRow("leading number of a text") << "9600.4 twips"
                                                  << "7800" << QSize(640, 520);
    }
    void storedSizeIsRestored() {
        QFETCH(QString, width);
        QFETCH(QString, height);
        QFETCH(QSize, pixels);
        WindowHarness h;
        h.settings.setValue(kAppTarrow, kSectionAppIni, "Width", width);
        h.settings.setValue(kAppTarrow, kSectionAppIni, "Height", height);
        QCOMPARE(h.window().size(), pixels);
    }

    void firstActivationShowsTheAccountPanel() {
        WindowHarness h;
        ui::Form1& w = h.started();
        QVERIFY(w.alreadyActivated());
        QCOMPARE(w.PannelloCorrente(), 0);
        QCOMPARE(visiblePanels(w), 1);
        QVERIFY(w.picPanel(0)->isVisibleTo(&w));
        QCOMPARE(w.titleText(), QStringLiteral("Account"));
    }

    void navigationShowsExactlyOnePanel_data() {
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("title");
        const char* titles[] = {"Account", "Impostazioni", "Sicurezza", "Log", "Online", "Help"};
        for (int i = 0; i < 6; ++i)
            QTest::newRow(titles[i]) << i + 1 << QString::fromLatin1(titles[i]);
    }
    void navigationShowsExactlyOnePanel() {
        QFETCH(int, position);
        QFETCH(QString, title);
        WindowHarness h;
        ui::Form1& w = h.started();
        w.selectItem(6);
        w.selectItem(position);
        QCOMPARE(visiblePanels(w), 1);
        QVERIFY(w.picPanel(position - 1)->isVisibleTo(&w));
        QCOMPARE(w.titleText(), title);
        QCOMPARE(w.PannelloCorrente(), position - 1);
        QCOMPARE(w.menuList()->currentRow(), position - 1);
        // Clicking an item of the list does the same.
        QListWidgetItem* other = w.menuList()->item(position % 6);
        const QRect r = w.menuList()->visualItemRect(other);
        QTest::mouseClick(w.menuList()->viewport(), Qt::LeftButton, {}, r.center());
        QCOMPARE(w.PannelloCorrente(), position % 6);
        QCOMPARE(visiblePanels(w), 1);
    }

    void resizeStoresOnlyTheNormalSize() {
        WindowHarness h;
        ui::Form1& w = h.started();
        w.resize(700, 520);
        QTRY_COMPARE(stored(h, "Width"), QStringLiteral("10500"));
        QCOMPARE(stored(h, "Height"), QStringLiteral("7800"));
        // The layout follows the window: the viewport grows with it.
        const int viewportWidth = w.viewport()->width();
        w.resize(760, 520);
        QTRY_COMPARE(w.viewport()->width(), viewportWidth + 60);
        QCOMPARE(stored(h, "Width"), QStringLiteral("11400"));

        w.showMaximized();
        QTRY_VERIFY(w.isMaximized());
        w.Form_Resize();
        QCOMPARE(stored(h, "Width"), QStringLiteral("11400"));
        QCOMPARE(stored(h, "Height"), QStringLiteral("7800"));
    }

    void startAndStopShowTheState() {
        WindowHarness h;
        useLoopbackAddress(h);
        ui::Form1& w = h.started();
        h.fakeEngine->setLocalAddress(QString());
        w.toolbarClick(QStringLiteral("kStart"));
        QCOMPARE(h.core->server().ServerState(), 1);
        QVERIFY(!w.startButton()->isEnabled());
        QVERIFY(w.stopButton()->isEnabled());
        QCOMPARE(w.statusText(), QStringLiteral("Online: 127.0.0.1"));
        for (int i = 0; i < 6; ++i)
            QCOMPARE(w.picPanel(i)->isEnabled(), i > 2);
        QVERIFY(!w.tray().mnuStart()->isEnabled());
        QVERIFY(w.tray().mnuStop()->isEnabled());
        QCOMPARE(w.tray().tip(), QStringLiteral("Kestrova Vellim - Online"));
        QVERIFY(w.logPanel().logText().contains("] SERVER START ON IP 127.0.0.1\r\n"));

        w.toolbarClick(QStringLiteral("kStop"));
        QCOMPARE(h.core->server().ServerState(), 0);
        QVERIFY(w.startButton()->isEnabled());
        QVERIFY(!w.stopButton()->isEnabled());
        QCOMPARE(w.statusText(), QStringLiteral("Offline"));
        for (int i = 0; i < 6; ++i)
            QVERIFY(w.picPanel(i)->isEnabled());
        QVERIFY(w.tray().mnuStart()->isEnabled());
        QVERIFY(!w.tray().mnuStop()->isEnabled());
        QCOMPARE(w.tray().tip(), QStringLiteral("Kestrova Vellim - Offline"));
        QVERIFY(w.logPanel().logText().endsWith("] SERVER STOP\r\n"));
        QVERIFY(h.messages.shown.isEmpty());
    }

    void toolbarCommitsPendingEditsFirst() {
        WindowHarness h;
        useLoopbackAddress(h);
        ui::Form1& w = h.started();
        access::DataView& row = h.core->views().Data2();
        QVERIFY(row.Edit());
        QVERIFY(row.setField("port", "2121"));
        QVERIFY(row.isDirty());
        w.toolbarClick(QStringLiteral("kStart"));
        QVERIFY(!row.isDirty());
        QCOMPARE(h.fakeEngine->Port(), qint16(2121));
    }

    void failingStartIsReportedOnce() {
        WindowHarness h;
        useLoopbackAddress(h);
        ui::Form1& w = h.started();
        const QString logBefore = w.logPanel().logText();
        h.fakeEngine->listenResult = false;
        w.toolbarClick(QStringLiteral("kStart"));
        QCOMPARE(h.messages.texts(), QStringList{kStartFailedMessage});
        QCOMPARE(h.messages.shown.first().second, MessageIcon::Exclamation);
        QCOMPARE(h.core->server().ServerState(), 0);
        QVERIFY(w.startButton()->isEnabled());
        QVERIFY(!w.stopButton()->isEnabled());
        QCOMPARE(w.statusText(), QStringLiteral("Offline"));
        QCOMPARE(w.logPanel().logText(), logBefore);
        QCOMPARE(w.tray().tip(), QStringLiteral("Kestrova Vellim - Offline"));
        QCOMPARE(h.notices, 0);
    }

    void startNoticeAndNoShow1() {
        WindowHarness h;
        useLoopbackAddress(h);
        ui::Form1& w = h.started();
        w.toolbarClick(QStringLiteral("kStart"));
        QCOMPARE(h.notices, 1);
        QCOMPARE(stored(h, "NoShow1"), QString()); // closed without the tick
        w.toolbarClick(QStringLiteral("kStop"));
        h.tickNotice = true;
        w.toolbarClick(QStringLiteral("kStart"));
        QCOMPARE(h.notices, 2);
        QCOMPARE(stored(h, "NoShow1"), QStringLiteral("1"));
        w.toolbarClick(QStringLiteral("kStop"));
        w.toolbarClick(QStringLiteral("kStart"));
        QCOMPARE(h.notices, 2);
    }

    void noticeStoresOnlyWhenTicked() {
        MemorySettingsStore settings;
        {
            ui::StartNotice notice(settings);
            notice.show();
            notice.close(); // the close box
        }
        QVERIFY(ui::startNoticeWanted(settings));
        ui::StartNotice notice(settings);
        notice.check()->setChecked(true);
        notice.show();
        notice.close();
        QVERIFY(!ui::startNoticeWanted(settings));
        QCOMPARE(settings.value(kAppTarrow, kSectionAppIni, "NoShow1"), QStringLiteral("1"));
    }

    void automaticStartWhileMinimisedToTheTray() {
        WindowHarness h(WindowHarness::Engine::Fake, true);
        useLoopbackAddress(h);
        h.setRow("minimized", "1");
        h.setRow("start", true);
        ui::Form1& w = h.started();
        QVERIFY(w.inTray());
        QVERIFY(!w.isVisible());
        QCOMPARE(h.core->server().ServerState(), 1);
        QCOMPARE(h.notices, 0); // hidden: no notice
        QCOMPARE(w.tray().tip(), QStringLiteral("Kestrova Vellim - Online"));
        QVERIFY(w.tray().mnuStop()->isEnabled());
        // A second activation starts nothing again.
        w.Form_Activate();
        QCOMPARE(h.fakeEngine->listenCalls, 1);
    }

    void withoutATrayTheWindowStaysReachable() {
        WindowHarness h(WindowHarness::Engine::Fake, false);
        useLoopbackAddress(h);
        h.setRow("minimized", "1");
        ui::Form1& w = h.started();
        QVERIFY(!w.inTray());
        QVERIFY(w.isVisible());
        QVERIFY(!w.tray().shown());
        w.showMinimized();
        QVERIFY(w.isVisible());
        QVERIFY(!w.inTray());
    }

    void trayMenuStartsStopsAndRestores() {
        WindowHarness h(WindowHarness::Engine::Fake, true);
        useLoopbackAddress(h);
        ui::Form1& w = h.started();
        w.resize(640, 560);
        const QString width = stored(h, "Width");
        w.showMinimized();
        QTRY_VERIFY(w.inTray());
        QVERIFY(!w.isVisible());
        QCOMPARE(stored(h, "Width"), width); // minimising stores nothing
        QCOMPARE(w.tray().tip(), QStringLiteral("Kestrova Vellim - Offline"));
        QVERIFY(!w.tray().showsOnline());
        QVERIFY(w.tray().mnuStart()->isEnabled());
        QVERIFY(!w.tray().mnuStop()->isEnabled());

        w.tray().mnuStart()->trigger();
        QCOMPARE(h.core->server().ServerState(), 1);
        QCOMPARE(h.notices, 0);
        QCOMPARE(w.tray().tip(), QStringLiteral("Kestrova Vellim - Online"));
        QVERIFY(w.tray().showsOnline());
        QVERIFY(!w.tray().mnuStart()->isEnabled());
        QVERIFY(w.tray().mnuStop()->isEnabled());

        h.fakeEngine->listenResult = false;
        w.tray().mnuStop()->trigger();
        w.tray().mnuStart()->trigger(); // fails
        QCOMPARE(h.messages.texts(), QStringList{kStartFailedMessage});
        QCOMPARE(w.tray().tip(), QStringLiteral("Kestrova Vellim - Offline"));

        w.tray().mnuRipristina()->trigger();
        QVERIFY(w.isVisible());
        QVERIFY(!w.inTray());
        QVERIFY(!w.tray().shown());
        QCOMPARE(w.size(), QSize(640, 560));
    }

    void closingStopsTheServerAndSavesColumns() {
        WindowHarness h;
        useLoopbackAddress(h);
        ui::Form1& w = h.started();
        w.toolbarClick(QStringLiteral("kStart"));
        w.close();
        QCOMPARE(h.fakeEngine->stopCalls, 1);
        QVERIFY(w.logPanel().logText().endsWith("] SERVER STOP\r\n"));
        QCOMPARE(stored(h, "OnlineCol1"), QStringLiteral("1440"));
        QCOMPARE(stored(h, "OnlineCol5"), QStringLiteral("1440"));
    }

    void emptyRootIsFilledAtEveryActivation() {
        WindowHarness h;
        h.setRow("rootdir", QString());
        ui::Form1& w = h.started();
        access::DataView& row = h.core->views().Data2();
        QCOMPARE(row.Field("rootdir"), DefaultServerRoot());
        QVERIFY(!row.isDirty());
        h.setRow("rootdir", QString());
        w.Form_Activate();
        QCOMPARE(row.Field("rootdir"), DefaultServerRoot());
    }

    void portAtFirstActivation_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("after");
        QTest::newRow("empty becomes 21") << ""
                                          << "21";
        QTest::newRow("21 stays") << "21"
                                  << "21";
        QTest::newRow("2121 stays") << "2121"
                                    << "2121";
    }
    void portAtFirstActivation() {
        QFETCH(QString, port);
        QFETCH(QString, after);
        WindowHarness h;
        h.setRow("port", port);
        h.started();
        QCOMPARE(h.core->views().Data2().Field("port"), after);
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
        QCOMPARE(h.messages.texts(), QStringList{h.core->databaseProblem()});
        QCOMPARE(h.messages.shown.first().second, MessageIcon::Exclamation);
        QCOMPARE(h.core->views().Data1().RecordCount(), 0);
        QFile f(h.dir.path() + "/accounts.dat");
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("not a database at all"));
    }

    void helpPanelNavigation() {
        WindowHarness h;
        ui::Form1& w = h.started();
        QCOMPARE(w.helpBrowser().address(), QStringLiteral("about:blank"));
        w.selectItem(6);
        const QString help = shell::helpPageAddress(1, 0, 0);
        QCOMPARE(w.helpBrowser().address(), help);
        QVERIFY(w.helpBrowser().toPlainText().contains("Kestrova Vellim"));
        QVERIFY(!w.scrollBar()->isVisible());
        // An activation blanks it; the next layout goes back to the help page.
        w.Form_Activate();
        QCOMPARE(w.helpBrowser().address(), QStringLiteral("about:blank"));
        w.selectItem(6);
        QCOMPARE(w.helpBrowser().address(), help);
        // A page of the help stays where it is and is reloaded.
        w.helpBrowser().navigate(shell::homePageAddress() + "/ftpserver/online.html");
        QVERIFY(w.helpBrowser().toPlainText().contains("Disconnetti account"));
        w.selectItem(6);
        QVERIFY(w.helpBrowser().address().endsWith("online.html"));
        w.selectItem(1);
        QVERIFY(w.scrollBar()->isVisible());
    }

    void returningFromAnotherProgramIsNoActivation() {
        WindowHarness h;
        ui::Form1& w = h.started();
        w.selectItem(6);
        const QString help = w.helpBrowser().address();
        QVERIFY(help.startsWith("http://"));
        // The program lost the focus to another one and gets it back.
        Q_EMIT qApp->focusWindowChanged(nullptr);
        QEvent activate(QEvent::WindowActivate);
        QCoreApplication::sendEvent(&w, &activate);
        QCOMPARE(w.helpBrowser().address(), help);
        // Back from one of the program's own windows: an activation.
        QCoreApplication::sendEvent(&w, &activate);
        QCOMPARE(w.helpBrowser().address(), QStringLiteral("about:blank"));
    }

    void helpLinksToOtherSitesOpenOutside() {
        WindowHarness h;
        ui::Form1& w = h.started();
        w.selectItem(6);
        Q_EMIT w.helpBrowser().anchorClicked(QUrl("https://www.example.org/"));
        QCOMPARE(h.opened, QStringList{"https://www.example.org/|"});
        Q_EMIT w.helpBrowser().anchorClicked(QUrl("log.html"));
        QVERIFY(w.helpBrowser().address().endsWith("/ftpserver/log.html"));
        QCOMPARE(h.opened.size(), 1);
    }

    void bannerOpensTheHomePage() {
        WindowHarness h;
        ui::Form1& w = h.started();
        w.imgBanner_Click();
        QCOMPARE(h.opened, QStringList{shell::homePageAddress() + "|" + h.dir.path()});
        QCOMPARE(h.settings.value(kAppTarrow, kSectionAppIni, "previewretry"),
                 QStringLiteral("on"));
        // A desktop that cannot open it: the retry path is no file, nothing else happens.
        h.desktopAnswer = false;
        w.imgBanner_Click();
        QCOMPARE(h.opened.size(), 2);
        QVERIFY(h.messages.shown.isEmpty());
    }

    void scrollBarMovesTheShownPanel() {
        WindowHarness h;
        ui::Form1& w = h.started();
        w.resize(w.minimumSize());
        w.selectItem(4); // the log panel fits any height: its box follows the viewport
        QVERIFY(!w.scrollBar()->isEnabled());
        QWidget* panel = w.picPanel(0);
        w.selectItem(1);
        if (!w.scrollBar()->isEnabled())
            QSKIP("the account panel fits this window");
        w.scrollBar()->setValue(w.scrollBar()->maximum());
        QCOMPARE(panel->y(), -twipsToPixels(w.scrollBar()->maximum()));
        w.OrdinaPannello(0);
        QCOMPARE(panel->y(), 0); // laid out again from the top
    }
};

QTEST_MAIN(TestForm1)
#include "test_form1.moc"
