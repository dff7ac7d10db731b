#pragma once
// Applies the panel layout to real widgets: describes the visible children of
// a panel container for layoutPanel(), measures captions with the labels'
// font, and moves and sizes the children, the panel and the scroll bar.
// An address list group (IpListGroup) is asked for its grid and button strip;
// the other children by the layout kind their panel tagged them with
// (separator, log box, online list, browser); any other QLabel is a caption.

#include "layout/PanelLayout.h"

#include <QFont>
#include <QString>
#include <functional>

class QScrollBar;
class QWidget;

namespace kv::ui {

// Height in twips of `text` word-wrapped at `widthTwips` in `font`: lines x
// the line height (200 twips, or the font's line spacing when taller) + 30.
int MisuraAltezzaTesto(const QString& text, int widthTwips, const QFont& font);

struct ArrangeHooks {
    std::function<void()> adattaColonneOnline; // after the online list is sized
    std::function<QString()> browserAddress;   // the help browser's address
    std::function<void(shell::BrowserAction, const QString&)> browse;
};

// OrdinaPannello(Index) for `panel` inside `viewport`; `windowVisible` false
// changes nothing.
void arrangePanel(int index, QWidget* panel, QWidget* viewport, QScrollBar* bar, bool windowVisible,
                  const ArrangeHooks& hooks);

} // namespace kv::ui
