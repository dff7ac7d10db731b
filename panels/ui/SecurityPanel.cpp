// Builds the "Sicurezza" panel and answers the allow and block switches.
#include "panels/ui/SecurityPanel.h"

#include "access/AccountDatabase.h"
#include "panels/ui/IpListGroup.h"
#include "panels/ui/LoginProtectionGroup.h"
#include "panels/ui/PanelHost.h"
#include "panels/ui/PanelParts.h"
#include "panels/ui/ViewBinder.h"

#include <QCheckBox>
#include <QLabel>

namespace kv::ui {

namespace {

bool boxOn(const QCheckBox* box) {
    return box->checkState() != Qt::Unchecked;
}

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
    binder_ = new ViewBinder(views.Data2(), this);

    struct ListText {
        const char* switchName;
        QString title;
        QString caption;
        QString field;
    };
    const ListText texts[2] = {
        {"chkIPok", QStringLiteral("IP autorizzati"),
         QStringLiteral("Consenti la connessione solo agli IP seguenti:"), QStringLiteral("IPok")},
        {"chkIPko", QStringLiteral("IP bloccati"),
         QStringLiteral("Impedisci la connessione agli IP seguenti:"), QStringLiteral("IPko")},
    };
    int top = kPanelTop;
    for (int i = 0; i < 2; ++i) {
        if (i == 1)
            addSeparator(panel, top);
        addTitle(panel, texts[i].title, top);
        auto* box = new QCheckBox(texts[i].caption, panel);
        box->setObjectName(QLatin1String(texts[i].switchName));
        placeChild(box, kCheckHeight, top);
        binder_->bind(box, texts[i].field);
        (i == 0 ? chkIPok_ : chkIPko_) = box;
        lists_[i] = new IpListGroup(i, views.DataIP(i), host.messages(), panel);
        placeChild(lists_[i], lists_[i]->height(), top);
        showListErrors(views.DataIP(i), host.messages(), this);
    }
    addSeparator(panel, top);
    protection_ = new LoginProtectionGroup(panel, host, top);
    host_.setListSwitches(this);
}

SecurityPanel::~SecurityPanel() {
    host_.setListSwitches(nullptr);
}

bool SecurityPanel::BlockListOn() const {
    return chkIPko_ ? boxOn(chkIPko_)
                    : access::SettingsSwitchOn(host_.views().Data2(), QStringLiteral("IPko"));
}

bool SecurityPanel::AllowListOn() const {
    return chkIPok_ ? boxOn(chkIPok_)
                    : access::SettingsSwitchOn(host_.views().Data2(), QStringLiteral("IPok"));
}

} // namespace kv::ui
