// Builds the "Impostazioni" panel and keeps its address list and window mode.
#include "panels/ui/SettingsPanel.h"

#include "access/AccountDatabase.h"
#include "access/DataView.h"
#include "panels/ui/ActionsGroup.h"
#include "panels/ui/CheckedBox.h"
#include "panels/ui/DefaultRootGroup.h"
#include "panels/ui/FtpsGroup.h"
#include "panels/ui/OptionsPageGroup.h"
#include "panels/ui/PanelHost.h"
#include "panels/ui/PanelParts.h"
#include "panels/ui/RemoteAdminGroup.h"
#include "panels/ui/RouterGroup.h"
#include "panels/ui/SftpGroup.h"
#include "panels/ui/SpeedLimitsGroup.h"
#include "panels/ui/ViewBinder.h"
#include "settings/OptionCatalog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSqlQueryModel>

namespace kv::ui {

namespace {

using namespace settings::setting;

QComboBox* makeList(QWidget* parent, const QString& name) {
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    return box;
}

} // namespace

SettingsPanel::SettingsPanel(QWidget* panel, PanelHost& host)
    : QObject(panel), panel_(panel), host_(host),
      row_(std::make_unique<admin::SettingsRowEdit>(host.views().Data2())) {
    setObjectName(QStringLiteral("SettingsPanel"));
    binder_ = new ViewBinder(host.views().Data2(), this);
    int top = kPanelTop;
    buildNetwork(panel, top);
    addSeparator(panel, top);
    root_ = new DefaultRootGroup(panel, host, *row_, top);
    addSeparator(panel, top);
    buildStart(panel, top);
    addSeparator(panel, top);
    new FtpsGroup(panel, host, top);
    addSeparator(panel, top);
    new SftpGroup(panel, host, top);
    addSeparator(panel, top);
    new RemoteAdminGroup(panel, host, top);
    addSeparator(panel, top);
    auto* router = new RouterGroup(panel, host, top, [this] { return cboPorta_->currentText(); });
    connect(cboPorta_, &QComboBox::editTextChanged, router, &RouterGroup::refreshAdvice);
    connect(cboPorta_, &QComboBox::currentIndexChanged, router, &RouterGroup::refreshAdvice);
    addSeparator(panel, top);
    new SpeedLimitsGroup(panel, host, top);
    addSeparator(panel, top);
    new ActionsGroup(panel, host, top);
    addSeparator(panel, top);
    new OptionsPageGroup(panel, host, top);

    // The boxes follow the row when it moves, is read again or changes under them.
    access::DataView& view = host.views().Data2();
    connect(&view, &access::DataView::Reposition, this, &SettingsPanel::reloadRowBoxes);
    connect(view.model(), &QAbstractItemModel::dataChanged, this, &SettingsPanel::reloadRowBoxes);
    connect(view.model(), &QAbstractItemModel::modelReset, this, &SettingsPanel::reloadRowBoxes);
    CaricaIP(false);
}

SettingsPanel::~SettingsPanel() {
    // The boxes' edits use the row edit: they go first.
    delete root_;
    qDeleteAll(rowBoxes_);
}

void SettingsPanel::buildNetwork(QWidget* panel, int& top) {
    addTitle(panel, QStringLiteral("Impostazioni di rete"), top);
    addText(panel,
            QStringLiteral("Inserire l'indirizzo IP su cui si desidera attivare il server (in caso "
                           "di dubbio lasciare le impostazioni di default):"),
            top);
    QWidget* address = addGroup(panel, QStringLiteral("picIndirizzo"), -1, kButtonHeight, top);
    cboIP_ = makeList(address, QStringLiteral("cboIP"));
    cboIP_->setGeometry(0, 0, 180, kButtonHeight);
    cmdMostraIP_ = makeButton(address, QStringLiteral("cmdMostraIP"), QStringLiteral("Mostra IP"),
                              186, 0, 100);
    QPushButton* reset =
        makeButton(address, QStringLiteral("cmdResetIP"), QStringLiteral("Reset"), 292, 0, 80);
    ipBox_ = checkRowBox(cboIP_, kIp, top);

    // The default a database made by this user starts with (2121 without
    // the right to listen on 21), as the box of a new database shows it.
    addText(panel, admin::portCaption(admin::defaultControlPort()), top,
            QStringLiteral("lblPortCaption"));
    cboPorta_ = makeList(panel, QStringLiteral("cboPorta"));
    cboPorta_->addItem(QStringLiteral("21"));
    placeChild(cboPorta_, kButtonHeight, top, 120);
    portBox_ = checkRowBox(cboPorta_, kPort, top);

    auto* timeout = addTextBox(
        panel,
        QStringLiteral("Inserire il numero di secondi trascorsi i quali un utente inattivo è "
                       "automaticamente disconnesso (180 per default):"),
        QStringLiteral("Text2"), 120, top);
    checkRowBox(timeout, kTimeout, top);

    connect(cboIP_, &QComboBox::editTextChanged, this, &SettingsPanel::updateMostraIP);
    connect(cboIP_, &QComboBox::currentIndexChanged, this, &SettingsPanel::updateMostraIP);
    connect(cmdMostraIP_, &QPushButton::clicked, this, &SettingsPanel::cmdMostraIP_Click);
    connect(reset, &QPushButton::clicked, this, &SettingsPanel::cmdResetIP_Click);
}

void SettingsPanel::buildStart(QWidget* panel, int& top) {
    addTitle(panel, QStringLiteral("Avvio del programma"), top);
    addText(panel,
            QStringLiteral(
                "Il server può essere avviato automaticamente quando si lancia il programma:"),
            top);
    auto* start = new QCheckBox(QStringLiteral("Avvia il server"), panel);
    start->setObjectName(QStringLiteral("chkStart"));
    placeChild(start, kCheckHeight, top);
    addText(panel,
            QStringLiteral(
                "Selezionare la modalità di visualizzazione  in cui il programma è avviato:"),
            top);
    QWidget* mode = addGroup(panel, QStringLiteral("picWindow"), -1, kCheckHeight, top);
    const QString options[2] = {QStringLiteral("Normale"), QStringLiteral("Minimizzato")};
    for (int i = 0; i < 2; ++i) {
        optWindow_[i] = new QRadioButton(options[i], mode);
        optWindow_[i]->setObjectName(QStringLiteral("optWindow"));
        optWindow_[i]->setProperty(kIndexProperty, i);
        optWindow_[i]->setGeometry(i * 140, 0, 130, kCheckHeight);
        connect(optWindow_[i], &QRadioButton::clicked, this,
                [this, i] { txtWindow_->setText(admin::windowModeValue(i)); });
    }
    // Carries the stored window mode; never shown.
    txtWindow_ = new QLineEdit(panel);
    txtWindow_->setObjectName(QStringLiteral("txtWindow"));
    txtWindow_->hide();
    connect(txtWindow_, &QLineEdit::textChanged, this, &SettingsPanel::txtWindow_Change);
    binder_->bind(start, kStart);
    binder_->bind(txtWindow_, kMinimized);
    txtWindow_Change(txtWindow_->text());
}

CheckedBox* SettingsPanel::checkRowBox(QLineEdit* box, const QString& column, int& top) {
    auto* checked =
        new CheckedBox(this, box, addReasonLine(panel_, column, top), row_->applier(column),
                       row_->shower(column), [this] { host_.relayout(); });
    rowBoxes_.append(checked);
    return checked;
}

CheckedBox* SettingsPanel::checkRowBox(QComboBox* box, const QString& column, int& top) {
    auto* checked =
        new CheckedBox(this, box, addReasonLine(panel_, column, top), row_->applier(column),
                       row_->shower(column), [this] { host_.relayout(); });
    rowBoxes_.append(checked);
    return checked;
}

void SettingsPanel::reloadRowBoxes() {
    for (CheckedBox* box : std::as_const(rowBoxes_))
        box->reload();
    root_->box()->reload();
}

void SettingsPanel::setAddressList(const admin::AddressBox& box) {
    {
        // Rebuilding the list must not pass through an empty text into the row.
        const QSignalBlocker block(cboIP_);
        const QString keep = cboIP_->currentText();
        cboIP_->clear();
        cboIP_->addItems(box.entries);
        cboIP_->setEditText(keep);
    }
    ipBox_->give(box.text);
    updateMostraIP();
}

void SettingsPanel::CaricaIP(bool reset) {
    QStringList entries;
    for (int i = 0; i < cboIP_->count(); ++i)
        entries.append(cboIP_->itemText(i));
    setAddressList(admin::CaricaIP(entries, cboIP_->currentText(), reset, adapters_()));
}

void SettingsPanel::cmdResetIP_Click() {
    setAddressList(admin::resetAddressBox({}, cboIP_->currentText(), adapters_()));
}

void SettingsPanel::cmdMostraIP_Click() {
    const QString text =
        admin::MostraIPText(host_.serverRunning(), host_.listeningAddress(), cboIP_->currentText(),
                            [this] { return host_.defaultLocalAddress(); });
    host_.messages().show(text, MessageIcon::None);
}

void SettingsPanel::updateMostraIP() {
    cmdMostraIP_->setEnabled(admin::MostraIPEnabled(cboIP_->currentText()));
}

void SettingsPanel::txtWindow_Change(const QString& text) {
    const int option = admin::windowOption(text);
    for (int i = 0; i < 2; ++i) {
        const QSignalBlocker block(optWindow_[i]);
        optWindow_[i]->setChecked(i == option);
    }
}

QString SettingsPanel::rootText() const {
    return row_->shown(kRootDir);
}

QStringList SettingsPanel::portEntries() const {
    QStringList entries;
    for (int i = 0; i < cboPorta_->count(); ++i)
        entries.append(cboPorta_->itemText(i));
    return entries;
}

void SettingsPanel::showPortChoice(const PortChoice& port) {
    {
        const QSignalBlocker block(cboPorta_);
        cboPorta_->clear();
        cboPorta_->addItems(port.entries);
        cboPorta_->setCurrentIndex(-1);
        if (port.selected >= 0)
            cboPorta_->setCurrentIndex(port.selected);
        else
            cboPorta_->setEditText(port.text);
    }
    portBox_->give(cboPorta_->currentText());
}

} // namespace kv::ui
