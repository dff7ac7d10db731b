#pragma once
// Where the frame's parts go when the window is resized, in twips. Width and
// height are the window's client size: the toolkit keeps the title bar and
// borders out of the window's own size.

namespace kv::shell {

inline constexpr int kToolbarHeight = 630;
inline constexpr int kStatusBarHeight = 300;
inline constexpr int kBannerMinimumLeft = 1140;
inline constexpr int kBannerRightMargin = 240;
inline constexpr int kMenuLeft = 60;
inline constexpr int kMenuTop = 720;
inline constexpr int kMenuWidth = 1455;
inline constexpr int kContentLeft = 1590;
inline constexpr int kTitleTop = 720;
inline constexpr int kTitleHeight = 375;
inline constexpr int kSelectedWidth = 495;
inline constexpr int kMainTop = 1200;
inline constexpr int kBannerTop = 45;
inline constexpr int kBannerWidth = 5940;
inline constexpr int kBannerHeight = 500;
// The viewport keeps the same gap to the right edge as to the list on its left.
inline constexpr int kMainWidthAllowance =
    (kContentLeft - kMenuWidth) + (kContentLeft - kMenuLeft - kMenuWidth);
// Under the toolbar and above the status bar: the list's top gap and a matching bottom one.
inline constexpr int kMenuHeightAllowance = 2 * (kMenuTop - kToolbarHeight);
inline constexpr int kDefaultWidth = 8040;
inline constexpr int kDefaultHeight = 8370;

struct FrameGeometry {
    int bannerLeft = kBannerMinimumLeft;
    int mainWidth = 0;
    int titleWidth = 0;
    int menuHeight = 0;
    int mainHeight = 0;
};

// Lengths may come out negative for a tiny window; the caller does not apply those.
FrameGeometry frameGeometry(int width, int height);

} // namespace kv::shell
