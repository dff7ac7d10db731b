// Builds the router group of the settings panel and passes its changes on.
#include "admin/ui/RouterGroup.h"

#include "access/AccountDatabase.h"
#include "admin/ui/PanelHost.h"
#include "admin/ui/PanelParts.h"

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
    ports_ = addTextBox(
        panel, QStringLiteral("Porte passive (per esempio 50000-50100; vuoto = qualsiasi):"),
        QStringLiteral("txtPassivePorts"), 180, top);
    address_ = addTextBox(
        panel,
        QStringLiteral("Indirizzo pubblico o nome del router (vuoto = l'indirizzo a cui il "
                       "client si collega):"),
        QStringLiteral("txtPassiveAddress"), 270, top);
    advice_ = addText(panel, QString(), top, QStringLiteral("lblForwarding"));
    advice_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    load();
    connectBox(ports_, kPassivePorts);
    connectBox(address_, kPassiveAddress);
}

void RouterGroup::connectBox(QLineEdit* box, const QString& option) {
    // Each keystroke that forms a valid value keeps it, as the bound boxes
    // do; the value is judged aloud when the operator leaves the box.
    connect(box, &QLineEdit::textEdited, this, [this, option](const QString& text) {
        if (logic_.change(option, text))
            logic_.forget(option);
        refreshAdvice();
    });
    connect(box, &QLineEdit::editingFinished, this, [this, box, option] {
        if (loading_)
            return;
        if (const auto refusal = logic_.change(option, box->text())) {
            // The kept value comes back before the message, so that the focus
            // the message takes does not judge the refused text again.
            load();
            host_.messages().show(*refusal, MessageIcon::Exclamation);
        }
    });
}

void RouterGroup::load() {
    loading_ = true;
    const admin::RouterForm form = logic_.load();
    if (ports_->text() != form.passivePorts)
        ports_->setText(form.passivePorts);
    if (address_->text() != form.passiveAddress)
        address_->setText(form.passiveAddress);
    loading_ = false;
    refreshAdvice();
}

void RouterGroup::refreshAdvice() {
    advice_->setText(logic_.forwardingText(controlPort_ ? controlPort_() : QString()));
}

} // namespace kv::ui
