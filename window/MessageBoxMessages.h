#pragma once
// Messages shown as modal message boxes with the program title as caption.

#include "core/Messages.h"

#include <QPointer>
#include <QWidget>

class QMessageBox;

namespace kv::ui {

// Sets `box` up as the yes/no question `text`, "No" the default button.
void prepareQuestion(QMessageBox& box, const QString& text);

class MessageBoxMessages : public Messages {
public:
    explicit MessageBoxMessages(QWidget* owner = nullptr) : owner_(owner) {}
    void setOwner(QWidget* owner) { owner_ = owner; }
    void show(const QString& text, MessageIcon icon) override;
    bool confirm(const QString& text) override;

private:
    QPointer<QWidget> owner_;
};

} // namespace kv::ui
