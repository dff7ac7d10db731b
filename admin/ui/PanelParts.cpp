#include "admin/ui/PanelParts.h"

#include <QLabel>
#include <QWidget>

namespace kv::ui {

namespace {
constexpr int kGap = 8;

void bold(QWidget* widget) {
    QFont font = widget->font();
    font.setBold(true);
    widget->setFont(font);
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
    auto* label = new QLabel(text, panel);
    label->setObjectName(name);
    label->setWordWrap(true);
    placeChild(label, kLineHeight, top);
    return label;
}

QLabel* addSeparator(QWidget* panel, int& top) {
    auto* label = new QLabel(panel);
    label->setObjectName(QStringLiteral("lblSep"));
    placeChild(label, 1, top);
    return label;
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

} // namespace kv::ui
