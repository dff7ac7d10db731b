// The panel-building helpers shared by every panel (see PanelParts.h).
#include "panels/ui/PanelParts.h"

#include "layout/PanelLayout.h"
#include "layout/Twips.h"
#include "panels/ui/RefusalMark.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QWidget>
#include <algorithm>

namespace kv::ui {

namespace {
constexpr int kGap = 8;

void bold(QWidget* widget) {
    QFont font = widget->font();
    font.setBold(true);
    widget->setFont(font);
}

template <typename T> T* named(T* control, const QString& name, const QRect& place) {
    control->setObjectName(name);
    control->setGeometry(place);
    return control;
}

QLabel* wrappedLabel(QWidget* panel, const QString& text) {
    auto* label = new QLabel(text, panel);
    label->setWordWrap(true);
    return label;
}
} // namespace

void placeChild(QWidget* child, int height, int& top, int width) {
    child->setGeometry(kPanelLeft, top, width, height);
    top += height + kGap;
}

QLabel* addTitle(QWidget* panel, const QString& text, int& top) {
    QLabel* label = addText(panel, text, top);
    bold(label);
    return label;
}

QLabel* addText(QWidget* panel, const QString& text, int& top, const QString& name) {
    QLabel* label = wrappedLabel(panel, text);
    label->setObjectName(name);
    placeChild(label, kLineHeight, top);
    return label;
}

QLabel* addSeparator(QWidget* panel, int& top) {
    auto* label = new QLabel(panel);
    label->setObjectName(QStringLiteral("lblSep"));
    shell::setLayoutKind(label, shell::ChildKind::Separator);
    placeChild(label, 1, top);
    return label;
}

QLabel* addReasonLine(QWidget* panel, const QString& name, int& top) {
    QLabel* label = addText(panel, QString(), top, QStringLiteral("lblRefusal_") + name);
    label->setStyleSheet(QStringLiteral("color: %1;").arg(QLatin1String(kRefusalColor)));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->hide();
    return label;
}

void showBelow(QWidget* line, QWidget* anchor, bool visible, int offset) {
    QWidget* row = anchor;
    while (row && row->parentWidget() != line->parentWidget())
        row = row->parentWidget();
    if (visible && row)
        line->move(line->x(), row->y() + offset);
    line->setVisible(visible);
}

void fitButtonRow(const QList<QPushButton*>& buttons, int width, int gap) {
    int x = 0;
    for (QPushButton* button : buttons) {
        const int fitted = std::max(width, button->sizeHint().width());
        button->setGeometry(x, button->y(), fitted, button->height());
        x += fitted + gap;
    }
    // The group grows rather than cutting the last button off.
    if (!buttons.isEmpty()) {
        QWidget* group = buttons.first()->parentWidget();
        if (group && group->width() < x - gap)
            group->resize(x - gap, group->height());
    }
}

QWidget* addGroup(QWidget* panel, const QString& name, int index, int height, int& top) {
    auto* group = new QWidget(panel);
    group->setObjectName(name);
    if (index >= 0)
        group->setProperty(kIndexProperty, index);
    placeChild(group, height, top);
    return group;
}

QLabel* groupCaption(QWidget* group, const QString& text, int x, int y, int width) {
    auto* label = new QLabel(text, group);
    bold(label);
    label->setGeometry(x, y, width, 20);
    return label;
}

QPushButton* makeButton(QWidget* parent, const QString& name, const QString& text, int x, int y,
                        int width) {
    return named(new QPushButton(text, parent), name, QRect(x, y, width, kButtonHeight));
}

QLineEdit* addTextBox(QWidget* panel, const QString& caption, const QString& name, int width,
                      int& top) {
    addText(panel, caption, top);
    auto* box = new QLineEdit(panel);
    box->setObjectName(name);
    placeChild(box, kLineHeight, top, width);
    return box;
}

QLineEdit* addOptionBox(QWidget* panel, const QString& option, const QString& text, int boxWidth,
                        int& top) {
    auto* caption = new QLabel(text);
    caption->setWordWrap(true);
    caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    const int captionWidth = kGroupWidth - boxWidth - 8;
    const int height = std::max(kLineHeight, caption->heightForWidth(captionWidth));
    QWidget* row = addGroup(panel, QStringLiteral("pic_") + option, -1, height, top);
    auto* box = makeBox(row, QStringLiteral("txt_") + option, 0, 0, boxWidth);
    caption->setParent(row);
    caption->setGeometry(boxWidth + 8, 0, captionWidth, height);
    return box;
}

QLineEdit* makeBox(QWidget* parent, const QString& name, int x, int y, int width) {
    return named(new QLineEdit(parent), name, QRect(x, y, width, kLineHeight));
}

QCheckBox* makeCheck(QWidget* parent, const QString& name, const QString& text, int x, int y,
                     int width) {
    return named(new QCheckBox(text, parent), name, QRect(x, y, width, kCheckHeight));
}

void placeInPanel(QWidget* widget, int left, int top, int width, int height) {
    widget->setGeometry(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                        twipsToPixels(height));
}

QLabel* addPanelHeading(QWidget* panel, const QString& text, int& top) {
    QLabel* label = wrappedLabel(panel, text);
    label->setObjectName(QStringLiteral("lblHeading"));
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.25);
    label->setFont(font);
    label->setStyleSheet(QStringLiteral("color: #1f3a5f;"));
    placeInPanel(label, kPanelMarginTwips, top, kPanelTextWidthTwips, 300);
    top += 400;
    return label;
}

QLabel* addPanelCaption(QWidget* panel, const QString& text, int& top, bool bold) {
    QLabel* label = wrappedLabel(panel, text);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    if (bold)
        kv::ui::bold(label);
    placeInPanel(label, kPanelMarginTwips, top, kPanelTextWidthTwips, 230);
    top += 350;
    return label;
}

QLabel* addPanelSeparator(QWidget* panel, int& top) {
    auto* label = new QLabel(panel);
    label->setObjectName(QStringLiteral("lblSep"));
    shell::setLayoutKind(label, shell::ChildKind::Separator);
    placeInPanel(label, kPanelMarginTwips, top, kPanelTextWidthTwips, 15);
    top += 120;
    return label;
}

QTableWidget* addRowList(QWidget* panel, const QStringList& columns, const QString& name, int rows,
                         int& top) {
    auto* list = new QTableWidget(0, int(columns.size()), panel);
    list->setObjectName(name);
    list->setHorizontalHeaderLabels(columns);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->verticalHeader()->hide();
    list->verticalHeader()->setDefaultSectionSize(kGridRowHeight);
    list->horizontalHeader()->setStretchLastSection(true);
    placeChild(list, kGridRowHeight * (rows + 1) + 4, top);
    return list;
}

} // namespace kv::ui
