// Builds the protection group of the Sicurezza panel and passes its changes on.
#include "panels/ui/LoginProtectionGroup.h"

#include "access/AccountDatabase.h"
#include "core/ServerSource.h"
#include "panels/logic/OptionEdit.h"
#include "panels/ui/CheckedBox.h"
#include "panels/ui/PanelHost.h"
#include "panels/ui/PanelParts.h"
#include "session/LoginBans.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <algorithm>

namespace kv::ui {

namespace {
constexpr int kListRows = 4;
constexpr int kRefreshMs = 5000; // the minutes left stay current
constexpr int kBoxWidth = 70;
} // namespace

LoginProtectionGroup::LoginProtectionGroup(QWidget* panel, PanelHost& host, int& top)
    : QObject(panel), host_(host), logic_(host.views().options(), host.loginBans()) {
    setObjectName(QStringLiteral("LoginProtectionGroup"));
    addTitle(panel, QStringLiteral("Protezione dagli accessi ripetuti"), top);
    addText(panel,
            QStringLiteral("Un indirizzo che sbaglia l'accesso troppe volte viene bloccato per "
                           "un po'; ogni accesso fallito riceve la risposta dopo un secondo."),
            top);
    access::OptionsTable& table = host.views().options();
    for (const QString& option : admin::LoginProtectionLogic::options()) {
        QLineEdit* box = addOptionBox(panel, option, logic_.caption(option), kBoxWidth, top);
        boxes_.append(new CheckedBox(
            this, box, addReasonLine(panel, option, top), admin::optionApplier(table, option),
            admin::optionShower(table, option), [&host] { host.relayout(); }));
    }
    buildList(panel, top);
    load();
    if (session::LoginBans* bans = host.loginBans())
        connect(bans, &session::LoginBans::changed, this, &LoginProtectionGroup::refreshBans);
    connect(&tick_, &QTimer::timeout, this, &LoginProtectionGroup::refreshBans);
    tick_.start(kRefreshMs);
}

void LoginProtectionGroup::buildList(QWidget* panel, int& top) {
    addText(panel, QStringLiteral("Indirizzi bloccati temporaneamente"), top);
    list_ = addRowList(panel, admin::LoginProtectionLogic::columns(), QStringLiteral("GridBans"),
                       kListRows, top);
    unblock_ = new QPushButton(QStringLiteral("Sblocca"), panel);
    unblock_->setObjectName(QStringLiteral("cmdUnban"));
    placeChild(unblock_, kButtonHeight, top, 96);
    connect(list_, &QTableWidget::itemSelectionChanged, this,
            [this] { unblock_->setEnabled(!list_->selectedItems().isEmpty()); });
    connect(unblock_, &QPushButton::clicked, this, [this] {
        const QList<QTableWidgetItem*> chosen = list_->selectedItems();
        if (!chosen.isEmpty())
            logic_.unblock(list_->item(chosen.first()->row(), 0)->text());
        refreshBans();
    });
}

void LoginProtectionGroup::load() {
    for (CheckedBox* box : std::as_const(boxes_))
        box->reload();
    refreshBans();
}

void LoginProtectionGroup::setServer(ServerSource* server) {
    disconnect(serverBans_);
    logic_.setServer(server);
    if (server)
        serverBans_ =
            connect(server, &ServerSource::bansChanged, this, &LoginProtectionGroup::refreshBans);
    refreshBans();
}

void LoginProtectionGroup::refreshBans() {
    const QList<admin::BannedRow> rows = logic_.rows();
    const QString chosen = list_->selectedItems().isEmpty()
                               ? QString()
                               : list_->item(list_->selectedItems().first()->row(), 0)->text();
    // Filled afresh: a removed row must not pass its selection to another.
    list_->clearSelection();
    list_->setRowCount(0);
    list_->setRowCount(int(rows.size()));
    for (int r = 0; r < rows.size(); ++r) {
        const QString cells[] = {rows[r].address, QString::number(rows[r].attempts),
                                 QString::number(rows[r].minutesLeft)};
        for (int c = 0; c < 3; ++c)
            list_->setItem(r, c, new QTableWidgetItem(cells[c]));
        if (rows[r].address == chosen)
            list_->selectRow(r);
    }
    unblock_->setEnabled(!list_->selectedItems().isEmpty());
}

} // namespace kv::ui
