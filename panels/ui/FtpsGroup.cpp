// Builds the FTPS group of the settings panel and passes its changes on.
#include "panels/ui/FtpsGroup.h"

#include "access/AccountDatabase.h"
#include "panels/logic/OptionEdit.h"
#include "panels/ui/AcmeGroup.h"
#include "panels/ui/CheckedBox.h"
#include "panels/ui/PanelHost.h"
#include "panels/ui/PanelParts.h"

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
    checkBox(port_, kTlsImplicitPort, top);

    QPushButton* browseCertificate = nullptr;
    QPushButton* browseKey = nullptr;
    addText(panel, QStringLiteral("File del certificato (PEM; vuoto = generato):"), top);
    certificate_ = addPathRow(panel, QStringLiteral("picTlsCert"), QStringLiteral("txtTlsCert"),
                              QStringLiteral("cmdBrowseCert"), top, &browseCertificate);
    checkBox(certificate_, kTlsCertificate, top);
    addText(panel, QStringLiteral("File della chiave privata (PEM; vuoto = generata):"), top);
    key_ = addPathRow(panel, QStringLiteral("picTlsKey"), QStringLiteral("txtTlsKey"),
                      QStringLiteral("cmdBrowseKey"), top, &browseKey);
    checkBox(key_, kTlsPrivateKey, top);
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
    versionReason_ = addReasonLine(panel, QStringLiteral("tls_versions"), top);
    new AcmeGroup(panel, host_, top);

    connect(browseCertificate, &QPushButton::clicked, this, [this] {
        browse(boxes_.at(1), certificate_, QStringLiteral("Seleziona il file del certificato:"));
    });
    connect(browseKey, &QPushButton::clicked, this, [this] {
        browse(boxes_.at(2), key_, QStringLiteral("Seleziona il file della chiave privata:"));
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
    for (CheckedBox* box : std::as_const(boxes_))
        connect(box, &CheckedBox::changed, this, &FtpsGroup::refreshCertificate);
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

void FtpsGroup::checkBox(QLineEdit* box, const QString& option, int& top) {
    access::OptionsTable& table = host_.views().options();
    boxes_.append(new CheckedBox(this, box, addReasonLine(panel_, option, top),
                                 admin::optionApplier(table, option), shownText(option),
                                 [this] { host_.relayout(); }));
}

admin::FieldEdit::Shown FtpsGroup::shownText(const QString& option) const {
    // No implicit port shows as an empty box.
    return [this, option] {
        const QString shown = admin::shownOption(host_.views().options(), option);
        return option == kTlsImplicitPort && shown == QLatin1String("0") ? QString() : shown;
    };
}

bool FtpsGroup::accepted(const std::optional<QString>& refusal) {
    // A list offers only valid words: a choice is refused only when it
    // clashes with another (a minimum version above the maximum). The list
    // goes back to the value kept, and the line below says why.
    const bool wasShown = !versionReason_->isHidden();
    versionReason_->setText(refusal.value_or(QString()));
    showBelow(versionReason_, maxVersion_, refusal.has_value());
    if (wasShown != refusal.has_value() && panel_->isVisible())
        host_.relayout();
    if (!refusal)
        return true;
    load();
    return false;
}

void FtpsGroup::load() {
    loading_ = true;
    const admin::FtpsForm form = logic_.load();
    mode_->setCurrentIndex(form.mode);
    for (CheckedBox* box : std::as_const(boxes_))
        box->reload();
    reuse_->setChecked(form.sessionReuse);
    minVersion_->setCurrentIndex(form.minVersion);
    maxVersion_->setCurrentIndex(form.maxVersion);
    loading_ = false;
    refreshCertificate();
}

void FtpsGroup::browse(CheckedBox* checked, QLineEdit* box, const QString& prompt) {
    const QString chosen = host_.BrowseForFile(panel_->window(), prompt, box->text());
    if (chosen.isEmpty())
        return;
    checked->pick(chosen); // judged as a file name typed and left
}

void FtpsGroup::refreshCertificate() {
    certificateLine_->setText(logic_.certificateLine());
    generate_->setEnabled(logic_.generateUsable());
}

} // namespace kv::ui
