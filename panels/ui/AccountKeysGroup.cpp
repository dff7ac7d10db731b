#include "panels/ui/AccountKeysGroup.h"

#include "panels/ui/PanelHost.h"
#include "panels/ui/PanelParts.h"

#include <QDir>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>

namespace kv::ui {

namespace {

constexpr int kCaptionHeight = 22;
constexpr int kListRows = 3;
constexpr int kListHeight = kGridRowHeight * (kListRows + 1) + 4;
constexpr int kGroupHeight = kCaptionHeight + kListHeight + 6 + kButtonHeight;

} // namespace

AccountKeysGroup::AccountKeysGroup(QWidget* panel, PanelHost& host, access::DataView& users,
                                   int index, int& top)
    : QObject(panel), panel_(panel), host_(host),
      logic_(users, host.messages(), host.connection()) {
    group_ = addGroup(panel, QStringLiteral("picDetails"), index, kGroupHeight, top);
    groupCaption(group_, QStringLiteral("Chiavi SFTP (accesso senza password)"), 0, 0);
    list_ = new QTableWidget(0, 2, group_);
    list_->setObjectName(QStringLiteral("lstKeys"));
    list_->setHorizontalHeaderLabels({QStringLiteral("Impronta"), QStringLiteral("Commento")});
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->verticalHeader()->hide();
    list_->verticalHeader()->setDefaultSectionSize(kGridRowHeight);
    list_->horizontalHeader()->setStretchLastSection(true);
    list_->setGeometry(0, kCaptionHeight, kGroupWidth, kListHeight);
    const int buttons = kCaptionHeight + kListHeight + 6;
    QPushButton* add = makeButton(group_, QStringLiteral("cmdAddKey"),
                                  QStringLiteral("Aggiungi chiave..."), 0, buttons, 150);
    QPushButton* remove = makeButton(group_, QStringLiteral("cmdRemoveKey"),
                                     QStringLiteral("Rimuovi chiave"), 156, buttons, 150);
    connect(add, &QPushButton::clicked, this, &AccountKeysGroup::addFromFile);
    connect(remove, &QPushButton::clicked, this, [this] { logic_.removeRow(list_->currentRow()); });
    connect(&logic_, &admin::AccountKeysLogic::changed, this, &AccountKeysGroup::showRows);
}

void AccountKeysGroup::showRows() {
    const QList<admin::KeyRow>& rows = logic_.rows();
    list_->setRowCount(int(rows.size()));
    for (int r = 0; r < rows.size(); ++r) {
        list_->setItem(r, 0, new QTableWidgetItem(rows[r].fingerprint));
        list_->setItem(r, 1, new QTableWidgetItem(rows[r].comment));
    }
    list_->resizeColumnToContents(0);
}

void AccountKeysGroup::addFromFile() {
    // Read here and now, so a file of this PC even when the server is another's.
    const QString file = host_.BrowseForLocalFile(
        panel_->window(), QStringLiteral("Scegli la chiave pubblica (.pub) dell'account:"),
        QDir::home().filePath(QStringLiteral(".ssh")));
    if (!file.isEmpty())
        logic_.addFromFile(file);
}

} // namespace kv::ui
