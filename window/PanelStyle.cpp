#include "window/PanelStyle.h"

#include "shell/Twips.h"

#include <QLabel>

namespace kv::ui {

void placeInPanel(QWidget* widget, int left, int top, int width, int height) {
    widget->setGeometry(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                        twipsToPixels(height));
}

QLabel* addPanelHeading(QWidget* panel, const QString& text, int& top) {
    auto* label = new QLabel(text, panel);
    label->setObjectName(QStringLiteral("lblHeading"));
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.25);
    label->setFont(font);
    label->setStyleSheet(QStringLiteral("color: #1f3a5f;"));
    label->setWordWrap(true);
    placeInPanel(label, 120, top, 6000, 300);
    top += 400;
    return label;
}

QLabel* addPanelCaption(QWidget* panel, const QString& text, int& top, bool bold) {
    auto* label = new QLabel(text, panel);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    if (bold) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    placeInPanel(label, 120, top, 6000, 230);
    top += 350;
    return label;
}

QLabel* addPanelSeparator(QWidget* panel, int& top) {
    auto* label = new QLabel(panel);
    label->setObjectName(QStringLiteral("lblSep"));
    placeInPanel(label, 120, top, 6000, 15);
    top += 120;
    return label;
}

} // namespace kv::ui
