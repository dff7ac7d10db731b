// Builds the "Limiti" group of the Account panel and passes its changes on.
#include "panels/ui/AccountLimitsGroup.h"

#include "panels/logic/LimitUnits.h"
#include "panels/ui/CheckedBox.h"
#include "panels/ui/PanelHost.h"
#include "panels/ui/PanelParts.h"
#include "panels/ui/RefusalMark.h"

#include <QCalendarWidget>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace kv::ui {

namespace {

using access::LimitField;

constexpr int kCaptionHeight = 22;
constexpr int kRowLabelWidth = 100;
constexpr int kColumnWidth = 140;
constexpr int kRateBoxWidth = 50;
constexpr int kHeaderHeight = 30;
constexpr int kTextHeight = 18;

QLabel* label(QWidget* group, const QString& name, const QString& text, int x, int y, int width,
              int height = kTextHeight) {
    auto* shown = new QLabel(text, group);
    shown->setObjectName(name);
    shown->setWordWrap(true);
    shown->setGeometry(x, y, width, height);
    return shown;
}

} // namespace

AccountLimitsGroup::AccountLimitsGroup(QWidget* panel, PanelHost& host, const QString& suffix,
                                       int& top, std::function<QString()> savedLogin)
    : QObject(panel), host_(host), logic_(host.connection(), std::move(savedLogin)),
      suffix_(suffix) {
    int y = kCaptionHeight;
    // Built in a free-standing widget first: its height is known at the end.
    auto* content = new QWidget;
    group_ = content;
    groupCaption(group_, QStringLiteral("Limiti"), 0, 0);
    label(group_, named(QStringLiteral("lblLimitsHelp")),
          QStringLiteral("Velocità in KiB/s (si può scrivere anche \"80 Mbit/s\"), 0 = nessun "
                         "limite. \"Tutto l'account\" vale per tutte le sue sessioni insieme, "
                         "FTP e SFTP. In ricezione: ciò che il client manda (upload); in invio: "
                         "ciò che scarica (download)."),
          0, y, kGroupWidth, 4 * kTextHeight);
    y += 4 * kTextHeight + 4;
    buildRates(y);
    buildQuota(y);
    buildExpiry(y);
    reason_ = label(group_, named(QStringLiteral("lblLimitsRefusal")), QString(), 0, y, kGroupWidth,
                    2 * kTextHeight);
    reason_->setStyleSheet(QStringLiteral("color: %1;").arg(QLatin1String(kRefusalColor)));
    y += 2 * kTextHeight;

    QWidget* placed = addGroup(panel, named(QStringLiteral("picLimits")), -1, y, top);
    content->setParent(placed);
    content->setGeometry(0, 0, kGroupWidth, y);
    content->show();
    group_ = placed;
    logic_.setWritten([this] { host_.wroteAccountsFile(); });
    refresh();
}

QString AccountLimitsGroup::named(const QString& name) const {
    return name + suffix_;
}

CheckedBox* AccountLimitsGroup::checked(QLineEdit* box, admin::FieldEdit::Apply apply,
                                        admin::FieldEdit::Shown shown) {
    // Written to accounts.dat at once: only a box left is kept. A value given
    // (shown again) is never written back: a quota shown in MiB stays exact.
    admin::FieldEdit::Apply keepLeft = [apply = std::move(apply)](const QString& text,
                                                                  admin::EditStep step) {
        return step == admin::EditStep::Given ? admin::EditVerdict::kept() : apply(text, step);
    };
    auto* made = new CheckedBox(this, box, nullptr, std::move(keepLeft), std::move(shown), {},
                                admin::FieldEdit::Keeping::WhenLeft);
    connect(made, &CheckedBox::refusalChanged, this,
            [this](const QString&) { reason_->setText(refusal()); });
    connect(made, &CheckedBox::changed, this, &AccountLimitsGroup::showLines);
    boxes_.append(made);
    return made;
}

QString AccountLimitsGroup::refusal() const {
    for (const CheckedBox* box : boxes_) {
        if (!box->refusal().isEmpty())
            return box->refusal();
    }
    return {};
}

void AccountLimitsGroup::buildRates(int& y) {
    const int left[2] = {kRowLabelWidth, kRowLabelWidth + kColumnWidth};
    const auto capitalized = [](QString text) { return text.replace(0, 1, text.at(0).toUpper()); };
    const QString headers[2] = {capitalized(admin::kUpDirection),
                                capitalized(admin::kDownDirection)};
    for (int c = 0; c < 2; ++c)
        label(group_, {}, headers[c], left[c], y, kColumnWidth - 4, kHeaderHeight);
    y += kHeaderHeight;
    const struct {
        QString caption;
        LimitField up, down;
    } rows[] = {
        {QStringLiteral("Tutto l'account:"), LimitField::RateUp, LimitField::RateDown},
        {QStringLiteral("Ogni sessione:"), LimitField::SessionRateUp, LimitField::SessionRateDown}};
    for (const auto& row : rows) {
        label(group_, {}, row.caption, 0, y + 3, kRowLabelWidth - 4);
        int c = 0;
        for (const LimitField field : {row.up, row.down}) {
            const access::LimitFieldDef& def = access::limitField(field);
            QLineEdit* box = makeBox(group_, named(QStringLiteral("txt_") + def.column), left[c], y,
                                     kRateBoxWidth);
            box->setToolTip(def.caption);
            QLabel* mbit = label(group_, named(QStringLiteral("lblMbit_") + def.column), QString(),
                                 left[c] + kRateBoxWidth + 4, y, kColumnWidth - kRateBoxWidth - 6,
                                 kLineHeight);
            mbit->setWordWrap(false);
            connect(box, &QLineEdit::textChanged, mbit,
                    [mbit](const QString& text) { mbit->setText(admin::rateEquivalent(text)); });
            checked(
                box,
                [this, field](const QString& text, admin::EditStep) {
                    const auto refused = logic_.setRate(field, text);
                    return refused ? admin::EditVerdict::refused(*refused)
                                   : admin::EditVerdict::kept();
                },
                [this, field] { return logic_.rateShown(field); });
            ++c;
        }
        y += kLineHeight + 6;
    }
}

void AccountLimitsGroup::buildQuota(int& y) {
    label(group_, {}, QStringLiteral("Quota:"), 0, y + 3, kRowLabelWidth - 4);
    QLineEdit* bytes =
        makeBox(group_, named(QStringLiteral("txt_quota_bytes")), kRowLabelWidth, y, 70);
    bytes->setToolTip(QStringLiteral("0 = nessuna quota; anche con l'unità: 1536M, 2G"));
    unit_ = new QComboBox(group_);
    unit_->setObjectName(named(QStringLiteral("cboQuotaUnit")));
    unit_->addItems({admin::unitName(admin::SizeUnit::MiB), admin::unitName(admin::SizeUnit::GiB)});
    unit_->setGeometry(kRowLabelWidth + 74, y, 60, kLineHeight);
    const auto unit = [this] { return admin::SizeUnit(unit_->currentIndex()); };
    CheckedBox* quota = checked(
        bytes,
        [this, unit](const QString& text, admin::EditStep) {
            const auto refused = logic_.setQuota(text, unit());
            return refused ? admin::EditVerdict::refused(*refused) : admin::EditVerdict::kept();
        },
        [this, unit] { return admin::numberInUnit(logic_.limits().quotaBytes, unit()); });
    // Another unit shows the same quota in it; nothing is written.
    connect(unit_, &QComboBox::currentIndexChanged, quota, &CheckedBox::load);

    label(group_, {}, QStringLiteral("file:"), kRowLabelWidth + 144, y + 3, 30);
    QLineEdit* files =
        makeBox(group_, named(QStringLiteral("txt_quota_files")), kRowLabelWidth + 176, y, 80);
    files->setToolTip(access::limitField(LimitField::QuotaFiles).caption +
                      QStringLiteral(" (0 = nessuna)"));
    checked(
        files,
        [this](const QString& text, admin::EditStep) {
            const auto refused = logic_.setQuotaFiles(text);
            return refused ? admin::EditVerdict::refused(*refused) : admin::EditVerdict::kept();
        },
        [this] { return logic_.quotaFilesShown(); });
    y += kLineHeight + 4;
    usage_ = label(group_, named(QStringLiteral("lblQuotaUsage")), QString(), 0, y, kGroupWidth);
    y += kTextHeight;
    overlap_ = label(group_, named(QStringLiteral("lblQuotaOverlap")), QString(), 0, y, kGroupWidth,
                     2 * kTextHeight);
    y += 2 * kTextHeight + 4;
}

void AccountLimitsGroup::buildExpiry(int& y) {
    label(group_, {}, QStringLiteral("Ultimo giorno valido:"), 0, y + 3, 140);
    expires_ = new QDateEdit(group_);
    expires_->setObjectName(named(QStringLiteral("dtExpires")));
    expires_->setCalendarPopup(true);
    expires_->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
    expires_->setMinimumDate(admin::kNeverInDateBox);
    expires_->setSpecialValueText(QStringLiteral("mai"));
    expires_->setGeometry(144, y, 110, kLineHeight);
    QPushButton* never = makeButton(group_, named(QStringLiteral("cmdExpiresNever")),
                                    QStringLiteral("Mai"), 260, y - 1, 60);
    // Written when chosen in the calendar or when the box is left, never
    // while a day is half typed (a day already past would end the account).
    connect(expires_, &QDateEdit::editingFinished, this,
            [this] { chooseExpiry(expires_->date()); });
    connect(expires_->calendarWidget(), &QCalendarWidget::clicked, this,
            &AccountLimitsGroup::chooseExpiry);
    connect(never, &QPushButton::clicked, this, [this] { chooseExpiry(admin::kNeverInDateBox); });
    y += kLineHeight + 4;
    expiryState_ =
        label(group_, named(QStringLiteral("lblExpiryState")), QString(), 0, y, kGroupWidth);
    y += kTextHeight + 2;
}

void AccountLimitsGroup::chooseExpiry(const QDate& shown) {
    // Leaving the box unchanged writes nothing, even for a date the box
    // cannot show (one before its lowest day shows as "mai").
    if (shown == admin::dateBoxOf(logic_.limits().expires))
        return;
    const auto refused = logic_.setExpires(admin::expiryFromDateBox(shown));
    reason_->setText(refused.value_or(QString()));
    const QSignalBlocker block(expires_);
    expires_->setDate(admin::dateBoxOf(logic_.limits().expires));
    showLines();
}

void AccountLimitsGroup::refresh() {
    const qint32 before = logic_.accountId();
    logic_.refresh();
    // Another account drops what was typed for the last; the same one
    // keeps a box being edited.
    const bool another = logic_.accountId() != before || !shownOnce_;
    shownOnce_ = true;
    if (another) {
        const QSignalBlocker block(unit_);
        unit_->setCurrentIndex(int(logic_.quotaShown().unit));
    }
    for (CheckedBox* box : std::as_const(boxes_)) {
        if (another)
            box->load();
        else
            box->reload();
    }
    const QSignalBlocker block(expires_);
    expires_->setDate(admin::dateBoxOf(logic_.limits().expires));
    reason_->clear();
    showLines();
}

void AccountLimitsGroup::setQuotaSources(admin::QuotaUsageSource usage,
                                         admin::OverlapSource overlaps) {
    logic_.setUsageSource(std::move(usage));
    logic_.setOverlapSource(std::move(overlaps));
    showLines();
}

void AccountLimitsGroup::showLines() {
    usage_->setText(logic_.usageText());
    overlap_->setText(logic_.overlapText());
    expiryState_->setText(logic_.hasAccount() ? logic_.expiryText(QDate::currentDate())
                                              : QString());
}

} // namespace kv::ui
