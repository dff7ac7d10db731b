#pragma once
// The one mark of a refused value, on a box or a grid cell's editor alike: a
// red frame, the reason as tooltip and in the widget's "kvRefusal" property.
// Where the reason is also said in words (the line below a settings box, the
// account panel's status line, the folder editor's line) it is in the same red.

#include <QString>

class QWidget;

namespace kv::ui {

// The red of the frame and of the lines that say why.
inline constexpr char kRefusalColor[] = "#c00000";

// Marks `widget` with `reason`; an empty reason takes the mark off (its own
// tooltip comes back).
void markRefusal(QWidget* widget, const QString& reason);
// The reason `widget` is marked with ("" when none).
QString refusalOf(const QWidget* widget);

} // namespace kv::ui
