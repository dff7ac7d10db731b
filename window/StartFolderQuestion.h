#pragma once
// The question the plain menu entry asks a member of the service's group on
// a PC where the service is installed: open the service's server, or one's
// own? "Non chiedere più" (ticked at first) keeps the answer; the menu entry's
// "Scegli quale server aprire" (kestrova --choose) asks again.

#include "core/StartFolderChoice.h"

#include <QMessageBox>

class QCheckBox;
class QPushButton;

namespace kv::ui {

struct StartFolderAnswer {
    StartFolder folder = StartFolder::Own;
    bool remember = false;
};

class StartFolderQuestion : public QMessageBox {
    Q_OBJECT
public:
    explicit StartFolderQuestion(QWidget* parent = nullptr);

    QPushButton* serviceButton() const { return service_; }
    QPushButton* ownButton() const { return own_; }
    QCheckBox* dontAskAgain() const { return dontAsk_; }
    // Once answered (Esc chooses one's own server); kept when "Non chiedere
    // più" is ticked.
    StartFolderAnswer answer() const;

private:
    QPushButton* service_;
    QPushButton* own_;
    QCheckBox* dontAsk_;
};

} // namespace kv::ui
