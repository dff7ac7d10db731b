// Builds the "Impostazioni" panel and keeps its address list and window mode.
#include "admin/ui/SettingsPanel.h"

#include "access/AccountDatabase.h"
#include "admin/ui/ActionsGroup.h"
#include "admin/ui/FtpsGroup.h"
#include "admin/ui/PanelHost.h"
#include "admin/ui/PanelParts.h"
#include "admin/ui/RouterGroup.h"
#include "admin/ui/SftpHostKeysGroup.h"
#include "admin/ui/ViewBinder.h"
#include "settings/OptionCatalog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>

#include <memory>

namespace kv::ui {

namespace {

QComboBox* makeList(QWidget* parent, const QString& name) {
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    return box;
}

} // namespace

SettingsPanel::SettingsPanel(QWidget* panel, PanelHost& host)
    : QObject(panel), panel_(panel), host_(host) {
    setObjectName(QStringLiteral("SettingsPanel"));
    binder_ = new ViewBinder(host.views().Data2(), this);
    int top = kPanelTop;

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

    addText(panel,
            QStringLiteral("Inserire la porta su cui si desidera attivare il server (in caso di "
                           "dubbio lasciare l'impostazione di default \"21\"):"),
            top);
    cboPorta_ = makeList(panel, QStringLiteral("cboPorta"));
    cboPorta_->addItem(QStringLiteral("21"));
    placeChild(cboPorta_, kButtonHeight, top, 120);

    auto* timeout = addTextBox(
        panel,
        QStringLiteral("Inserire il numero di secondi trascorsi i quali un utente inattivo è "
                       "automaticamente disconnesso (180 per default):"),
        QStringLiteral("Text2"), 120, top);
    addSeparator(panel, top);

    addTitle(panel, QStringLiteral("Percorso di default"), top);
    addText(panel,
            QStringLiteral("La \"root directory\" è la cartella a cui gli utenti avranno accesso "
                           "dopo il login. Specificarne il percorso di default (che sarà "
                           "utilizzato se non è stata attribuita una diversa \"root directory\" "
                           "all'account):"),
            top);
    QWidget* root = addGroup(panel, QStringLiteral("picRoot"), -1, kButtonHeight, top);
    txtRoot_ = new QLineEdit(root);
    txtRoot_->setObjectName(QStringLiteral("txtRoot"));
    txtRoot_->setGeometry(0, 1, 270, kLineHeight);
    QPushButton* browse = makeButton(root, QStringLiteral("cmdBrowseRoot"),
                                     QStringLiteral("Sfoglia ..."), 276, 0, 96);
    addSeparator(panel, top);

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
    addSeparator(panel, top);
    new FtpsGroup(panel, host, top);
    addSeparator(panel, top);
    new SftpHostKeysGroup(panel, host, top);
    addSeparator(panel, top);
    auto* router = new RouterGroup(panel, host, top, [this] { return cboPorta_->currentText(); });
    connect(cboPorta_, &QComboBox::editTextChanged, router, &RouterGroup::refreshAdvice);
    connect(cboPorta_, &QComboBox::currentIndexChanged, router, &RouterGroup::refreshAdvice);
    addSeparator(panel, top);
    new ActionsGroup(panel, host, top);

    binder_->bind(cboIP_, settings::setting::kIp);
    binder_->bind(cboPorta_, settings::setting::kPort);
    binder_->bind(timeout, settings::setting::kTimeout);
    binder_->bind(txtRoot_, settings::setting::kRootDir);
    binder_->bind(start, settings::setting::kStart);
    binder_->bind(txtWindow_, settings::setting::kMinimized);
    txtWindow_Change(txtWindow_->text());
    refuseInvalid(cboIP_->lineEdit(), settings::setting::kIp);
    refuseInvalid(cboPorta_->lineEdit(), settings::setting::kPort);
    refuseInvalid(timeout, settings::setting::kTimeout);
    refuseInvalid(txtRoot_, settings::setting::kRootDir);

    connect(cboIP_, &QComboBox::editTextChanged, this, &SettingsPanel::updateMostraIP);
    connect(cboIP_, &QComboBox::currentIndexChanged, this, &SettingsPanel::updateMostraIP);
    connect(cmdMostraIP_, &QPushButton::clicked, this, &SettingsPanel::cmdMostraIP_Click);
    connect(reset, &QPushButton::clicked, this, &SettingsPanel::cmdResetIP_Click);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString chosen = host_.BrowseForFolder(
            panel_->window(), QStringLiteral("Seleziona la root di default:"), txtRoot_->text());
        if (!chosen.isEmpty())
            txtRoot_->setText(chosen);
    });

    CaricaIP(false);
}

void SettingsPanel::refuseInvalid(QLineEdit* box, const QString& column) {
    // The last text the box was given rather than typed (loaded from the
    // row, picked from a list or a folder chooser, or accepted on leaving).
    auto held = std::make_shared<QString>(box->text());
    connect(box, &QLineEdit::textChanged, this, [box, held](const QString& text) {
        if (!box->isModified())
            *held = text;
    });
    connect(box, &QLineEdit::editingFinished, this, [this, box, column, held] {
        if (!box->isModified())
            return;
        const std::optional<QString> refusal = admin::refusedSetting(column, box->text());
        if (!refusal) {
            // The row keeps the value in the form the catalog gives it.
            const QString normal = admin::normalSetting(column, box->text());
            if (normal != box->text())
                box->setText(normal);
            *held = normal;
            box->setModified(false);
            return;
        }
        // Put back first: the message box takes the focus and ends the edit again.
        box->setText(*held);
        host_.messages().show(*refusal, MessageIcon::Exclamation);
    });
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
    cboIP_->setEditText(box.text);
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
    return txtRoot_->text();
}

void SettingsPanel::fillEmptyRoot(const QString& root) {
    if (txtRoot_->text().isEmpty())
        txtRoot_->setText(root);
}

QStringList SettingsPanel::portEntries() const {
    QStringList entries;
    for (int i = 0; i < cboPorta_->count(); ++i)
        entries.append(cboPorta_->itemText(i));
    return entries;
}

void SettingsPanel::showPortChoice(const PortChoice& port) {
    const QSignalBlocker block(cboPorta_);
    cboPorta_->clear();
    cboPorta_->addItems(port.entries);
    cboPorta_->setCurrentIndex(-1);
    if (port.selected >= 0)
        cboPorta_->setCurrentIndex(port.selected);
    else if (cboPorta_->isEditable())
        cboPorta_->setEditText(port.text);
    else
        cboPorta_->setCurrentIndex(cboPorta_->findText(port.text));
}

} // namespace kv::ui
