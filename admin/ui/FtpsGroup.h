#pragma once
// The "Connessioni protette (FTPS)" group of the settings panel: thin widgets
// over FtpsSettingsLogic. A change the logic refuses is shown with the
// catalog's message and the control goes back to the value kept.

#include "admin/logic/FtpsSettingsLogic.h"

#include <QObject>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace kv::ui {

class PanelHost;

class FtpsGroup : public QObject {
    Q_OBJECT
public:
    // Builds the controls into `panel` from `top` (advanced past them).
    FtpsGroup(QWidget* panel, PanelHost& host, int& top);

    // Shows the kept values again (pending edits over the stored ones).
    void load();

private:
    void buildControls(QWidget* panel, int& top);
    void connectControls();
    // Shows a refusal and the kept values; true when the change was accepted.
    bool accepted(const std::optional<QString>& refusal);
    void browse(QLineEdit* box, const QString& prompt, const QString& option);
    void refreshCertificate();

    QWidget* panel_;
    PanelHost& host_;
    admin::FtpsSettingsLogic logic_;
    bool loading_ = false;
    QComboBox* mode_ = nullptr;
    QLineEdit* port_ = nullptr;
    QLineEdit* certificate_ = nullptr;
    QLineEdit* key_ = nullptr;
    QLabel* certificateLine_ = nullptr;
    QPushButton* generate_ = nullptr;
    QCheckBox* reuse_ = nullptr;
    QComboBox* minVersion_ = nullptr;
    QComboBox* maxVersion_ = nullptr;
};

} // namespace kv::ui
