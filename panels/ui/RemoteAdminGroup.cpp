// Builds the remote administration group of the Impostazioni panel.
#include "panels/ui/RemoteAdminGroup.h"

#include "access/AccountDatabase.h"
#include "adminchannel/AdminCertificate.h"
#include "adminchannel/RemoteAdmin.h"
#include "panels/logic/OptionEdit.h"
#include "panels/ui/CheckedBox.h"
#include "panels/ui/PanelHost.h"
#include "panels/ui/PanelParts.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>

namespace kv::ui {

namespace {
using namespace settings::option;
constexpr int kBoxWidth = 240;
} // namespace

RemoteAdminGroup::RemoteAdminGroup(QWidget* panel, PanelHost& host, int& top)
    : QObject(panel), host_(host) {
    setObjectName(QStringLiteral("RemoteAdminGroup"));
    access::OptionsTable& table = host.views().options();
    addTitle(panel, QStringLiteral("Amministrazione remota"), top);
    addText(panel,
            QStringLiteral("Permette di amministrare questo server da un altro PC, con una "
                           "connessione protetta (TLS 1.3) e una password propria, da impostare "
                           "con \"kestrova admin passwd\". La porta suggerita è %1; 0 la lascia "
                           "disattivata.")
                .arg(kDefaultAdminPort),
            top);
    for (const QString& option : {kAdminPort, kAdminAddress, kAdminAllowed}) {
        const settings::OptionDef* def = table.catalog().find(option);
        QLineEdit* box = addOptionBox(panel, option, def ? def->caption : option, kBoxWidth, top);
        boxes_.append(new CheckedBox(
            this, box, addReasonLine(panel, option, top), admin::optionApplier(table, option),
            admin::optionShower(table, option), [&host] { host.relayout(); }));
    }
    const settings::OptionDef* def = table.catalog().find(kAdminRemoteActions);
    actions_ = new QCheckBox(def ? def->caption : kAdminRemoteActions, panel);
    actions_->setObjectName(QStringLiteral("chkAdminRemoteActions"));
    placeChild(actions_, kCheckHeight, top);
    connect(actions_, &QCheckBox::toggled, this, [&table](bool on) {
        table.setPending(kAdminRemoteActions, on ? QStringLiteral("1") : QStringLiteral("0"));
    });
    fingerprint_ = addText(panel, QString(), top, QStringLiteral("lblAdminFingerprint"));
    fingerprint_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    load();
}

void RemoteAdminGroup::load() {
    for (CheckedBox* box : std::as_const(boxes_))
        box->reload();
    const QSignalBlocker block(actions_);
    actions_->setChecked(host_.views().options().value(kAdminRemoteActions) == QLatin1String("1"));
    const QString fingerprint = adminFingerprintOfFile(adminCertificateFile(host_.dataFolder()));
    fingerprint_->setText(
        fingerprint.isEmpty()
            ? QStringLiteral("Il certificato di amministrazione sarà creato al primo avvio "
                             "con la porta attiva (o da \"kestrova admin fingerprint\").")
            : QStringLiteral("Impronta del certificato: %1").arg(fingerprint));
}

} // namespace kv::ui
