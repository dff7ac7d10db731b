#include "layout/PanelLayout.h"

#include "tests/support/DataRow.h"

#include <QTest>

using namespace kv::shell;
using enum ChildKind;

Q_DECLARE_METATYPE(kv::shell::ChildKind)

namespace {

const QString kHost = QStringLiteral("maker.example");
const QString kHelp = QStringLiteral("http://maker.example/ftpserver/index.php?v=0100000000");

LayoutChild child(ChildKind kind, int top, int height, const QString& caption = {}) {
    return {kind, top, /*left*/ 120, /*width*/ 1000, height, caption, 0, 0};
}

// One line per 1000 twips of text width, like a label that wraps.
int measure(const QString& text, int width) {
    return captionHeight(text.isEmpty() ? 1 : (text.size() * 100 + width - 1) / width);
}

// The window shown, a scroll bar 255 wide, no current panel width.
LayoutInput viewport(int width, int height, int panel, const QList<LayoutChild>& children) {
    return {panel, true, width, height, 255, 0, children, measure, {}};
}

LayoutResult lay(int width, int height, int panel, const QList<LayoutChild>& children) {
    return layoutPanel(viewport(width, height, panel, children), kHost, kHelp);
}

// A child's top, height and width; the panel's width and height (-1: unset).
QList<int> placed(const ChildPlacement& c) {
    return {c.top, c.height.value_or(-1), c.width.value_or(-1)};
}
QList<int> panelSize(const LayoutResult& r) {
    return {r.panelWidth.value_or(-1), r.panelHeight.value_or(-1)};
}

} // namespace

class TestPanelLayout : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void stacksByTopWithGaps() {
        // Collection order differs from top order; two children share a top.
        const LayoutResult r =
            lay(6000, 4000, 0,
                {child(Other, 900, 300), child(Other, 100, 200), child(Other, 100, 400)});
        QVERIFY(r.applied);
        // The second one shown under its twin, never beside it.
        QCOMPARE((QList{r.children[1].top, r.children[2].top, r.children[0].top}),
                 (QList{120, 120 + 200 + 120, 440 + 400 + 120}));
        QCOMPARE(*r.panelWidth, 6000 - 255 - 30);
        QCOMPARE((QList{r.scrollBarLeft, *r.scrollBarHeight}), (QList{6000 - 255 - 45, 4000 - 45}));
    }

    void contentHeightAndScrollBar_data() {
        QTest::addColumn<int>("panel");
        QTest::addColumn<int>("childHeight");
        QTest::addColumn<QString>("expected"); // panel height, bar enabled and shown, its Max
        // 120 + h + 120 against a viewport of 3000.
        addRow("empty panel", 0, -1, "3000 off shown -");
        addRow("exactly fills", 0, 2760, "3000 off shown -");
        addRow("one twip taller", 0, 2761, "3001 on shown 1");
        addRow("much taller", 1, 9760, "10000 on shown 7000");
        addRow("help panel hides the bar", 5, 100, "3000 off hidden -");
        addRow("hidden part beyond 16 bits keeps Max", 0, 40000, "40240 on shown -");
    }
    void contentHeightAndScrollBar() {
        QFETCH(int, panel);
        QFETCH(int, childHeight);
        const LayoutResult r =
            lay(6000, 3000, panel,
                childHeight < 0 ? QList<LayoutChild>() : QList{child(Other, 0, childHeight)});
        QTEST(QStringLiteral("%1 %2 %3 %4")
                  .arg(*r.panelHeight)
                  .arg(r.scrollEnabled ? "on" : "off", r.scrollVisible ? "shown" : "hidden",
                       r.scrollMax ? QString::number(*r.scrollMax) : "-"),
              "expected");
    }

    void captionsWrapToThePanelWidth() {
        // Panel width 2240; the long caption is 5000 / 2000 -> 3 lines.
        const LayoutResult r =
            lay(2285 + 240, 3000, 0,
                {child(Caption, 0, 999), child(Caption, 10, 999, QString(50, 'x'))});
        QCOMPARE(placed(r.children[0]), (QList<int>{120, 230, 2240 - 240}));
        QCOMPARE(placed(r.children[1]), (QList<int>{120 + 230 + 120, 3 * 200 + 30, 2240 - 240}));
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
        LayoutChild ip = child(IpList, 0, 100);
        ip.gridRowHeight = rowHeight;
        ip.commandHeight = 400;
        const LayoutResult r = lay(6000, viewportHeight, 2, {ip});
        const ChildPlacement& placedIp = r.children[0];
        QCOMPARE((QList{*placedIp.gridHeight, *placedIp.height, *placedIp.commandTop}),
                 (QList{gridHeight, gridHeight + 400, gridHeight}));
    }

    void logBoxReachesTheBottom() {
        const QList<LayoutChild> children = {child(Other, 0, 300), child(LogBox, 500, 100)};
        const LayoutResult r = lay(6000, 5000, 3, children);
        const int top = 120 + 300 + 120;
        QCOMPARE(placed(r.children[1]), (QList<int>{top, 5000 - top - 120, 6000 - 255 - 30 - 240}));
        QCOMPARE(*r.panelHeight, 5000);
        QVERIFY(!r.scrollEnabled);
        // In a viewport too small for it, negative sizes are not applied.
        const LayoutResult tiny = lay(250, 200, 3, children);
        QCOMPARE(placed(tiny.children[1]), (QList<int>{top, -1, -1}));
        QCOMPARE(panelSize(tiny), (QList<int>{-1, top + 100 + 120})); // 250 - 255 - 30 < 0
    }

    void onlineListFollowsTheViewport() {
        const LayoutResult r =
            lay(6000, 4000, 4,
                {child(Caption, 0, 230), child(OnlineList, 400, 10), child(Other, 900, 345)});
        QCOMPARE(placed(r.children[1]),
                 (QList<int>{120 + 230 + 120, 4000 - kOnlineListReserve, 6000 - 255 - 30 - 240}));
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
        LayoutInput in = viewport(6000, 4000, 5, {child(Browser, 500, 100)});
        in.browserAddress = address;
        const LayoutResult r = layoutPanel(in, kHost, kHelp);
        QCOMPARE(placed(r.children[0]), (QList<int>{0, 4000 - 30, 6000 - 30}));
        QCOMPARE(panelSize(r), (QList<int>{6000 - 30, 4000}));
        QVERIFY(!r.scrollEnabled);
        QVERIFY(!r.scrollVisible);
        QCOMPARE(int(r.browser), action);
        QCOMPARE(r.browserTarget, action == int(BrowserAction::Navigate) ? kHelp : QString());
    }

    void repeatedLayoutIsStable() {
        LayoutInput in =
            viewport(6000, 3000, 0,
                     {child(Other, 700, 300), child(Other, 700, 200), child(Caption, 50, 230)});
        const LayoutResult first = layoutPanel(in, kHost, kHelp);
        for (int i = 0; i < in.children.size(); ++i) {
            in.children[i].top = first.children[i].top;
            in.children[i].height = first.children[i].height.value_or(in.children[i].height);
        }
        const LayoutResult second = layoutPanel(in, kHost, kHelp);
        for (int i = 0; i < in.children.size(); ++i)
            QCOMPARE(second.children[i].top, first.children[i].top);
        QCOMPARE(second.panelHeight, first.panelHeight);
    }
};

QTEST_GUILESS_MAIN(TestPanelLayout)
#include "test_panellayout.moc"
