#pragma once
// The Account panel's "Limiti" group, for an account or for the anonymous
// account: speeds in ricezione and in invio (the account's total and each
// session's) with their Mbit/s beside them, the quota in MiB or GiB and in
// files with the space used, and the expiry date with a calendar ("mai" for
// none). Thin over AccountLimitsLogic, which writes each change at once.

#include "panels/logic/AccountLimitsLogic.h"
#include "panels/logic/FieldEdit.h"

#include <QList>
#include <QObject>

class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QWidget;

namespace kv::ui {

class CheckedBox;
class PanelHost;

class AccountLimitsGroup : public QObject {
    Q_OBJECT
public:
    // Adds the group ("picLimits" + `suffix`, its controls' names ending
    // with `suffix` too) to `panel` at `top` (advanced past it);
    // `savedLogin` names the account (see AccountLimitsLogic; unset: the
    // anonymous account).
    AccountLimitsGroup(QWidget* panel, PanelHost& host, const QString& suffix, int& top,
                       std::function<QString()> savedLogin = {});

    QWidget* group() const { return group_; }
    admin::AccountLimitsLogic& logic() { return logic_; }
    // Shows the limits of the account named now.
    void refresh();
    // Where the space used and the overlapping accounts come from.
    void setQuotaSources(admin::QuotaUsageSource usage, admin::OverlapSource overlaps);
    // Why the last value typed was refused; empty when it was not.
    QString refusal() const;

private:
    void buildRates(int& y);
    void buildQuota(int& y);
    void buildExpiry(int& y);
    CheckedBox* checked(QLineEdit* box, admin::FieldEdit::Apply apply,
                        admin::FieldEdit::Shown shown);
    void showLines();
    void chooseExpiry(const QDate& shown);
    QString named(const QString& name) const;

    PanelHost& host_;
    admin::AccountLimitsLogic logic_;
    QWidget* group_ = nullptr;
    QList<CheckedBox*> boxes_;
    QComboBox* unit_ = nullptr;
    QDateEdit* expires_ = nullptr;
    QLabel* usage_ = nullptr;
    QLabel* overlap_ = nullptr;
    QLabel* expiryState_ = nullptr;
    QLabel* reason_ = nullptr;
    QString suffix_;
    bool shownOnce_ = false;
};

} // namespace kv::ui
