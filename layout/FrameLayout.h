#pragma once
// Where the frame's parts go when the window is resized, in twips. Width and
// height are the window's client size: the toolkit keeps the title bar and
// borders out of the window's own size.

namespace kv::shell {

// A part of the frame at its design place, in window twips.
struct TwipsRect {
    int left;
    int top;
    int width;
    int height;
};

// The bands above and below the central area.
inline constexpr int kToolbarHeight = 630;
inline constexpr int kStatusBarHeight = 300;
// The category list down the left side.
inline constexpr TwipsRect kMenu{60, 720, 1455, 4695};
// The category title over the viewport, and the button at its left end.
inline constexpr TwipsRect kTitle{1590, 720, 7215, 375};
inline constexpr TwipsRect kSelected{kTitle.left, kTitle.top, 495, kTitle.height};
// The viewport showing the chosen panel.
inline constexpr TwipsRect kMain{kTitle.left, 1200, 8235, 5955};
// The banner in the toolbar band: kept this far from the right edge, never left of its place.
inline constexpr TwipsRect kBanner{1140, 45, 5940, 500};
inline constexpr int kBannerRightMargin = 240;
// The window's client size on a first start.
inline constexpr int kDefaultWidth = 8040;
inline constexpr int kDefaultHeight = 8370;

struct FrameGeometry {
    int bannerLeft = kBanner.left;
    int mainWidth = 0;
    int titleWidth = 0;
    int menuHeight = 0;
    int mainHeight = 0;
};

// Lengths may come out negative for a tiny window; the caller does not apply those.
FrameGeometry frameGeometry(int width, int height);

} // namespace kv::shell
