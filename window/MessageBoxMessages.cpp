#include "window/MessageBoxMessages.h"

#include "desktop/SystemErrorText.h"

#include <QMessageBox>

namespace kv::ui {

void MessageBoxMessages::show(const QString& text, MessageIcon icon) {
    QMessageBox box(owner_ ? owner_.data() : nullptr);
    box.setWindowTitle(kProgramTitle);
    box.setText(shell::italianSystemErrors(text));
    box.setStandardButtons(QMessageBox::Ok);
    switch (icon) {
    case MessageIcon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case MessageIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MessageIcon::None:
        break;
    }
    box.exec();
}

void prepareQuestion(QMessageBox& box, const QString& text) {
    box.setWindowTitle(kProgramTitle);
    box.setText(shell::italianSystemErrors(text));
    box.setIcon(QMessageBox::Question);
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
}

bool MessageBoxMessages::confirm(const QString& text) {
    QMessageBox box(owner_ ? owner_.data() : nullptr);
    prepareQuestion(box, text);
    return box.exec() == QMessageBox::Yes;
}

} // namespace kv::ui
