// Builds the ACME rows of the FTPS group and shows what the server says.
#include "panels/ui/AcmeGroup.h"

#include "access/AccountDatabase.h"
#include "panels/logic/AcmeStateText.h"
#include "panels/logic/OptionEdit.h"
#include "panels/ui/CheckedBox.h"
#include "panels/ui/PanelHost.h"
#include "panels/ui/PanelParts.h"

#include <QEvent>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace kv::ui {

namespace {
constexpr int kBoxWidth = 200;
constexpr int kPollMs = 2000;
} // namespace

AcmeGroup::AcmeGroup(QWidget* panel, PanelHost& host, int& top)
    : QObject(panel), panel_(panel), host_(host) {
    setObjectName(QStringLiteral("AcmeGroup"));
    access::OptionsTable& table = host.views().options();
    addText(panel,
            QStringLiteral("Certificato riconosciuto da tutti i client, ottenuto e rinnovato da "
                           "solo da un'autorità ACME (Let's Encrypt): servono un nome che punti "
                           "al router e la porta di verifica inoltrata a questo PC. Un file di "
                           "certificato indicato sopra non viene mai sostituito."),
            top);
    for (const QString& option : admin::acmeOptions()) {
        const settings::OptionDef* def = table.catalog().find(option);
        QLineEdit* box = addOptionBox(panel, option, def ? def->caption : option, kBoxWidth, top);
        auto* checked = new CheckedBox(
            this, box, addReasonLine(panel, option, top), admin::optionApplier(table, option),
            admin::optionShower(table, option), [&host] { host.relayout(); });
        connect(checked, &CheckedBox::changed, this, [this] { refresh(); });
    }
    state_ = addText(panel, QString(), top, QStringLiteral("lblAcmeState"));
    state_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    error_ = addText(panel, QString(), top, QStringLiteral("lblAcmeError"));
    error_->setStyleSheet(QStringLiteral("color: red"));
    error_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    renew_ = new QPushButton(QStringLiteral("Rinnova ora"), panel);
    renew_->setObjectName(QStringLiteral("cmdAcmeRenew"));
    placeChild(renew_, kButtonHeight, top, 120);
    poll_ = new QTimer(this);
    poll_->setInterval(kPollMs);
    connect(poll_, &QTimer::timeout, this, [this] { refresh(); });
    connect(renew_, &QPushButton::clicked, this, [this] { refresh(true); });
    panel->installEventFilter(this);
    refresh();
}

bool AcmeGroup::eventFilter(QObject* watched, QEvent* event) {
    if (watched == panel_ && event->type() == QEvent::Show)
        refresh();
    return QObject::eventFilter(watched, event);
}

void AcmeGroup::refresh(bool renew) {
    QPointer<AcmeGroup> self(this);
    host_.askAcme(renew, [self](const QJsonObject& answer) {
        if (self)
            self->show(answer);
    });
}

void AcmeGroup::show(const QJsonObject& answer) {
    const QJsonObject acme = answer.value(QStringLiteral("acme")).toObject();
    const bool working = acme.value(QStringLiteral("working")).toBool();
    state_->setText(admin::acmeStateLine(acme));
    // A refused request (acme off, the server gone) says why in the same place.
    error_->setText(answer.value(QStringLiteral("ok")).toBool()
                        ? admin::acmeErrorLine(acme)
                        : answer.value(QStringLiteral("error")).toString());
    renew_->setEnabled(acme.value(QStringLiteral("enabled")).toBool() && !working);
    if (working && !poll_->isActive())
        poll_->start();
    else if (!working)
        poll_->stop();
}

} // namespace kv::ui
