#pragma once
// Small helpers for building the administration panels at their design
// places (pixels). The window's panel layout re-stacks the panel's direct
// children by their tops, so each helper puts its child below the previous
// one; groups keep their own fixed inner places.

#include <QString>

class QLabel;
class QWidget;

namespace kv::ui {

inline constexpr int kPanelLeft = 8;
inline constexpr int kGroupWidth = 380;
inline constexpr int kLineHeight = 24;

// The index of a control in a control array ("picDetails" 0 to 8, "picIP" 0 and 1).
inline constexpr char kIndexProperty[] = "kvIndex";

// Heading of a section (bold).
QLabel* addTitle(QWidget* panel, const QString& text, int& top);
// A word-wrapped caption.
QLabel* addText(QWidget* panel, const QString& text, int& top, const QString& name = {});
// A separator ("lblSep").
QLabel* addSeparator(QWidget* panel, int& top);
// A group of controls, `height` pixels high; `index` >= 0 makes it an array element.
QWidget* addGroup(QWidget* panel, const QString& name, int index, int height, int& top);
// Places a direct child of the panel below the previous one.
void placeChild(QWidget* child, int height, int& top, int width = kGroupWidth);
// A small bold caption inside a group.
QLabel* groupCaption(QWidget* group, const QString& text, int x, int y, int width = 300);

} // namespace kv::ui
