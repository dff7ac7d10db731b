// Builds the "Account" panel and keeps its groups following the current account.
#include "panels/ui/AccountPanel.h"

#include "access/AccountColumns.h"
#include "access/AccountDatabase.h"
#include "panels/ui/AccountGrid.h"
#include "panels/ui/AccountKeysGroup.h"
#include "panels/ui/AccountLimitsGroup.h"
#include "panels/ui/AccountPanelPassword.h"
#include "panels/ui/CheckedBox.h"
#include "panels/ui/PanelHost.h"
#include "panels/ui/PanelParts.h"
#include "panels/ui/RefusalMark.h"
#include "panels/ui/RightsForm.h"
#include "panels/ui/ViewBinder.h"
#include "panels/ui/VirtualDirDialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlQueryModel>

namespace kv::ui {

namespace {

constexpr int kDetailsGroupHeight = 50;
constexpr int kGroupBoxTop = 22; // under a group's caption

const QString kFileRightsText = QStringLiteral(
    "Il permesso di lettura sui file consente all'utente di leggere e scaricare i file. Il "
    "permesso di scrittura consente di effettuare l'upload dei file. Il permesso di "
    "cancellazione consente di eliminare file.");
const QString kFolderRightsText = QStringLiteral(
    "Il permesso di navigazione consente all'utente di spostarsi da una cartella all'altra. Il "
    "permesso di scrittura consente di creare nuove cartelle e di eliminare cartelle.");
const QString kRootText = QStringLiteral(
    "La \"Root Directory\" è la cartella a cui gli utenti avranno accesso dopo il login. Se non "
    "è impostata sarà utilizzato il percorso di default specificato nella scheda "
    "\"Impostazioni\".");
const QString kAnonymousText = QStringLiteral(
    "L'abilitazione dell'account anonimo consente di collegarsi al server FTP senza dover "
    "fornire un login e una password (chiunque si potrà collegare al server).");
const QString kAnonymousAdvice =
    QStringLiteral("Per ragioni di sicurezza si sconsiglia fortemente di attribuire permessi di "
                   "scrittura o cancellazione all'account anonimo.");

QCheckBox* addSwitch(QWidget* panel, const QString& name, const QString& text, int& top) {
    auto* box = new QCheckBox(text, panel);
    box->setObjectName(name);
    placeChild(box, kCheckHeight, top);
    return box;
}

} // namespace

AccountPanel::AccountPanel(QWidget* panel, PanelHost& host)
    : QObject(panel), panel_(panel), host_(host), users_(host.views().Data1()),
      anonymous_(host.views().Data3()), logic_(users_, host.messages(), host.connection()) {
    setObjectName(QStringLiteral("AccountPanel"));
    usersBinder_ = new ViewBinder(users_, this);
    anonymousBinder_ = new ViewBinder(anonymous_, this);
    openEditor_ = [this](int owner) { openEditor(owner); };

    int top = kPanelTop;
    addTitle(panel_, QStringLiteral("Elenco account"), top);
    grid_ = new AccountGrid(panel_, users_, logic_, top);
    addSeparator(panel_, top);
    buildDetails(top);
    buildAnonymous(top);

    connect(grid_, &AccountGrid::rowChosen, this, &AccountPanel::Data1_Reposition);
    connect(grid_, &AccountGrid::refusalChanged, this, [this](const QString& reason) {
        gridRefusal_ = reason;
        showStatus();
    });
    connect(&users_, &access::DataView::Reposition, this, &AccountPanel::Data1_Reposition);
    connect(users_.model(), &QAbstractItemModel::modelReset, this, &AccountPanel::Data1_Reposition);
    connect(users_.model(), &QAbstractItemModel::dataChanged, this, [this] {
        login_->reload();
        root_->reload();
        limits_->refresh(); // a new account's limits once its login is stored
        showStatus();
    });
    connect(&keys_->logic(), &admin::AccountKeysLogic::changed, this, &AccountPanel::showStatus);
    connect(&anonymous_, &access::DataView::Reposition, anonymousRoot_, &CheckedBox::load);
    connect(anonymous_.model(), &QAbstractItemModel::modelReset, anonymousRoot_, &CheckedBox::load);
    connect(anonymous_.model(), &QAbstractItemModel::modelReset, anonymousLimits_,
            &AccountLimitsGroup::refresh);
    connect(anonymous_.model(), &QAbstractItemModel::dataChanged, anonymousRoot_,
            &CheckedBox::reload);
    Data1_Reposition();
}

CheckedBox* AccountPanel::checkedBox(QLineEdit* box, access::DataView& view, const QString& field,
                                     admin::FieldEdit::Apply apply) {
    // No line below: the status line says why (showStatus).
    auto* checked = new CheckedBox(this, box, nullptr, std::move(apply),
                                   [&view, field] { return view.Field(field); });
    connect(checked, &CheckedBox::refusalChanged, this, &AccountPanel::showStatus);
    return checked;
}

void AccountPanel::showStatus() {
    QString refusal = gridRefusal_;
    for (const CheckedBox* box : {login_, root_}) {
        if (refusal.isEmpty())
            refusal = box->refusal();
    }
    const QString text = refusal.isEmpty() ? logic_.abilities() : refusal;
    status_->setStyleSheet(refusal.isEmpty()
                               ? QString()
                               : QStringLiteral("color: %1;").arg(QLatin1String(kRefusalColor)));
    if (status_->text() == text)
        return;
    status_->setText(text);
    if (status_->isVisible())
        host_.relayout(); // a longer line may wrap onto a second one
}

void AccountPanel::buildDetails(int& top) {
    addTitle(panel_, QStringLiteral("Dettagli account"), top);
    usersBinder_->bind(
        addSwitch(panel_, QStringLiteral("chkAbilitato"), QStringLiteral("Account abilitato"), top),
        QStringLiteral("enabled"));
    status_ = addText(panel_, QString(), top, QStringLiteral("lblAccountStatus"));

    QWidget* names = addGroup(panel_, QStringLiteral("picDetails"), 0, kDetailsGroupHeight, top);
    (new QLabel(QStringLiteral("Login"), names))->setGeometry(0, 0, 180, 18);
    (new QLabel(QStringLiteral("Password"), names))->setGeometry(192, 0, 180, 18);
    QLineEdit* login = makeBox(names, QStringLiteral("txtLogin"), 0, kGroupBoxTop, 180);
    login_ = checkedBox(
        login, users_, QStringLiteral("login"),
        [this](const QString& text, admin::EditStep step) { return logic_.setLogin(text, step); });
    // After a refused login the operator goes back to it, once the click or
    // key that tried to leave the row is done; a new account starts there.
    const auto typeLogin = [login] {
        login->setFocus(Qt::OtherFocusReason);
        login->selectAll();
    };
    connect(&logic_, &admin::AccountPanelLogic::loginRefused, login, typeLogin,
            Qt::QueuedConnection);
    connect(&logic_, &admin::AccountPanelLogic::newAccountStarted, login, typeLogin,
            Qt::QueuedConnection);
    new PasswordBoxBinding(makeBox(names, QStringLiteral("txtPassword"), 192, kGroupBoxTop, 180),
                           users_, logic_);
    accountGroups_.append(names);

    accountGroups_.append(buildRootGroup(
        users_,
        [this](const QString& text, admin::EditStep step) { return logic_.setRoot(text, step); },
        {1, QStringLiteral("txtUserRoot"), QStringLiteral("cmdUserBrowse"),
         QStringLiteral("cmdDefaultRoot"), QStringLiteral("picDefault"),
         QStringLiteral("Seleziona la root per l'utente:")},
        root_, top));
    addText(panel_, kRootText, top);

    const RightsGroups rights = buildRightsForm(
        panel_, *usersBinder_,
        {2,
         3,
         {QStringLiteral("chkRead"), QStringLiteral("chkWrite"), QStringLiteral("chkDelete"),
          QStringLiteral("chkNavigazione"), QStringLiteral("chkScrittura")},
         kFileRightsText,
         kFolderRightsText},
        top);
    accountGroups_.append(rights.files);
    accountGroups_.append(rights.folders);

    accountGroups_.append(
        buildVirtualDirsGroup(7, QStringLiteral("cmdUserVirtual"),
                              QStringLiteral("Definisci cartelle virtuali dell'account..."),
                              &admin::AccountPanelLogic::cmdUserVirtual, top));
    keys_ = new AccountKeysGroup(panel_, host_, users_, 9, top);
    accountGroups_.append(keys_->group());
    limits_ = new AccountLimitsGroup(panel_, host_, QString(), top,
                                     [this] { return logic_.savedLogin(); });
    accountGroups_.append(limits_->group());
    addSeparator(panel_, top);
}

void AccountPanel::buildAnonymous(int& top) {
    addTitle(panel_, QStringLiteral("Account anonimo"), top);
    anonymousBinder_->bind(addSwitch(panel_, QStringLiteral("chkAnonymous"),
                                     QStringLiteral("Consenti account anonimo"), top),
                           QStringLiteral("enabled"));
    addText(panel_, kAnonymousText, top);

    buildRightsForm(panel_, *anonymousBinder_,
                    {4,
                     5,
                     {QStringLiteral("Check2"), QStringLiteral("Check3"), QStringLiteral("Check4"),
                      QStringLiteral("Check6"), QStringLiteral("Check5")},
                     {},
                     {}},
                    top);
    addText(panel_, kAnonymousAdvice, top);

    buildRootGroup(
        anonymous_,
        [this, store = admin::viewRootStore(anonymous_, access::anonymousRootOwner)](
            const QString& text, admin::EditStep step) {
            return admin::changeRoot(store, text, step, host_.messages());
        },
        {6, QStringLiteral("txtUserRootAnon"), QStringLiteral("cmdUserBrowseAnon"),
         QStringLiteral("cmdDefaultRootAnon"), QStringLiteral("picDefaultAnon"),
         QStringLiteral("Seleziona la root per l'utente anonimo:")},
        anonymousRoot_, top);
    buildVirtualDirsGroup(8, QStringLiteral("cmdVirtualAnonymous"),
                          QStringLiteral("Cartelle virtuali dell'account anonimo..."),
                          &admin::AccountPanelLogic::cmdVirtualAnonymous, top);
    anonymousLimits_ = new AccountLimitsGroup(panel_, host_, QStringLiteral("Anon"), top);
}

void AccountPanel::setQuotaSources(const admin::QuotaUsageSource& usage,
                                   const admin::OverlapSource& overlaps) {
    limits_->setQuotaSources(usage, overlaps);
    anonymousLimits_->setQuotaSources(usage, overlaps);
}

QWidget* AccountPanel::buildRootGroup(access::DataView& view, const admin::FieldEdit::Apply& apply,
                                      const RootNames& names, CheckedBox*& checked, int& top) {
    QWidget* group =
        addGroup(panel_, QStringLiteral("picDetails"), names.index, kDetailsGroupHeight, top);
    groupCaption(group, QStringLiteral("Root Directory"), 0, 0);
    QLineEdit* box = makeBox(group, names.box, 0, kGroupBoxTop, 180);
    QPushButton* browse =
        makeButton(group, names.browse, QStringLiteral("Sfoglia..."), 186, kGroupBoxTop - 1, 90);
    QPushButton* reset =
        makeButton(group, names.reset, QStringLiteral("Default"), 282, kGroupBoxTop - 1, 90);
    // "(default)" lies over the empty box; clicks go through to the box.
    auto* overlay = new QLabel(QStringLiteral("(default)"), group);
    overlay->setObjectName(names.overlay);
    overlay->setGeometry(6, kGroupBoxTop + 2, 120, kLineHeight - 4);
    overlay->setAttribute(Qt::WA_TransparentForMouseEvents);
    overlay->setEnabled(false);
    connect(box, &QLineEdit::textChanged, overlay,
            [overlay](const QString& text) { overlay->setVisible(text.isEmpty()); });
    overlay->setVisible(box->text().isEmpty());
    checked = checkedBox(box, view, access::column::kRootDir, apply);
    // A folder set by a button is judged at once, as a typed one when left.
    connect(reset, &QPushButton::clicked, checked, [checked] { checked->pick(QString()); });
    connect(browse, &QPushButton::clicked, this, [this, box, checked, prompt = names.prompt] {
        const QString chosen = host_.BrowseForFolder(panel_->window(), prompt, box->text());
        if (!chosen.isEmpty())
            checked->pick(chosen);
    });
    return group;
}

QWidget* AccountPanel::buildVirtualDirsGroup(
    int index, const QString& name, const QString& text,
    void (admin::AccountPanelLogic::*open)(const std::function<void(int)>&), int& top) {
    QWidget* group =
        addGroup(panel_, QStringLiteral("picDetails"), index, kDetailsGroupHeight, top);
    groupCaption(group, QStringLiteral("Cartelle virtuali"), 0, 0);
    QPushButton* button = makeButton(group, name, text, 0, kGroupBoxTop, 300);
    connect(button, &QPushButton::clicked, this, [this, open] { (logic_.*open)(openEditor_); });
    return group;
}

void AccountPanel::enableAccountGroups() {
    const bool current = logic_.detailsEnabled();
    for (QWidget* group : std::as_const(accountGroups_))
        group->setEnabled(current);
}

void AccountPanel::Data1_Reposition() {
    enableAccountGroups();
    login_->load();
    root_->load();
    keys_->refresh();
    limits_->refresh();
    grid_->showCurrent();
    showStatus();
}

void AccountPanel::openEditor(int owner) {
    VirtualDirDialog dialog(host_.connection(), owner, host_, panel_->window());
    dialog.exec();
}

} // namespace kv::ui
