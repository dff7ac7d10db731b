// Builds the default root group and keeps its whole-disk warning current.
#include "panels/ui/DefaultRootGroup.h"

#include "panels/logic/RootFolderLogic.h"
#include "panels/logic/SettingsRowEdit.h"
#include "panels/ui/CheckedBox.h"
#include "panels/ui/PanelHost.h"
#include "panels/ui/PanelParts.h"
#include "settings/OptionCatalog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace kv::ui {

using settings::setting::kRootDir;

DefaultRootGroup::DefaultRootGroup(QWidget* panel, PanelHost& host, admin::SettingsRowEdit& row,
                                   int& top)
    : QObject(panel), panel_(panel), host_(host), row_(row) {
    setObjectName(QStringLiteral("DefaultRootGroup"));
    addTitle(panel, QStringLiteral("Percorso di default"), top);
    addText(panel,
            QStringLiteral("La \"root directory\" è la cartella a cui gli utenti avranno accesso "
                           "dopo il login. Specificarne il percorso di default (che sarà "
                           "utilizzato se non è stata attribuita una diversa \"root directory\" "
                           "all'account):"),
            top);
    QWidget* root = addGroup(panel, QStringLiteral("picRoot"), -1, kButtonHeight, top);
    txtRoot_ = new QLineEdit(root);
    txtRoot_->setObjectName(QStringLiteral("txtRoot"));
    txtRoot_->setGeometry(0, 1, 270, kLineHeight);
    QPushButton* browse = makeButton(root, QStringLiteral("cmdBrowseRoot"),
                                     QStringLiteral("Sfoglia ..."), 276, 0, 96);
    QLabel* reason = addReasonLine(panel, kRootDir, top);

    warning_ = addText(panel, admin::wholeDiskRootWarning(), top, QStringLiteral("lblWholeDisk"));
    warning_->setStyleSheet(QStringLiteral("color: #9a5b00; font-weight: bold;"));
    sharedRow_ = addGroup(panel, QStringLiteral("picSharedRoot"), -1, kButtonHeight, top);
    QPushButton* useShared = makeButton(sharedRow_, QStringLiteral("cmdSharedRoot"),
                                        admin::kUseSharedFolderText, 0, 0, 200);
    fitButtonRow({useShared}, 200);

    checked_ = new CheckedBox(
        this, txtRoot_, reason,
        [this, store = admin::defaultRootStore(row_)](const QString& text, admin::EditStep step) {
            return admin::changeRoot(store, text, step, host_.messages());
        },
        row_.shower(kRootDir), [this] { host_.relayout(); });
    connect(checked_, &CheckedBox::changed, this, &DefaultRootGroup::refreshWarning);
    connect(browse, &QPushButton::clicked, this, &DefaultRootGroup::browse);
    connect(useShared, &QPushButton::clicked, this, &DefaultRootGroup::useSharedFolder);
    refreshWarning();
}

QString DefaultRootGroup::boxText() const {
    return txtRoot_->text();
}

void DefaultRootGroup::browse() {
    const QString chosen = host_.BrowseForFolder(
        panel_->window(), QStringLiteral("Seleziona la root di default:"), txtRoot_->text());
    if (!chosen.isEmpty())
        checked_->pick(chosen);
}

void DefaultRootGroup::useSharedFolder() {
    const admin::SharedRootChoice choice =
        admin::prepareSharedRoot(admin::sharedRootFor(host_.dataFolder()));
    if (!choice.error.isEmpty()) {
        host_.messages().show(choice.error, MessageIcon::Exclamation);
        return;
    }
    checked_->pick(choice.folder);
}

void DefaultRootGroup::refreshWarning() {
    // The warning follows what the row keeps, not a text still being typed.
    const bool warns = admin::warnsWholeDisk(row_.shown(kRootDir));
    if (warns == !warning_->isHidden())
        return;
    // Below the root box and its reason line, wherever the layout put them.
    showBelow(warning_, txtRoot_, warns, 2);
    showBelow(sharedRow_, txtRoot_, warns, 3);
    if (panel_->isVisible()) // a panel out of sight is laid out when it is shown
        host_.relayout();
}

} // namespace kv::ui
