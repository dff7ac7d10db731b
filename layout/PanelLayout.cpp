#include "layout/PanelLayout.h"

#include <QVariant>
#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace kv::shell {

namespace {

// The gap between stacked children, also above the first and below the last.
constexpr int kLayoutGap = 120;
constexpr int kScrollBarInset = 45;
constexpr int kPanelWidthInset = 30;
constexpr int kLogBoxBottomMargin = 120;
// Each of the two address lists gets half the viewport less this reserve.
constexpr int kIpListReserve = 1320;
constexpr int kGridBorder = 15;
constexpr int kMinimumGridRows = 5;
constexpr int kLineHeight = 200;
constexpr int kCaptionExtra = 30;
// The help panel's browser fills the viewport, so it never scrolls.
constexpr int kHelpPanel = 5;

// A length the window cannot take (negative) is not applied.
std::optional<int> usable(long long length) {
    if (length < 0 || length > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(length);
}

struct Stacker {
    const LayoutInput& in;
    const QString& makerHost;
    const QString& helpAddress;
    LayoutResult& out;
    int panelWidth = 0;
    int panelHeight = 0;

    // Places one child at `y` and returns the height it takes.
    int place(const LayoutChild& c, ChildPlacement& p, long long& y) {
        p.top = static_cast<int>(y);
        switch (c.kind) {
        case ChildKind::Separator:
            p.height = 0;
            p.clearCaption = true;
            return 0;
        case ChildKind::Caption: {
            p.width = usable(static_cast<long long>(panelWidth) - 2LL * c.left);
            const int width = p.width.value_or(c.width);
            p.height = usable(in.measure ? in.measure(c.caption, width) : captionHeight(1));
            return p.height.value_or(c.height);
        }
        case ChildKind::IpList: {
            const long long available =
                std::llround(static_cast<double>(in.viewportHeight) / 2.0 - kIpListReserve);
            long long rows = c.gridRowHeight > 0 ? (available - kGridBorder) / c.gridRowHeight : 0;
            rows = std::max<long long>(rows, kMinimumGridRows);
            const long long grid = static_cast<long long>(c.gridRowHeight) * rows + kGridBorder;
            p.height = usable(c.commandHeight + grid);
            p.gridHeight =
                usable(p.height.value_or(c.height) - static_cast<long long>(c.commandHeight));
            p.commandTop = p.gridHeight;
            return p.height.value_or(c.height);
        }
        case ChildKind::LogBox:
            p.height = usable(static_cast<long long>(in.viewportHeight) - y - kLogBoxBottomMargin);
            p.width = usable(static_cast<long long>(panelWidth) - 2LL * c.left);
            return p.height.value_or(c.height);
        case ChildKind::OnlineList:
            p.width = usable(static_cast<long long>(panelWidth) - 2LL * c.left);
            p.height = usable(static_cast<long long>(panelHeight) - kOnlineListReserve);
            return p.height.value_or(c.height);
        case ChildKind::Browser: {
            p.top = 0;
            p.height = usable(static_cast<long long>(in.viewportHeight) - kPanelWidthInset);
            p.width = usable(static_cast<long long>(in.viewportWidth) - kPanelWidthInset);
            const int height = p.height.value_or(c.height);
            // The browser covers the viewport and adds nothing to the content height.
            y = y - height - kLayoutGap;
            if (const auto w = usable(static_cast<long long>(in.viewportWidth) - kPanelWidthInset))
                out.panelWidth = *w;
            if (in.browserAddress.contains(makerHost)) {
                out.browser = BrowserAction::Reload;
            } else {
                out.browser = BrowserAction::Navigate;
                out.browserTarget = helpAddress;
            }
            return height;
        }
        case ChildKind::Other:
            break;
        }
        return c.height;
    }
};

} // namespace

namespace {
constexpr char kLayoutKindProperty[] = "kvLayoutKind";
} // namespace

void setLayoutKind(QObject* child, ChildKind kind) {
    child->setProperty(kLayoutKindProperty, static_cast<int>(kind));
}

ChildKind layoutKind(const QObject* child, ChildKind untagged) {
    const QVariant tag = child->property(kLayoutKindProperty);
    return tag.isValid() ? static_cast<ChildKind>(tag.toInt()) : untagged;
}

int captionHeight(int lines, int fontLineHeight) {
    return std::max(lines, 1) * std::max(kLineHeight, fontLineHeight) + kCaptionExtra;
}

LayoutResult layoutPanel(const LayoutInput& in, const QString& makerHost,
                         const QString& helpAddress) {
    LayoutResult out;
    if (!in.windowVisible)
        return out;
    out.applied = true;

    out.scrollBarLeft = in.viewportWidth - in.scrollBarWidth - kScrollBarInset;
    out.scrollBarHeight = usable(static_cast<long long>(in.viewportHeight) - kScrollBarInset);
    out.panelWidth =
        usable(static_cast<long long>(in.viewportWidth) - in.scrollBarWidth - kPanelWidthInset);

    Stacker stacker{in, makerHost, helpAddress, out};
    stacker.panelWidth = out.panelWidth.value_or(in.currentPanelWidth);
    stacker.panelHeight = in.viewportHeight;

    // Children are taken by their current top; equal tops keep collection order,
    // so two children at the same place end up one under the other.
    QList<int> order(in.children.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return in.children[a].top < in.children[b].top; });

    out.children.resize(in.children.size());
    long long y = 0;
    for (int i : order) {
        y += kLayoutGap;
        const int taken = stacker.place(in.children[i], out.children[i], y);
        y += taken;
    }
    y += kLayoutGap;
    if (in.viewportHeight > y)
        y = in.viewportHeight;

    out.panelHeight = usable(y);
    out.scrollEnabled = y > in.viewportHeight;
    out.scrollVisible = in.panelIndex != kHelpPanel;
    if (out.scrollEnabled) {
        const long long hidden = y - in.viewportHeight;
        if (hidden <= std::numeric_limits<qint16>::max())
            out.scrollMax = static_cast<int>(hidden);
    }
    return out;
}

} // namespace kv::shell
