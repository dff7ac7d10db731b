// Builds the SFTP group of the Impostazioni panel and passes its changes on.
#include "panels/ui/SftpGroup.h"

#include "access/AccountDatabase.h"
#include "panels/logic/OptionEdit.h"
#include "panels/ui/CheckedBox.h"
#include "panels/ui/PanelHost.h"
#include "panels/ui/PanelParts.h"
#include "panels/ui/SftpHostKeysGroup.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>

namespace kv::ui {

namespace {
using namespace settings::option;
constexpr int kBoxWidth = 80;
} // namespace

SftpGroup::SftpGroup(QWidget* panel, PanelHost& host, int& top)
    : QObject(panel), logic_(host.views().options()) {
    setObjectName(QStringLiteral("SftpGroup"));
    access::OptionsTable& table = host.views().options();
    addTitle(panel, QStringLiteral("SFTP"), top);
    addText(panel,
            QStringLiteral("Con SFTP gli utenti si collegano con un client SSH (FileZilla, WinSCP, "
                           "sftp) usando gli stessi account dell'FTP, con password o con una "
                           "chiave (scheda Account). Indicare la porta su cui ascoltare, diversa "
                           "da quella dell'FTP; 0 lascia SFTP disattivato."),
            top);
    const settings::OptionDef* def = table.catalog().find(kSftpPort);
    QLineEdit* box = addOptionBox(panel, kSftpPort, def ? def->caption : kSftpPort, kBoxWidth, top);
    port_ = new CheckedBox(this, box, addReasonLine(panel, kSftpPort, top),
                           admin::optionApplier(table, kSftpPort),
                           admin::optionShower(table, kSftpPort), [&host] { host.relayout(); });
    passwords_ =
        new QCheckBox(QStringLiteral("Accesso con password (senza: solo con chiave)"), panel);
    passwords_->setObjectName(QStringLiteral("chkSftpPassword"));
    placeChild(passwords_, kCheckHeight, top);
    state_ = addText(panel, QString(), top, QStringLiteral("lblSftpState"));
    new SftpHostKeysGroup(panel, host, top);

    connect(port_, &CheckedBox::changed, this, &SftpGroup::refreshState);
    connect(passwords_, &QCheckBox::toggled, this, [this](bool on) {
        logic_.setPasswordLogins(on); // 0 or 1: never refused
        refreshState();
    });
    load();
}

void SftpGroup::load() {
    port_->reload();
    const QSignalBlocker block(passwords_);
    passwords_->setChecked(logic_.passwordLogins());
    refreshState();
}

void SftpGroup::refreshState() {
    state_->setText(logic_.stateText());
}

} // namespace kv::ui
