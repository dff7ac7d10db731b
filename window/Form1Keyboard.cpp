// The main window and the keyboard: F1 opens the help, and a control reached
// with Tab (or any focus change) is scrolled into view.
#include "window/Form1.h"

#include "layout/Twips.h"

#include <QApplication>
#include <QKeySequence>
#include <QScrollBar>
#include <QShortcut>
#include <algorithm>
#include <cmath>

namespace kv::ui {

namespace {
// Room left above or below a control scrolled into view, in pixels.
constexpr int kFocusMargin = 8;
constexpr int kHelpPosition = 6;
} // namespace

void Form1::buildShortcuts() {
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    help->setObjectName(QStringLiteral("helpShortcut"));
    connect(help, &QShortcut::activated, this, [this] { selectItem(kHelpPosition); });
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget*, QWidget* now) { scrollIntoView(now); });
}

void Form1::scrollIntoView(QWidget* focused) {
    QWidget* panel = picPanel_.at(pannelloCorrente_);
    if (!focused || !panel || !panel->isAncestorOf(focused) || !VScroll1->isEnabled() ||
        !VScroll1->isVisible())
        return;
    const int top = focused->mapTo(panel, QPoint(0, 0)).y();
    const int bottom = top + focused->height();
    const int shownTop = -panel->y();
    const int shownHeight = picMain->height();
    if (top >= shownTop && bottom <= shownTop + shownHeight)
        return;
    // A control taller than the viewport shows its top.
    const bool tall = focused->height() + 2 * kFocusMargin > shownHeight;
    const int wanted =
        top < shownTop || tall ? top - kFocusMargin : bottom - shownHeight + kFocusMargin;
    const int value = static_cast<int>(std::lround(pixelsToTwips(std::max(wanted, 0))));
    VScroll1->setValue(std::clamp(value, VScroll1->minimum(), VScroll1->maximum()));
}

} // namespace kv::ui
