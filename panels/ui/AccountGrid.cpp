// The account grid of the "Account" panel with its cover and buttons.
#include "panels/ui/AccountGrid.h"

#include "access/DataView.h"
#include "layout/Twips.h"
#include "panels/logic/AccountPanelLogic.h"
#include "panels/ui/AccountPanelPassword.h"
#include "panels/ui/CheckedCellDelegate.h"
#include "panels/ui/ListGrid.h"
#include "panels/ui/PanelParts.h"

#include <QEvent>
#include <QFocusEvent>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <QTableView>

namespace kv::ui {

namespace {
constexpr int kGridTop = 20;
constexpr int kColumnWidth = 180;
} // namespace

AccountGrid::AccountGrid(QWidget* panel, access::DataView& users, admin::AccountPanelLogic& logic,
                         int& top)
    : QObject(panel), users_(users), logic_(logic) {
    setObjectName(QStringLiteral("AccountGrid"));
    const int gridHeight =
        twipsToPixels(admin::accountGridCover(kGridRowHeight * kTwipsPerPixel, 0, 0).gridHeight);
    QWidget* group =
        addGroup(panel, QStringLiteral("picGrid"), -1, kGridTop + gridHeight + 36, top);
    (new QLabel(QStringLiteral("Login"), group))->setGeometry(2, 0, kColumnWidth, 18);
    (new QLabel(QStringLiteral("Password"), group))
        ->setGeometry(2 + kColumnWidth, 0, kColumnWidth, 18);

    grid_ = makeListGrid(group, QStringLiteral("DBGrid1"), users_,
                         {QStringLiteral("login"), QStringLiteral("password")});
    grid_->setGeometry(0, kGridTop, kGroupWidth, gridHeight);
    const QSqlRecord record = users_.tableModel()->record();
    grid_->setColumnWidth(record.indexOf(QStringLiteral("login")), kColumnWidth);
    grid_->setColumnWidth(record.indexOf(QStringLiteral("password")), kColumnWidth);
    grid_->setItemDelegateForColumn(record.indexOf(QStringLiteral("password")),
                                    new PasswordColumnDelegate(logic_, grid_));
    auto* logins = new CheckedCellDelegate(
        [this](const QModelIndex& index, const QString& typed) {
            return logic_.loginProblemAt(index.row(), typed);
        },
        grid_);
    connect(logins, &CheckedCellDelegate::refusalChanged, this, &AccountGrid::refusalChanged);
    grid_->setItemDelegateForColumn(record.indexOf(QStringLiteral("login")), logins);
    grid_->installEventFilter(this);
    // Moving commits the row being left, which re-reads the model: done
    // after the grid's own handling of the click.
    onRowChosen(grid_, this, &syncing_, [this](int row) { selectRow(row); });

    cover_ = new QWidget(group);
    cover_->setObjectName(QStringLiteral("picOnGrid1"));
    cover_->setAutoFillBackground(true);
    cover_->setBackgroundRole(QPalette::Window);
    cover_->setGeometry(0, kGridTop, kGroupWidth, gridHeight);

    const int buttonsTop = kGridTop + gridHeight + 8;
    QPushButton* add = makeButton(group, QStringLiteral("cmdAdd"), QStringLiteral("Nuovo account"),
                                  0, buttonsTop, 140);
    add->setToolTip(QStringLiteral("Aggiungi account"));
    QPushButton* remove = makeButton(group, QStringLiteral("cmdDelete"),
                                     QStringLiteral("Elimina account"), 150, buttonsTop, 140);
    remove->setToolTip(QStringLiteral("Elimina account"));
    // The new account's login box takes the focus (newAccountStarted).
    connect(add, &QPushButton::clicked, this, [this] { logic_.cmdAdd(); });
    connect(remove, &QPushButton::clicked, this, [this] { logic_.cmdDelete(); });

    QAbstractItemModel* model = users_.model();
    connect(model, &QAbstractItemModel::rowsInserted, this, &AccountGrid::updateCover);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &AccountGrid::updateCover);
}

void AccountGrid::selectRow(int row) {
    // A login just refused would be refused again on the way out: the
    // operator stays on the row, with what was typed, to correct it.
    if (row != users_.currentRow() && !logic_.holdsRefusedLogin())
        users_.setCurrentRow(row);
    // A refused move (the row left could not be saved) keeps the old row.
    Q_EMIT rowChosen();
}

void AccountGrid::showCurrent() {
    syncing_ = true;
    showCurrentRow(grid_, users_, QStringLiteral("login"));
    syncing_ = false;
    updateCover();
}

void AccountGrid::updateCover() {
    const int rowHeight = grid_->verticalHeader()->defaultSectionSize() * kTwipsPerPixel;
    const admin::AccountGridCover cover =
        admin::accountGridCover(rowHeight, grid_->y() * kTwipsPerPixel, users_.RecordCount());
    grid_->resize(grid_->width(), twipsToPixels(cover.gridHeight));
    cover_->setVisible(cover.visible);
    if (cover.visible) {
        cover_->setGeometry(grid_->x(), twipsToPixels(cover.top), grid_->width(),
                            twipsToPixels(cover.height));
        cover_->raise();
    }
}

bool AccountGrid::eventFilter(QObject* watched, QEvent* event) {
    // Entering the grid writes the current account back; focus coming back
    // from another window (a message box) does not.
    if (watched == grid_ && event->type() == QEvent::FocusIn) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            logic_.saveCurrent();
    }
    return QObject::eventFilter(watched, event);
}

} // namespace kv::ui
