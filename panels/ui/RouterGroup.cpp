// Builds the router group of the settings panel and passes its changes on.
#include "panels/ui/RouterGroup.h"

#include "access/AccountDatabase.h"
#include "panels/logic/OptionEdit.h"
#include "panels/ui/CheckedBox.h"
#include "panels/ui/PanelHost.h"
#include "panels/ui/PanelParts.h"

#include <QLabel>
#include <QLineEdit>

namespace kv::ui {

using namespace settings::option;

RouterGroup::RouterGroup(QWidget* panel, PanelHost& host, int& top,
                         std::function<QString()> controlPort)
    : QObject(panel), host_(host), logic_(host.views().options()),
      controlPort_(std::move(controlPort)) {
    setObjectName(QStringLiteral("RouterGroup"));
    addTitle(panel, QStringLiteral("Connessioni dall'esterno (router/NAT)"), top);
    addText(panel,
            QStringLiteral("Se il PC è dietro un router e gli utenti si collegano da Internet, il "
                           "router deve inoltrare a questo PC la porta del server e le porte dei "
                           "dati in modalità passiva. Indicare qui quelle porte e l'indirizzo "
                           "pubblico del router (o il suo nome, per esempio di un servizio DNS "
                           "dinamico); i client della rete locale continuano a ricevere "
                           "l'indirizzo a cui si collegano."),
            top);
    QLineEdit* ports = addTextBox(
        panel, QStringLiteral("Porte passive (per esempio 50000-50100; vuoto = qualsiasi):"),
        QStringLiteral("txtPassivePorts"), 180, top);
    checkBox(ports, kPassivePorts, panel, top);
    QLineEdit* address = addTextBox(
        panel,
        QStringLiteral("Indirizzo pubblico o nome del router (vuoto = l'indirizzo a cui il "
                       "client si collega):"),
        QStringLiteral("txtPassiveAddress"), 270, top);
    checkBox(address, kPassiveAddress, panel, top);
    advice_ = addText(panel, QString(), top, QStringLiteral("lblForwarding"));
    advice_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    refreshAdvice();
}

void RouterGroup::checkBox(QLineEdit* box, const QString& option, QWidget* panel, int& top) {
    access::OptionsTable& table = logic_.table();
    auto* checked = new CheckedBox(
        this, box, addReasonLine(panel, option, top), admin::optionApplier(table, option),
        admin::optionShower(table, option), [this] { host_.relayout(); });
    connect(checked, &CheckedBox::changed, this, &RouterGroup::refreshAdvice);
    boxes_.append(checked);
}

void RouterGroup::load() {
    for (CheckedBox* box : std::as_const(boxes_))
        box->reload();
    refreshAdvice();
}

void RouterGroup::refreshAdvice() {
    advice_->setText(logic_.forwardingText(controlPort_ ? controlPort_() : QString()));
}

} // namespace kv::ui
