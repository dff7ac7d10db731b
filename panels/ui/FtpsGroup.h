#pragma once
// The "Connessioni protette (FTPS)" group of the settings panel: thin widgets
// over FtpsSettingsLogic. The boxes are checked as every settings box is
// (CheckedBox); a version the logic refuses says why on the line below the
// lists, which go back to the values kept.

#include "panels/logic/FieldEdit.h"
#include "panels/logic/FtpsSettingsLogic.h"

#include <QList>
#include <QObject>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace kv::ui {

class CheckedBox;
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
    void checkBox(QLineEdit* box, const QString& option, int& top);
    admin::FieldEdit::Shown shownText(const QString& option) const;
    // Shows or clears a list's refusal; true when the change was accepted.
    bool accepted(const std::optional<QString>& refusal);
    void browse(CheckedBox* checked, QLineEdit* box, const QString& prompt);
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
    QLabel* versionReason_ = nullptr;
    QList<CheckedBox*> boxes_; // implicit port, certificate, private key
};

} // namespace kv::ui
