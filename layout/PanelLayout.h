#pragma once
// Laying out one category panel, as a pure computation in twips: the visible
// children are stacked from top to bottom with a fixed gap, caption labels are
// word-wrapped to the panel's width, the few large controls (address lists,
// log box, online list, help browser) follow the viewport's height, and the
// panel is sized to its content so the scroll bar can move it. The window
// describes its children, calls layoutPanel() and applies the result.

#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

namespace kv::shell {

enum class ChildKind {
    Separator,  // "lblSep": takes no room beyond its gap
    Caption,    // any other label: word-wrapped to the panel's width
    IpList,     // "picIP": one address list group (grid over its button strip)
    LogBox,     // "txtLog": reaches down to the viewport's bottom
    OnlineList, // "lvwOnline": the panel's height less a reserve
    Browser,    // "WebBrowser1": fills the viewport
    Other       // only moved
};

// What the online panel keeps under its list: the caption and button strip
// (1080) and, a gap below them, the rate graph.
inline constexpr int kOnlineRateGraphTwips = 1500;
inline constexpr int kOnlineListReserve = 1080 + 120 + kOnlineRateGraphTwips;

struct LayoutChild {
    ChildKind kind = ChildKind::Other;
    int top = 0;
    int left = 0;
    int width = 0;
    int height = 0;
    QString caption;       // Caption
    int gridRowHeight = 0; // IpList
    int commandHeight = 0; // IpList: the button strip under the grid
};

struct LayoutInput {
    int panelIndex = 0;
    bool windowVisible = true;
    int viewportWidth = 0;
    int viewportHeight = 0;
    int scrollBarWidth = 0;
    int currentPanelWidth = 0; // kept when the computed width is refused
    // The children in the window's collection order, visible ones only.
    QList<LayoutChild> children;
    // Height of a caption word-wrapped at a width (MisuraAltezzaTesto).
    std::function<int(const QString& text, int width)> measure;
    // The help browser's current address.
    QString browserAddress;
};

struct ChildPlacement {
    int top = 0;
    std::optional<int> width; // unset: keep the current width
    std::optional<int> height;
    // IpList: the grid's height and the button strip's top inside the group.
    std::optional<int> gridHeight;
    std::optional<int> commandTop;
    bool clearCaption = false; // separators lose their caption
};

enum class BrowserAction { None, Reload, Navigate };

struct LayoutResult {
    bool applied = false; // false: the window was hidden and nothing changes
    std::optional<int> panelWidth;
    std::optional<int> panelHeight;
    int scrollBarLeft = 0;
    std::optional<int> scrollBarHeight;
    bool scrollEnabled = false;
    bool scrollVisible = true;
    std::optional<int> scrollMax;   // set only while enabled and when it fits 16 bits
    QList<ChildPlacement> children; // same order as LayoutInput::children
    BrowserAction browser = BrowserAction::None;
    QString browserTarget; // Navigate: the help page address
};

// The panel that creates a child with a special place in the layout tags it;
// untagged labels are captions, anything else is only moved.
void setLayoutKind(QObject* child, ChildKind kind);
// The tag set by setLayoutKind(), or `untagged`.
ChildKind layoutKind(const QObject* child, ChildKind untagged);

// The height of a caption of `lines` lines (MisuraAltezzaTesto's measure): a
// line is never shorter than 200 twips, taller when the font's lines are.
int captionHeight(int lines, int fontLineHeight = 0);

// OrdinaPannello as a computation. `makerHost` is looked for in the browser's
// address; `helpAddress` is where a browser off the maker's site is sent.
LayoutResult layoutPanel(const LayoutInput& input, const QString& makerHost,
                         const QString& helpAddress);

} // namespace kv::shell
