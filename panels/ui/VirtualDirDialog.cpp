#include "panels/ui/VirtualDirDialog.h"

#include "panels/ui/CheckedBox.h"
#include "panels/ui/PanelHost.h"
#include "panels/ui/RefusalMark.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace kv::ui {

namespace {

QLineEdit* makeBox(const QString& name, QWidget* parent) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(name);
    return box;
}

QPushButton* makeButton(const QString& name, const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

} // namespace

VirtualDirDialog::VirtualDirDialog(const QSqlDatabase& db, int owner, PanelHost& host,
                                   QWidget* parent)
    : QDialog(parent), host_(host), list_(db, owner, this) {
    setObjectName(QStringLiteral("frmVirtualDir"));
    setWindowTitle(QStringLiteral("Cartelle virtuali"));
    setModal(true);

    auto* listFrame = new QGroupBox(QStringLiteral("Elenco cartelle virtuali dell'account"), this);
    grid_ = new QTableView(listFrame);
    grid_->setObjectName(QStringLiteral("DBGrid1"));
    grid_->setModel(&list_);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->verticalHeader()->hide();
    grid_->horizontalHeader()->setStretchLastSection(true);
    grid_->setColumnWidth(0, 140);
    grid_->setColumnWidth(1, 200);
    grid_->setMinimumHeight(160);
    QPushButton* add = makeButton(QStringLiteral("cmdNuova"), QStringLiteral("Nuova"), listFrame);
    QPushButton* remove =
        makeButton(QStringLiteral("cmdElimina"), QStringLiteral("Elimina"), listFrame);
    auto* listButtons = new QHBoxLayout;
    listButtons->addWidget(add);
    listButtons->addWidget(remove);
    listButtons->addStretch();
    auto* listLayout = new QVBoxLayout(listFrame);
    listLayout->addWidget(grid_);
    listLayout->addLayout(listButtons);

    auto* virtualFrame = new QGroupBox(QStringLiteral("Cartella virtuale"), this);
    txtName_ = makeBox(QStringLiteral("txtName"), virtualFrame);
    txtVirtualPath_ = makeBox(QStringLiteral("txtVirtualPath"), virtualFrame);
    QPushButton* browseVirtual =
        makeButton(QStringLiteral("cmdBrowseVirtual"), QStringLiteral("Sfoglia..."), virtualFrame);
    txtCompletePath_ = makeBox(QStringLiteral("txtCompletePath"), virtualFrame);
    txtCompletePath_->setReadOnly(true);
    auto* virtualLayout = new QGridLayout(virtualFrame);
    virtualLayout->addWidget(new QLabel(QStringLiteral("Nome cartella virtuale:")), 0, 0);
    virtualLayout->addWidget(txtName_, 0, 1);
    virtualLayout->addWidget(new QLabel(QStringLiteral("Posizione virtuale:")), 1, 0);
    virtualLayout->addWidget(txtVirtualPath_, 1, 1);
    virtualLayout->addWidget(browseVirtual, 1, 2);
    virtualLayout->addWidget(new QLabel(QStringLiteral("Percorso virtuale:")), 2, 0);
    virtualLayout->addWidget(txtCompletePath_, 2, 1);

    auto* realFrame = new QGroupBox(QStringLiteral("Cartella reale"), this);
    txtRealPath_ = makeBox(QStringLiteral("txtRealPath"), realFrame);
    QPushButton* browseReal =
        makeButton(QStringLiteral("cmdBrowserReal"), QStringLiteral("Sfoglia..."), realFrame);
    auto* realLayout = new QGridLayout(realFrame);
    realLayout->addWidget(new QLabel(QStringLiteral("Percorso reale:")), 0, 0);
    realLayout->addWidget(txtRealPath_, 0, 1);
    realLayout->addWidget(browseReal, 0, 2);

    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("lblProblem"));
    problem_->setWordWrap(true);
    problem_->setStyleSheet(QStringLiteral("color: %1;").arg(QLatin1String(kRefusalColor)));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(listFrame);
    layout->addWidget(virtualFrame);
    layout->addWidget(realFrame);
    layout->addWidget(problem_);
    resize(560, 480);

    // Boxes without a row to write to would lose what is typed: they wait for one.
    rowControls_ = {txtName_, txtVirtualPath_, txtRealPath_, browseVirtual, browseReal, remove};

    connect(&list_, &admin::VirtualDirList::currentRowChanged, this,
            &VirtualDirDialog::showCurrentRow);
    connect(grid_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (!loading_ && current.isValid())
                    list_.setCurrentRow(current.row());
            });
    connect(txtName_, &QLineEdit::textChanged, this, &VirtualDirDialog::AggiornaPath);
    connect(txtVirtualPath_, &QLineEdit::textChanged, this, &VirtualDirDialog::AggiornaPath);
    boxes_ = {checkedBox(txtName_, admin::VirtualDirList::Name),
              checkedBox(txtVirtualPath_, admin::VirtualDirList::Source),
              checkedBox(txtRealPath_, admin::VirtualDirList::Destination)};
    connect(add, &QPushButton::clicked, this, [this] {
        list_.cmdNuova();
        txtName_->setFocus(); // a new folder starts with its name
    });
    connect(remove, &QPushButton::clicked, this, [this] { list_.cmdElimina(); });
    // Both pickers start at the folder written in the position box.
    connect(browseVirtual, &QPushButton::clicked, this, [this] { browse(boxes_[1]); });
    connect(browseReal, &QPushButton::clicked, this, [this] { browse(boxes_[2]); });

    // A folder list that cannot be read is reported with the database's own text.
    if (!list_.Refresh())
        host_.messages().show(list_.lastError(), MessageIcon::Exclamation);
}

void VirtualDirDialog::showCurrentRow(int row) {
    loading_ = true;
    if (row >= 0) {
        grid_->selectionModel()->setCurrentIndex(
            list_.index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    } else {
        grid_->selectionModel()->clear();
    }
    for (CheckedBox* box : std::as_const(boxes_))
        box->load();
    AggiornaPath();
    for (QWidget* control : std::as_const(rowControls_))
        control->setEnabled(row >= 0);
    loading_ = false;
}

CheckedBox* VirtualDirDialog::checkedBox(QLineEdit* box, admin::VirtualDirList::Column column) {
    auto* checked = new CheckedBox(
        this, box, nullptr,
        [this, column](const QString& text, admin::EditStep step) {
            if (!list_.hasCurrentRow())
                return admin::EditVerdict::declined();
            if (step == admin::EditStep::Given && text == list_.field(column))
                return admin::EditVerdict::kept(); // a stored value shows as it is
            if (list_.setField(column, text))
                return admin::EditVerdict::kept();
            return admin::EditVerdict::refused(list_.lastError());
        },
        [this, column] { return list_.field(column); }, {}, admin::FieldEdit::Keeping::WhenLeft);
    connect(checked, &CheckedBox::refusalChanged, this, &VirtualDirDialog::showRefusal);
    return checked;
}

void VirtualDirDialog::showRefusal() {
    QString reason;
    for (const CheckedBox* box : std::as_const(boxes_)) {
        if (reason.isEmpty())
            reason = box->refusal();
    }
    problem_->setText(reason);
}

void VirtualDirDialog::AggiornaPath() {
    txtCompletePath_->setText(admin::AggiornaPath(txtVirtualPath_->text(), txtName_->text()));
}

void VirtualDirDialog::browse(CheckedBox* target) {
    const QString chosen =
        host_.BrowseForFolder(this, QStringLiteral("Posizione virtuale:"), txtVirtualPath_->text());
    if (!chosen.isEmpty())
        target->pick(chosen);
}

} // namespace kv::ui
