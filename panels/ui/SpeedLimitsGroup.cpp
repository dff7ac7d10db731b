// Builds the rates group of the settings panel and passes its changes on.
#include "panels/ui/SpeedLimitsGroup.h"

#include "access/AccountDatabase.h"
#include "panels/logic/LimitUnits.h"
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
constexpr int kBoxWidth = 90;
constexpr int kEquivalentWidth = 110;
} // namespace

SpeedLimitsGroup::SpeedLimitsGroup(QWidget* panel, PanelHost& host, int& top)
    : QObject(panel), logic_(host.views().options()) {
    setObjectName(QStringLiteral("SpeedLimitsGroup"));
    addTitle(panel, QStringLiteral("Limiti di velocità e quote"), top);
    addText(panel,
            QStringLiteral("Velocità in KiB/s (1 KiB/s = 8.192 bit/s; si può scrivere anche, per "
                           "esempio, \"80 Mbit/s\"); 0 = nessun limite. \"In ricezione\" è ciò "
                           "che il server riceve (upload dai client), \"in invio\" ciò che "
                           "manda (download verso i client). Il limite di un indirizzo vale "
                           "per tutte le sue sessioni insieme, FTP e SFTP. I limiti e le quote "
                           "di ogni account sono nella scheda Account."),
            top);
    access::OptionsTable& table = host.views().options();
    const auto relayout = [&host] { host.relayout(); };
    for (const QString& option : admin::SpeedLimitsLogic::options()) {
        if (option == kRateLocalExempt) {
            localExempt_ = new QCheckBox(logic_.caption(option), panel);
            localExempt_->setObjectName(QStringLiteral("chkRateLocalExempt"));
            placeChild(localExempt_, kCheckHeight, top);
            continue;
        }
        const bool rate = admin::SpeedLimitsLogic::rateOptions().contains(option);
        QLineEdit* box = rate ? addRateBox(panel, option, top)
                              : addOptionBox(panel, option, logic_.caption(option), kBoxWidth, top);
        admin::FieldEdit::Apply apply = [this, option](const QString& text, admin::EditStep) {
            const auto refusal = logic_.change(option, text);
            return refusal ? admin::EditVerdict::refused(*refusal) : admin::EditVerdict::kept();
        };
        auto* checked =
            new CheckedBox(this, box, addReasonLine(panel, option, top), std::move(apply),
                           admin::optionShower(table, option), relayout);
        connect(checked, &CheckedBox::changed, this, &SpeedLimitsGroup::refreshSummary);
        boxes_.append(checked);
    }
    summary_ = addText(panel, QString(), top, QStringLiteral("lblRateSummary"));
    connect(localExempt_, &QCheckBox::toggled, this, [this](bool on) {
        logic_.setLocalExempt(on); // 0 or 1: never refused
        refreshSummary();
    });
    load();
}

QLineEdit* SpeedLimitsGroup::addRateBox(QWidget* panel, const QString& option, int& top) {
    auto* caption = new QLabel(logic_.caption(option));
    caption->setWordWrap(true);
    caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    const int captionLeft = kBoxWidth + kEquivalentWidth + 12;
    const int captionWidth = kGroupWidth - captionLeft;
    const int height = std::max(kLineHeight, caption->heightForWidth(captionWidth));
    QWidget* row = addGroup(panel, QStringLiteral("pic_") + option, -1, height, top);
    QLineEdit* box = makeBox(row, QStringLiteral("txt_") + option, 0, 0, kBoxWidth);
    auto* equivalent = new QLabel(row);
    equivalent->setObjectName(QStringLiteral("lblMbit_") + option);
    equivalent->setGeometry(kBoxWidth + 6, 0, kEquivalentWidth, kLineHeight);
    caption->setParent(row);
    caption->setGeometry(captionLeft, 0, captionWidth, height);
    connect(box, &QLineEdit::textChanged, equivalent, [equivalent](const QString& text) {
        equivalent->setText(admin::rateEquivalent(text));
    });
    return box;
}

void SpeedLimitsGroup::load() {
    for (CheckedBox* box : std::as_const(boxes_))
        box->reload();
    const QSignalBlocker block(localExempt_);
    localExempt_->setChecked(logic_.localExempt());
    refreshSummary();
}

void SpeedLimitsGroup::refreshSummary() {
    summary_->setText(logic_.summary());
}

} // namespace kv::ui
