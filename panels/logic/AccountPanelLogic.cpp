#include "panels/logic/AccountPanelLogic.h"

#include "access/AccountColumns.h"
#include "access/AccountKeys.h"
#include "access/AccountService.h"
#include "access/DataView.h"
#include "access/PasswordHash.h"
#include "access/SettingsService.h"
#include "access/VirtualDirService.h"
#include "panels/logic/VirtualDirList.h"
#include "settings/OptionCatalog.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlTableModel>

#include <algorithm>

namespace kv::admin {

namespace {

// Writes an accepted `text` into `field` of `view`'s current row (pending,
// like every edit).
EditVerdict keepField(access::DataView& view, const QString& field, const QString& text) {
    if (!view.hasCurrentRow())
        return EditVerdict::declined();
    if (view.Field(field) != text) {
        // An empty value is stored as empty text, never as null.
        if (!view.setField(field, text.isNull() ? QString(QLatin1String("")) : text))
            return EditVerdict::refused(view.lastErrorText());
    }
    return EditVerdict::kept();
}

} // namespace

AccountGridCover accountGridCover(int rowHeight, int gridTop, int accountCount) {
    const int shown = std::clamp(accountCount, 0, kAccountGridRows);
    AccountGridCover cover;
    cover.gridHeight = rowHeight * kAccountGridRows + 15;
    cover.height = rowHeight * (kAccountGridRows - shown) - 15;
    cover.visible = cover.height >= 1;
    if (cover.visible)
        cover.top = gridTop + rowHeight * shown + 15;
    else
        cover.height = 0;
    return cover;
}

bool isDuplicateLoginError(int errorNumber) {
    switch (errorNumber) {
    case access::kDuplicateKeyError:
    case 524:
    case 3426:
    case 16389:
        return true;
    default:
        return false;
    }
}

QString deleteAccountQuestion(const QString& login, const QStringList& folders, int rules) {
    const QString account = login.isEmpty() ? QStringLiteral("l'account senza login")
                                            : QStringLiteral("l'account \"%1\"").arg(login);
    QString question;
    if (folders.isEmpty()) {
        question = QStringLiteral("Eliminare %1?").arg(account);
    } else {
        const QString which =
            folders.size() == 1 ? QStringLiteral("la sua cartella virtuale")
                                : QStringLiteral("le sue %1 cartelle virtuali").arg(folders.size());
        question =
            QStringLiteral("Eliminare %1 e %2 (%3)?").arg(account, which, folders.join(u", "));
    }
    if (rules == 1)
        question += QStringLiteral(" Sarà eliminata anche la sua azione.");
    else if (rules > 1)
        question += QStringLiteral(" Saranno eliminate anche le sue %1 azioni.").arg(rules);
    return question;
}

RootStore viewRootStore(access::DataView& view, std::function<access::RootOwner()> owner) {
    const QString field = access::column::kRootDir;
    RootStore store;
    store.owner = std::move(owner);
    store.stored = [&view, field] { return view.Field(field); };
    store.problem = [](const QString& text) { return access::rootProblem(text); };
    store.keep = [&view, field](const QString& text) { return keepField(view, field, text); };
    return store;
}

AccountPanelLogic::AccountPanelLogic(access::DataView& users, Messages& messages,
                                     const QSqlDatabase& db, QObject* parent)
    : QObject(parent), users_(users), messages_(messages), db_(db) {
    connect(&users_, &access::DataView::Error, this, &AccountPanelLogic::onError);
    // An account is stored only once it has a login: one left without is dropped.
    users_.setNewRowCheck([](const access::DataView& row) {
        return !row.Field(QStringLiteral("login")).trimmed().isEmpty();
    });
}

void AccountPanelLogic::onError(int errorNumber, const QString& text) {
    ++errorsShown_;
    // A message box is open already (its focus change can save the row again):
    // one message at a time.
    if (inError_)
        return;
    inError_ = true;
    if (ErroreDB(errorNumber) == 1 && !text.isEmpty())
        messages_.show(text, MessageIcon::Exclamation);
    inError_ = false;
}

int AccountPanelLogic::ErroreDB(int errorNumber) {
    if (isDuplicateLoginError(errorNumber)) {
        messages_.show(kDuplicateLoginMessage, MessageIcon::Exclamation);
        // The typed row stays current and pending, so the operator can
        // correct the login where it was typed.
        refusedRow_ = users_.currentRow();
        refusedLogin_ = users_.Field(QStringLiteral("login"));
        Q_EMIT loginRefused();
        return 0;
    }
    messages_.show(QString::number(errorNumber), MessageIcon::None);
    return 1;
}

bool AccountPanelLogic::cmdAdd() {
    if (users_.isNewRow() && users_.Field(QStringLiteral("login")).trimmed().isEmpty()) {
        Q_EMIT newAccountStarted(); // the one waiting for its login
        return true;
    }
    const int shownBefore = errorsShown_;
    if (!users_.AddNew()) {
        // A pending edit that could not be saved has been reported already.
        if (errorsShown_ == shownBefore)
            ErroreDB(users_.lastErrorNumber());
        return false;
    }
    // As `kestrova user add NAME --rights rb` makes it; every switch set, none null.
    const files::Rights rights = *files::Rights::parse(u"rb");
    users_.setField(access::column::kEnabled, 1);
    for (const auto& [field, right] : access::column::kRights)
        users_.setField(field, int(rights.has(right)));
    Q_EMIT newAccountStarted();
    return true;
}

bool AccountPanelLogic::cmdDelete() {
    if (!users_.hasCurrentRow())
        return false;
    if (users_.isNewRow()) {
        users_.CancelUpdate(); // never stored: nothing to ask about
        users_.MoveLast();     // the row before it, as after deleting the last
        return true;
    }
    bool numbered = false;
    const qlonglong id = users_.value(QStringLiteral("ID")).toLongLong(&numbered);
    // Owner 0 is the anonymous account, whose folders are never removed this way.
    const bool withFolders = numbered && id != kAnonymousOwner;
    const QStringList folders = withFolders ? folderNames(id) : QStringList{};
    const QString login = users_.Field(QStringLiteral("login"));
    if (!messages_.confirm(deleteAccountQuestion(login, folders, ruleCount(savedLogin()))))
        return false;
    // Folders go only with an account that is really gone.
    if (!users_.Delete())
        return false;
    users_.MoveNext();
    if (users_.AtEOF())
        users_.MovePrevious();
    if (withFolders)
        (void)access::VirtualDirService(db_).removeAll(id);
    return true;
}

QStringList AccountPanelLogic::folderNames(qlonglong owner) const {
    QStringList names;
    if (!db_.isValid())
        return names;
    VirtualDirList list(db_, static_cast<int>(owner));
    if (!list.Refresh())
        return names;
    for (int row = 0; row < list.rowCount(); ++row)
        names.append(list.data(list.index(row, VirtualDirList::Name)).toString());
    return names;
}

int AccountPanelLogic::ruleCount(const QString& login) const {
    // The rules the delete trigger takes with the account (none without the table).
    return db_.isValid() ? access::AccountService(db_).ruleCount(login) : 0;
}

qint64 AccountPanelLogic::currentId() const {
    bool numbered = false;
    const qint64 id = users_.value(QStringLiteral("ID")).toLongLong(&numbered);
    return numbered && users_.hasCurrentRow() ? id : -1;
}

QString AccountPanelLogic::savedLogin() const {
    const qint64 id = currentId();
    if (id < 0 || !db_.isValid())
        return {};
    return access::AccountService(db_).storedLogin(id).value_or(QString());
}

EditVerdict AccountPanelLogic::setLogin(const QString& text, EditStep step) {
    if (!users_.hasCurrentRow())
        return EditVerdict::declined();
    // The login as stored, shown or put back after a refused text, is not judged.
    if (step != EditStep::Given) {
        if (const auto problem = access::loginProblem(db_, text, currentId()))
            return EditVerdict::refused(*problem);
    }
    return keepField(users_, QStringLiteral("login"), text);
}

std::optional<QString> AccountPanelLogic::loginProblemAt(int row, const QString& typed) const {
    QSqlTableModel* model = users_.tableModel();
    bool numbered = false;
    const qint64 id = model ? model->index(row, model->fieldIndex(QStringLiteral("ID")))
                                  .data()
                                  .toLongLong(&numbered)
                            : 0;
    return access::loginProblem(db_, typed, numbered ? id : -1);
}

EditVerdict AccountPanelLogic::setRoot(const QString& text, EditStep step) {
    const RootStore store = viewRootStore(
        users_, [this] { return access::accountRootOwner(users_.Field(QStringLiteral("login"))); });
    return changeRoot(store, text, step, messages_);
}

AccountFacts AccountPanelLogic::currentFacts() const {
    AccountFacts facts;
    if (!users_.hasCurrentRow())
        return facts;
    facts.enabled = users_.isTrue(QStringLiteral("enabled"));
    facts.hasPassword = !users_.value(QStringLiteral("password")).isNull();
    const QString login = savedLogin();
    if (!login.isEmpty()) {
        const auto keys = access::AccountKeys(db_).list(login);
        facts.hasKeys = keys && !keys->isEmpty();
    }
    for (std::size_t i = 0; i < facts.rights.size(); ++i)
        facts.rights[i] = users_.isTrue(access::column::kRights[i].first);
    facts.root = users_.Field(access::column::kRootDir);
    if (facts.root.isEmpty() && db_.isValid())
        facts.root = access::SettingsService(db_).setting(settings::setting::kRootDir);
    facts.rootExists = QDir::isAbsolutePath(facts.root) && QFileInfo(facts.root).isDir();
    return facts;
}

QString AccountPanelLogic::abilities() const {
    return users_.hasCurrentRow() ? accountAbilities(currentFacts()) : QString();
}

bool AccountPanelLogic::holdsRefusedLogin() const {
    return refusedRow_ >= 0 && users_.isDirty() && users_.currentRow() == refusedRow_ &&
           users_.Field(QStringLiteral("login")) == refusedLogin_;
}

void AccountPanelLogic::saveCurrent() {
    if (!users_.Edit())
        return;
    const bool adding = users_.isNewRow();
    const int rowsBefore = users_.RecordCount();
    // A new account stored stays current; one dropped (no login) leaves one row less.
    if (users_.Update() && adding && users_.RecordCount() == rowsBefore)
        users_.MoveToLastModified();
}

std::optional<QString> AccountPanelLogic::passwordToStore(const QString& typed) {
    if (typed.isEmpty())
        return QStringLiteral("");
    const std::optional<QString> hash = access::hashPassword(typed);
    if (!hash)
        messages_.show(kPasswordNotStoredMessage, MessageIcon::Exclamation);
    return hash;
}

std::optional<QString> AccountPanelLogic::setPassword(const QString& typed) {
    if (!users_.hasCurrentRow())
        return std::nullopt;
    const std::optional<QString> stored = passwordToStore(typed);
    if (!stored || !users_.setField(QStringLiteral("password"), *stored))
        return std::nullopt;
    return stored;
}

bool AccountPanelLogic::detailsEnabled() const {
    return users_.hasCurrentRow();
}

void AccountPanelLogic::cmdUserVirtual(const std::function<void(int)>& openEditor) {
    virtualDirUserID_ = kNoVirtualDirOwner;
    bool numbered = false;
    const int id = users_.value(QStringLiteral("ID")).toInt(&numbered);
    if (numbered && users_.hasCurrentRow())
        virtualDirUserID_ = id;
    if (virtualDirUserID_ == kNoVirtualDirOwner) {
        messages_.show(kNoAccountSelectedMessage, MessageIcon::Exclamation);
        return;
    }
    openEditor(virtualDirUserID_);
    virtualDirUserID_ = kNoVirtualDirOwner;
}

void AccountPanelLogic::cmdVirtualAnonymous(const std::function<void(int)>& openEditor) {
    virtualDirUserID_ = kAnonymousOwner;
    openEditor(virtualDirUserID_);
    virtualDirUserID_ = kNoVirtualDirOwner;
}

} // namespace kv::admin
