// Builds the FTPS group of the settings panel and passes its changes on.
#include "admin/ui/FtpsGroup.h"

#include "access/AccountDatabase.h"
#include "admin/ui/PanelHost.h"
#include "admin/ui/PanelParts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace kv::ui {

namespace {

using namespace settings::option;

QComboBox* makeChoice(QWidget* parent, const QString& name, const QStringList& items, int x,
                      int width) {
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->addItems(items);
    box->setGeometry(x, 0, width, kButtonHeight);
    return box;
}

// A path box with its "Sfoglia ..." button, in a group of its own.
QLineEdit* addPathRow(QWidget* panel, const QString& groupName, const QString& boxName,
                      const QString& buttonName, int& top, QPushButton** button) {
    QWidget* row = addGroup(panel, groupName, -1, kButtonHeight, top);
    QLineEdit* box = makeBox(row, boxName, 0, 1, 270);
    box->setPlaceholderText(QStringLiteral("(generato nella cartella dei dati)"));
    *button = makeButton(row, buttonName, QStringLiteral("Sfoglia ..."), 276, 0, 96);
    return box;
}

} // namespace

FtpsGroup::FtpsGroup(QWidget* panel, PanelHost& host, int& top)
    : QObject(panel), panel_(panel), host_(host),
      logic_(host.views().options(), host.dataFolder(), host.certificateTools()) {
    setObjectName(QStringLiteral("FtpsGroup"));
    buildControls(panel, top);
    load();
    connectControls();
}

void FtpsGroup::buildControls(QWidget* panel, int& top) {
    addTitle(panel, QStringLiteral("Connessioni protette (FTPS)"), top);
    addText(panel,
            QStringLiteral("Scegliere se i client possono (o devono) proteggere login e "
                           "trasferimenti con TLS:"),
            top);
    QWidget* modeRow = addGroup(panel, QStringLiteral("picTls"), -1, kButtonHeight, top);
    mode_ = makeChoice(modeRow, QStringLiteral("cboTls"), admin::ftpsModeCaptions(), 0, 180);

    port_ = addTextBox(
        panel, QStringLiteral("Porta FTPS implicita, dove TLS inizia subito (vuoto = nessuna):"),
        QStringLiteral("txtTlsPort"), 120, top);

    QPushButton* browseCertificate = nullptr;
    QPushButton* browseKey = nullptr;
    addText(panel, QStringLiteral("File del certificato (PEM; vuoto = generato):"), top);
    certificate_ = addPathRow(panel, QStringLiteral("picTlsCert"), QStringLiteral("txtTlsCert"),
                              QStringLiteral("cmdBrowseCert"), top, &browseCertificate);
    addText(panel, QStringLiteral("File della chiave privata (PEM; vuoto = generata):"), top);
    key_ = addPathRow(panel, QStringLiteral("picTlsKey"), QStringLiteral("txtTlsKey"),
                      QStringLiteral("cmdBrowseKey"), top, &browseKey);
    certificateLine_ = addText(panel, QString(), top, QStringLiteral("lblTlsCertificate"));
    certificateLine_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    generate_ = new QPushButton(QStringLiteral("Genera nuovo certificato"), panel);
    generate_->setObjectName(QStringLiteral("cmdGenerateCert"));
    placeChild(generate_, kButtonHeight, top, 200);
    generate_->setVisible(logic_.generateOffered());

    reuse_ = new QCheckBox(QStringLiteral("Richiedi la ripresa della sessione TLS sui canali dati"),
                           panel);
    reuse_->setObjectName(QStringLiteral("chkTlsReuse"));
    placeChild(reuse_, kCheckHeight, top);

    addText(panel, QStringLiteral("Versioni di TLS ammesse (minima e massima):"), top);
    QWidget* versions = addGroup(panel, QStringLiteral("picTlsVersions"), -1, kButtonHeight, top);
    minVersion_ = makeChoice(versions, QStringLiteral("cboTlsMin"), admin::ftpsVersions(), 0, 80);
    maxVersion_ = makeChoice(versions, QStringLiteral("cboTlsMax"), admin::ftpsVersions(), 90, 80);

    connect(browseCertificate, &QPushButton::clicked, this, [this] {
        browse(certificate_, QStringLiteral("Seleziona il file del certificato:"), kTlsCertificate);
    });
    connect(browseKey, &QPushButton::clicked, this, [this] {
        browse(key_, QStringLiteral("Seleziona il file della chiave privata:"), kTlsPrivateKey);
    });
}

void FtpsGroup::connectControls() {
    connect(mode_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!loading_ && accepted(logic_.changeMode(index)))
            refreshCertificate();
    });
    connect(minVersion_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!loading_)
            accepted(logic_.changeVersion(kTlsMinVersion, index));
    });
    connect(maxVersion_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!loading_)
            accepted(logic_.changeVersion(kTlsMaxVersion, index));
    });
    connect(reuse_, &QCheckBox::toggled, this, [this](bool on) {
        if (!loading_)
            accepted(logic_.changeReuse(on));
    });
    const std::pair<QLineEdit*, QString> boxes[] = {
        {port_, kTlsImplicitPort}, {certificate_, kTlsCertificate}, {key_, kTlsPrivateKey}};
    for (const auto& [box, option] : boxes) {
        // Each keystroke that forms a valid value keeps it, as the bound boxes
        // do; the value is judged aloud when the operator leaves the box.
        connect(box, &QLineEdit::textEdited, this, [this, option](const QString& text) {
            if (logic_.change(option, text))
                logic_.forget(option);
        });
        connect(box, &QLineEdit::editingFinished, this, [this, box, option] {
            if (!loading_)
                accepted(logic_.change(option, box->text()));
        });
    }
    connect(certificate_, &QLineEdit::textChanged, this, &FtpsGroup::refreshCertificate);
    connect(key_, &QLineEdit::textChanged, this, &FtpsGroup::refreshCertificate);
    connect(generate_, &QPushButton::clicked, this, [this] {
        const QString outcome = logic_.generate(host_.messages());
        if (outcome.isEmpty())
            return;
        host_.messages().show(outcome, outcome == admin::kGeneratedMessage
                                           ? MessageIcon::Information
                                           : MessageIcon::Exclamation);
        refreshCertificate();
    });
}

bool FtpsGroup::accepted(const std::optional<QString>& refusal) {
    if (!refusal)
        return true;
    // The kept values come back before the message, so that the focus the
    // message takes does not judge the refused text a second time.
    load();
    host_.messages().show(*refusal, MessageIcon::Exclamation);
    return false;
}

void FtpsGroup::load() {
    loading_ = true;
    const admin::FtpsForm form = logic_.load();
    mode_->setCurrentIndex(form.mode);
    if (port_->text() != form.implicitPort)
        port_->setText(form.implicitPort);
    if (certificate_->text() != form.certificateFile)
        certificate_->setText(form.certificateFile);
    if (key_->text() != form.privateKeyFile)
        key_->setText(form.privateKeyFile);
    reuse_->setChecked(form.sessionReuse);
    minVersion_->setCurrentIndex(form.minVersion);
    maxVersion_->setCurrentIndex(form.maxVersion);
    loading_ = false;
    refreshCertificate();
}

void FtpsGroup::browse(QLineEdit* box, const QString& prompt, const QString& option) {
    const QString chosen = host_.BrowseForFile(panel_->window(), prompt, box->text());
    if (chosen.isEmpty())
        return;
    if (accepted(logic_.change(option, chosen)))
        box->setText(chosen);
}

void FtpsGroup::refreshCertificate() {
    certificateLine_->setText(logic_.certificateLine());
    generate_->setEnabled(logic_.generateUsable());
}

} // namespace kv::ui
