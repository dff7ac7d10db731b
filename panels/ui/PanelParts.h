#pragma once
// The one set of helpers every panel is built with. The administration panels
// place their children at design places in pixels, the window's own panels
// (log, online) in twips; both end up re-stacked by the window's panel layout,
// which only reads the design tops for their order. Twips become pixels
// through twipsToPixels() alone, so every panel rounds the same way.

#include <QList>
#include <QString>
#include <QStringList>

class QTableWidget;

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace kv::ui {

// Pixel design places of the administration panels.
inline constexpr int kPanelLeft = 8;
inline constexpr int kPanelTop = 8;
inline constexpr int kGroupWidth = 380;
inline constexpr int kLineHeight = 24;
inline constexpr int kButtonHeight = 26;
inline constexpr int kCheckHeight = 22;
// Row height of the account grid and of the address lists.
inline constexpr int kGridRowHeight = 20;

// Twips design places of the window's own panels.
inline constexpr int kPanelMarginTwips = 120;
inline constexpr int kPanelTextWidthTwips = 6000;

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
// A caption and, below it, a named text box `width` pixels wide.
QLineEdit* addTextBox(QWidget* panel, const QString& caption, const QString& name, int width,
                      int& top);
// An option's row: its text box ("txt_" + option, in group "pic_" + option)
// `boxWidth` wide, with the caption beside it, wrapped, the row growing to hold it.
QLineEdit* addOptionBox(QWidget* panel, const QString& option, const QString& caption, int boxWidth,
                        int& top);
// The line under a box that says why its text is refused ("lblRefusal_" +
// `name`): red, word-wrapped, hidden until there is a reason.
QLabel* addReasonLine(QWidget* panel, const QString& name, int& top);
// Shows or hides `line`, a direct child of the panel, keeping it just below
// `anchor` (a child of the panel, or a control inside one) and `offset` pixels
// past its top: the panel's layout orders children by where they stand, and
// a line that was hidden still stands where it was built.
void showBelow(QWidget* line, QWidget* anchor, bool visible, int offset = 1);
// Lays `buttons` (children of one group) out from the left, `gap` apart,
// each as wide as `width` or as its text needs, whichever is wider.
void fitButtonRow(const QList<QPushButton*>& buttons, int width, int gap = 6);
// Places a direct child of the panel below the previous one.
void placeChild(QWidget* child, int height, int& top, int width = kGroupWidth);
// A read-only list of whole rows, one selected at a time, `rows` rows high
// under its header, placed at `top`.
QTableWidget* addRowList(QWidget* panel, const QStringList& columns, const QString& name, int rows,
                         int& top);
// A small bold caption inside a group.
QLabel* groupCaption(QWidget* group, const QString& text, int x, int y, int width = 300);
// Named controls at a place inside a group (pixels).
QPushButton* makeButton(QWidget* parent, const QString& name, const QString& text, int x, int y,
                        int width);
QLineEdit* makeBox(QWidget* parent, const QString& name, int x, int y, int width);
QCheckBox* makeCheck(QWidget* parent, const QString& name, const QString& text, int x, int y,
                     int width);

// Twips: places `widget` at a design place given in twips.
void placeInPanel(QWidget* widget, int left, int top, int width, int height);
// A panel heading (bold, larger); `top` (twips) advances past it.
QLabel* addPanelHeading(QWidget* panel, const QString& text, int& top);
// A word-wrapped caption label.
QLabel* addPanelCaption(QWidget* panel, const QString& text, int& top, bool bold = false);
// A separator label ("lblSep").
QLabel* addPanelSeparator(QWidget* panel, int& top);

} // namespace kv::ui
