#pragma once
// Small helpers for building panel contents at their design places (twips).
// The panel layout re-stacks them; the design tops only give their order.

#include <QString>

class QLabel;
class QWidget;

namespace kv::ui {

void placeInPanel(QWidget* widget, int left, int top, int width, int height);
// A panel heading (bold, larger); `top` advances past it.
QLabel* addPanelHeading(QWidget* panel, const QString& text, int& top);
// A word-wrapped caption label.
QLabel* addPanelCaption(QWidget* panel, const QString& text, int& top, bool bold = false);
// A separator label ("lblSep").
QLabel* addPanelSeparator(QWidget* panel, int& top);

} // namespace kv::ui
