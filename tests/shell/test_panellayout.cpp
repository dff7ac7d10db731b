#include "shell/PanelLayout.h"

#include <QTest>

using namespace kv::shell;

Q_DECLARE_METATYPE(kv::shell::ChildKind)

namespace {

const QString kHost = QStringLiteral("maker.example");
const QString kHelp = QStringLiteral("http://maker.example/ftpserver/index.php?v=0100000000");

LayoutChild child(ChildKind kind, int top, int height, int left = 120) {
    LayoutChild c;
    c.kind = kind;
    c.top = top;
    c.height = height;
    c.left = left;
    c.width = 1000;
    return c;
}

LayoutInput viewport(int width, int height, int panel = 0) {
    LayoutInput in;
    in.panelIndex = panel;
    in.viewportWidth = width;
    in.viewportHeight = height;
    in.scrollBarWidth = 255;
    // One line per 1000 twips of text width, like a label that wraps.
    in.measure = [](const QString& text, int width) {
        const int lines = text.isEmpty() ? 1 : (text.size() * 100 + width - 1) / width;
        return captionHeight(lines);
    };
    return in;
}

} // namespace

class TestPanelLayout : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void hiddenWindowChangesNothing() {
        LayoutInput in = viewport(6000, 4000);
        in.windowVisible = false;
        in.children = {child(ChildKind::Other, 0, 300)};
        const LayoutResult r = layoutPanel(in, kHost, kHelp);
        QVERIFY(!r.applied);
        QVERIFY(r.children.isEmpty());
        QVERIFY(!r.panelHeight);
    }

    void stacksByTopWithGaps() {
        LayoutInput in = viewport(6000, 4000);
        // Collection order differs from top order; two children share a top.
        in.children = {child(ChildKind::Other, 900, 300), child(ChildKind::Other, 100, 200),
                       child(ChildKind::Other, 100, 400)};
        const LayoutResult r = layoutPanel(in, kHost, kHelp);
        QVERIFY(r.applied);
        QCOMPARE(r.children[1].top, 120);
        QCOMPARE(r.children[2].top, 120 + 200 + 120); // under its twin, never beside it
        QCOMPARE(r.children[0].top, 440 + 400 + 120);
        QCOMPARE(*r.panelWidth, 6000 - 255 - 30);
        QCOMPARE(r.scrollBarLeft, 6000 - 255 - 45);
        QCOMPARE(*r.scrollBarHeight, 4000 - 45);
    }

    void contentHeightAndScrollBar_data() {
        QTest::addColumn<int>("panel");
        QTest::addColumn<int>("childHeight");
        QTest::addColumn<int>("panelHeight");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("visible");
        QTest::addColumn<int>("max");
        // 120 + h + 120 against a viewport of 3000.
        QTest::newRow("empty panel") << 0 << -1 << 3000 << false << true << -1;
        QTest::newRow("fits") << 0 << 1000 << 3000 << false << true << -1;
        QTest::newRow("exactly fills") << 0 << 2760 << 3000 << false << true << -1;
        QTest::newRow("one twip taller") << 0 << 2761 << 3001 << true << true << 1;
        QTest::newRow("much taller") << 1 << 9760 << 10000 << true << true << 7000;
        QTest::newRow("help panel hides the bar") << 5 << 100 << 3000 << false << false << -1;
        QTest::newRow("hidden part beyond 16 bits keeps Max")
            << 0 << 40000 << 40240 << true << true << -1;
    }
    void contentHeightAndScrollBar() {
        QFETCH(int, panel);
        QFETCH(int, childHeight);
        QFETCH(int, panelHeight);
        QFETCH(bool, enabled);
        QFETCH(bool, visible);
        QFETCH(int, max);
        LayoutInput in = viewport(6000, 3000, panel);
        if (childHeight >= 0)
            in.children = {child(ChildKind::Other, 0, childHeight)};
        const LayoutResult r = layoutPanel(in, kHost, kHelp);
        QCOMPARE(*r.panelHeight, panelHeight);
        QCOMPARE(r.scrollEnabled, enabled);
        QCOMPARE(r.scrollVisible, visible);
        QCOMPARE(r.scrollMax.value_or(-1), max);
    }

    void captionsWrapToThePanelWidth() {
        LayoutInput in = viewport(2285 + 240, 3000); // panel width 2240
        LayoutChild empty = child(ChildKind::Caption, 0, 999, 120);
        LayoutChild longText = child(ChildKind::Caption, 10, 999, 120);
        longText.caption = QString(50, QLatin1Char('x')); // 5000 / 2000 -> 3 lines
        in.children = {empty, longText};
        const LayoutResult r = layoutPanel(in, kHost, kHelp);
        QCOMPARE(*r.children[0].height, 230);
        QCOMPARE(*r.children[0].width, 2240 - 240);
        QCOMPARE(*r.children[1].height, 3 * 200 + 30);
        QCOMPARE(r.children[1].top, 120 + 230 + 120);
    }

    void separatorTakesOnlyItsGap() {
        LayoutInput in = viewport(6000, 3000);
        in.children = {child(ChildKind::Separator, 0, 500), child(ChildKind::Other, 100, 300)};
        const LayoutResult r = layoutPanel(in, kHost, kHelp);
        QCOMPARE(*r.children[0].height, 0);
        QVERIFY(r.children[0].clearCaption);
        QCOMPARE(r.children[1].top, 240);
    }

    void ipListsShareTheViewport_data() {
        QTest::addColumn<int>("viewportHeight");
        QTest::addColumn<int>("rowHeight");
        QTest::addColumn<int>("gridHeight");
        QTest::newRow("small viewport: five rows") << 3000 << 40 << 5 * 40 + 15;
        QTest::newRow("rows above 33 at 3000: five") << 3000 << 34 << 5 * 34 + 15;
        QTest::newRow("tall viewport: whole rows") << 8000 << 240 << 11 * 240 + 15;
        QTest::newRow("no row height: minimum") << 8000 << 0 << 15;
    }
    void ipListsShareTheViewport() {
        QFETCH(int, viewportHeight);
        QFETCH(int, rowHeight);
        QFETCH(int, gridHeight);
        LayoutInput in = viewport(6000, viewportHeight, 2);
        LayoutChild ip = child(ChildKind::IpList, 0, 100);
        ip.gridRowHeight = rowHeight;
        ip.commandHeight = 400;
        in.children = {ip};
        const LayoutResult r = layoutPanel(in, kHost, kHelp);
        QCOMPARE(*r.children[0].gridHeight, gridHeight);
        QCOMPARE(*r.children[0].height, gridHeight + 400);
        QCOMPARE(*r.children[0].commandTop, gridHeight);
    }

    void logBoxReachesTheBottom() {
        LayoutInput in = viewport(6000, 5000, 3);
        in.children = {child(ChildKind::Other, 0, 300), child(ChildKind::LogBox, 500, 100, 120)};
        const LayoutResult r = layoutPanel(in, kHost, kHelp);
        const int top = 120 + 300 + 120;
        QCOMPARE(r.children[1].top, top);
        QCOMPARE(*r.children[1].height, 5000 - top - 120);
        QCOMPARE(*r.children[1].width, 6000 - 255 - 30 - 240);
        QCOMPARE(*r.panelHeight, 5000);
        QVERIFY(!r.scrollEnabled);

        // In a viewport too small for it, negative sizes are not applied.
        in.viewportWidth = 250;
        in.viewportHeight = 200;
        const LayoutResult tiny = layoutPanel(in, kHost, kHelp);
        QVERIFY(!tiny.children[1].height);
        QVERIFY(!tiny.children[1].width);
        QVERIFY(!tiny.panelWidth); // 250 - 255 - 30 < 0
        QCOMPARE(*tiny.panelHeight, 120 + 300 + 120 + 100 + 120);
    }

    void onlineListFollowsTheViewport() {
        LayoutInput in = viewport(6000, 4000, 4);
        in.children = {child(ChildKind::Caption, 0, 230), child(ChildKind::OnlineList, 400, 10),
                       child(ChildKind::Other, 900, 345)};
        const LayoutResult r = layoutPanel(in, kHost, kHelp);
        QCOMPARE(*r.children[1].height, 4000 - kOnlineListReserve); // 1300
        QCOMPARE(*r.children[1].width, 6000 - 255 - 30 - 240);
        QCOMPARE(*r.panelHeight, 4000); // 120+230+120+1300+120+345+120 = 2355
        QVERIFY(!r.scrollEnabled);
    }

    void browserFillsTheViewport_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("action");
        QTest::newRow("blank: navigate") << "about:blank" << int(BrowserAction::Navigate);
        QTest::newRow("maker page: reload")
            << "http://maker.example/ftpserver/log.html" << int(BrowserAction::Reload);
        QTest::newRow("other site: back to help")
            << "http://elsewhere.example/" << int(BrowserAction::Navigate);
    }
    void browserFillsTheViewport() {
        QFETCH(QString, address);
        QFETCH(int, action);
        LayoutInput in = viewport(6000, 4000, 5);
        in.browserAddress = address;
        in.children = {child(ChildKind::Browser, 500, 100)};
        const LayoutResult r = layoutPanel(in, kHost, kHelp);
        QCOMPARE(r.children[0].top, 0);
        QCOMPARE(*r.children[0].height, 4000 - 30);
        QCOMPARE(*r.children[0].width, 6000 - 30);
        QCOMPARE(*r.panelWidth, 6000 - 30);
        QCOMPARE(*r.panelHeight, 4000);
        QVERIFY(!r.scrollEnabled);
        QVERIFY(!r.scrollVisible);
        QCOMPARE(int(r.browser), action);
        QCOMPARE(r.browserTarget, action == int(BrowserAction::Navigate) ? kHelp : QString());
    }

    void repeatedLayoutIsStable() {
        LayoutInput in = viewport(6000, 3000);
        in.children = {child(ChildKind::Other, 700, 300), child(ChildKind::Other, 700, 200),
                       child(ChildKind::Caption, 50, 230)};
        const LayoutResult first = layoutPanel(in, kHost, kHelp);
        for (int i = 0; i < in.children.size(); ++i) {
            in.children[i].top = first.children[i].top;
            if (first.children[i].height)
                in.children[i].height = *first.children[i].height;
        }
        const LayoutResult second = layoutPanel(in, kHost, kHelp);
        for (int i = 0; i < in.children.size(); ++i)
            QCOMPARE(second.children[i].top, first.children[i].top);
        QCOMPARE(second.panelHeight, first.panelHeight);
    }
};

QTEST_GUILESS_MAIN(TestPanelLayout)
#include "test_panellayout.moc"
