#include "layout/FrameLayout.h"

#include <algorithm>

namespace kv::shell {

FrameGeometry frameGeometry(int width, int height) {
    FrameGeometry g;
    g.bannerLeft = std::max(width - kBanner.width - kBannerRightMargin, kBanner.left);
    // The viewport keeps the same gap to the right edge as to the list on its left.
    const int listGap = kMain.left - kMenu.left - kMenu.width;
    g.mainWidth = width - kMain.left - listGap;
    g.titleWidth = g.mainWidth;
    // Under the toolbar and above the status bar: the list's top gap and a matching bottom one.
    const int bandGap = kMenu.top - kToolbarHeight;
    g.menuHeight = height - kToolbarHeight - kStatusBarHeight - 2 * bandGap;
    // The bottoms of the list and of the viewport line up.
    g.mainHeight = g.menuHeight - (kMain.top - kMenu.top);
    return g;
}

} // namespace kv::shell
