#pragma once
// The "Limiti di velocità e quote" group of the settings panel: thin widgets
// over SpeedLimitsLogic. A box per rate with its Mbit/s equivalent beside it,
// checked as every settings box is (CheckedBox), the local network's
// exemption and the quota warning share.

#include "panels/logic/SpeedLimitsLogic.h"

#include <QList>
#include <QObject>

class QCheckBox;
class QLabel;
class QLineEdit;
class QWidget;

namespace kv::ui {

class CheckedBox;
class PanelHost;

class SpeedLimitsGroup : public QObject {
    Q_OBJECT
public:
    // Builds the controls into `panel` from `top` (advanced past them).
    SpeedLimitsGroup(QWidget* panel, PanelHost& host, int& top);

    // Shows the kept values again.
    void load();

private:
    QLineEdit* addRateBox(QWidget* panel, const QString& option, int& top);
    void refreshSummary();

    admin::SpeedLimitsLogic logic_;
    QList<CheckedBox*> boxes_;
    QCheckBox* localExempt_ = nullptr;
    QLabel* summary_ = nullptr;
};

} // namespace kv::ui
