#include "desktop/WebAddresses.h"
#include "layout/FrameLayout.h"

#include <QTest>

using namespace kv::shell;

class TestFrameLayout : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void bannerKeepsToTheRightButNeverLeftOf1140_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("left");
        QTest::newRow("default width") << 8040 << 8040 - 5940 - 240;
        QTest::newRow("wide") << 15000 << 15000 - 6180;
        QTest::newRow("exactly at the limit") << 5940 + 240 + 1140 << 1140;
        QTest::newRow("narrower than banner + 1380") << 7000 << 1140;
        QTest::newRow("tiny") << 100 << 1140;
    }
    void bannerKeepsToTheRightButNeverLeftOf1140() {
        QFETCH(int, width);
        QTEST(frameGeometry(width, 8000).bannerLeft, "left");
    }

    void viewportFollowsTheWindow() {
        const FrameGeometry a = frameGeometry(8040, 8370);
        const FrameGeometry b = frameGeometry(9040, 9370);
        QCOMPARE(b.mainWidth - a.mainWidth, 1000);
        QCOMPARE(b.menuHeight - a.menuHeight, 1000);
        QCOMPARE(a.titleWidth, a.mainWidth);
        // The bottoms of the list and of the viewport line up.
        QCOMPARE(kMenu.top + a.menuHeight, kMain.top + a.mainHeight);
        // The viewport stays inside the window, with the same gap on both sides.
        QCOMPARE(8040 - (kMain.left + a.mainWidth), kMain.left - kMenu.left - kMenu.width);
        QVERIFY(kMenu.top + a.menuHeight < 8370 - kStatusBarHeight);
    }

    void helpAddressCarriesTenVersionDigits() {
        QCOMPARE(versionDigits(1, 0, 0), QStringLiteral("0100000000"));
        QCOMPARE(versionDigits(2, 13, 407), QStringLiteral("0200130407"));
        QCOMPARE(helpPageAddress(2, 13, 407),
                 QStringLiteral("http://") + kMakerHost + "/ftpserver/index.php?v=0200130407");
        QCOMPARE(homePageAddress(), QStringLiteral("http://") + kMakerHost);
    }
};

QTEST_GUILESS_MAIN(TestFrameLayout)
#include "test_framelayout.moc"
