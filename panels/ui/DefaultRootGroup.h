#pragma once
// The "Percorso di default" group of the Impostazioni panel: the default root
// box with "Sfoglia ...", checked as every settings box is; a warning while
// the root shares the whole disk, with "Usa una cartella condivisa" to put a
// folder made for sharing in its place; and a question before the operator
// chooses the whole disk (typed or picked), whose "no" keeps the old root.

#include <QObject>

class QLabel;
class QLineEdit;
class QWidget;

namespace kv::admin {
class SettingsRowEdit;
}

namespace kv::ui {

class CheckedBox;
class PanelHost;

class DefaultRootGroup : public QObject {
    Q_OBJECT
public:
    DefaultRootGroup(QWidget* panel, PanelHost& host, admin::SettingsRowEdit& row, int& top);

    CheckedBox* box() const { return checked_; }
    QString boxText() const;
    // "Usa una cartella condivisa".
    void useSharedFolder();

private:
    void browse();
    void refreshWarning();

    QWidget* panel_;
    PanelHost& host_;
    admin::SettingsRowEdit& row_;
    QLineEdit* txtRoot_ = nullptr;
    CheckedBox* checked_ = nullptr;
    QLabel* warning_ = nullptr;
    QWidget* sharedRow_ = nullptr;
};

} // namespace kv::ui
