// Builds the "Sicurezza" panel and saves the allow and block switches.
#include "panels/ui/SecurityPanel.h"

#include "access/AccountDatabase.h"
#include "panels/ui/IpListGroup.h"
#include "panels/ui/LoginProtectionGroup.h"
#include "panels/ui/PanelHost.h"
#include "panels/ui/PanelParts.h"

#include <QCheckBox>
#include <QLabel>
#include <QSqlQueryModel>

namespace kv::ui {

namespace {

const access::AddressList kLists[2] = {access::AddressList::Allow, access::AddressList::Block};

// An error of a list's own save (a typed entry the file refused) is shown
// with the database's own text.
void showListErrors(access::DataView& list, Messages& messages, QObject* context) {
    QObject::connect(&list, &access::DataView::Error, context,
                     [&messages](int number, const QString& text) {
                         messages.show(text.isEmpty() ? QString::number(number) : text,
                                       MessageIcon::Exclamation);
                     });
}

} // namespace

SecurityPanel::SecurityPanel(QWidget* panel, PanelHost& host) : QObject(panel), host_(host) {
    setObjectName(QStringLiteral("SecurityPanel"));
    access::AccountViews& views = host.views();
    switches_ = std::make_unique<admin::ListSwitchLogic>(views.Data2(), host.connection());

    struct ListText {
        const char* switchName;
        QString title;
        QString caption;
    };
    const ListText texts[2] = {
        {"chkIPok", QStringLiteral("IP autorizzati"),
         QStringLiteral("Consenti la connessione solo agli IP seguenti:")},
        {"chkIPko", QStringLiteral("IP bloccati"),
         QStringLiteral("Impedisci la connessione agli IP seguenti:")},
    };
    int top = kPanelTop;
    for (int i = 0; i < 2; ++i) {
        if (i == 1)
            addSeparator(panel, top);
        addTitle(panel, texts[i].title, top);
        auto* box = new QCheckBox(texts[i].caption, panel);
        box->setObjectName(QLatin1String(texts[i].switchName));
        placeChild(box, kCheckHeight, top);
        boxes_[i] = box;
        connect(box, &QCheckBox::clicked, this, [this, box, i] { switchClicked(box, kLists[i]); });
        lists_[i] = new IpListGroup(i, views.DataIP(i), host.messages(), panel);
        placeChild(lists_[i], lists_[i]->height(), top);
        showListErrors(views.DataIP(i), host.messages(), this);
    }
    addSeparator(panel, top);
    protection_ = new LoginProtectionGroup(panel, host, top);
    const auto show = [this] { showSwitches(); };
    connect(&views.Data2(), &access::DataView::Reposition, this, show);
    connect(views.Data2().model(), &QAbstractItemModel::modelReset, this, show);
    connect(views.Data2().model(), &QAbstractItemModel::dataChanged, this, show);
    showSwitches();
}

SecurityPanel::~SecurityPanel() = default;

void SecurityPanel::showSwitches() {
    for (int i = 0; i < 2; ++i) {
        if (!boxes_[i])
            continue;
        const std::optional<bool> on = switches_->shown(kLists[i]);
        // A null field shows greyed, and counts as on.
        boxes_[i]->setTristate(!on);
        boxes_[i]->setCheckState(!on ? Qt::PartiallyChecked : (*on ? Qt::Checked : Qt::Unchecked));
    }
}

void SecurityPanel::switchClicked(QCheckBox* box, access::AddressList list) {
    // A greyed box (on) clicked becomes ticked.
    const bool on = box->checkState() != Qt::Unchecked;
    if (const auto refusal = switches_->save(list, on))
        host_.messages().show(*refusal, MessageIcon::Exclamation);
    showSwitches();
}

} // namespace kv::ui
