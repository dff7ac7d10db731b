#include "shell/FrameLayout.h"

#include <algorithm>

namespace kv::shell {

FrameGeometry frameGeometry(int width, int height) {
    FrameGeometry g;
    g.bannerLeft = std::max(width - kBannerWidth - kBannerRightMargin, kBannerMinimumLeft);
    g.mainWidth = width - kMenuWidth - kMainWidthAllowance;
    g.titleWidth = g.mainWidth;
    g.menuHeight = height - kToolbarHeight - kStatusBarHeight - kMenuHeightAllowance;
    // The bottoms of the list and of the viewport line up.
    g.mainHeight = g.menuHeight - (kMainTop - kMenuTop);
    return g;
}

} // namespace kv::shell
