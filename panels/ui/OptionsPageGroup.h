#pragma once
// The "Altre opzioni" group of the Impostazioni panel: thin widgets over
// OptionsPageLogic, one row per setting no other group shows, built from the
// option catalog (caption, value, default). Each box is checked as every
// settings box is; a write-only option's box shows a mask, never the value.

#include "panels/logic/OptionsPageLogic.h"

#include <QList>
#include <QObject>

class QWidget;

namespace kv::ui {

class CheckedBox;
class PanelHost;

class OptionsPageGroup : public QObject {
    Q_OBJECT
public:
    OptionsPageGroup(QWidget* panel, PanelHost& host, int& top);
    ~OptionsPageGroup() override;

    // Shows the kept values again.
    void load();

private:
    admin::OptionsPageLogic logic_;
    QList<CheckedBox*> boxes_;
};

} // namespace kv::ui
