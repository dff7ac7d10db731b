#include "admin/logic/AccountPanelLogic.h"

#include "access/DataView.h"
#include "access/PasswordHash.h"
#include "admin/logic/VirtualDirList.h"

#include <algorithm>

namespace kv::admin {

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

QString deleteAccountQuestion(const QString& login, const QStringList& folders) {
    const QString account = login.isEmpty() ? QStringLiteral("l'account senza login")
                                            : QStringLiteral("l'account \"%1\"").arg(login);
    if (folders.isEmpty())
        return QStringLiteral("Eliminare %1?").arg(account);
    const QString which = folders.size() == 1
                              ? QStringLiteral("la sua cartella virtuale")
                              : QStringLiteral("le sue %1 cartelle virtuali").arg(folders.size());
    return QStringLiteral("Eliminare %1 e %2 (%3)?").arg(account, which, folders.join(u", "));
}

AccountPanelLogic::AccountPanelLogic(access::DataView& users, Messages& messages,
                                     const QSqlDatabase& db, QObject* parent)
    : QObject(parent), users_(users), messages_(messages), db_(db) {
    connect(&users_, &access::DataView::Error, this, &AccountPanelLogic::onError);
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

void AccountPanelLogic::cmdAdd() {
    const int shownBefore = errorsShown_;
    if (!users_.AddNew()) {
        // A pending edit that could not be saved has been reported already.
        if (errorsShown_ == shownBefore)
            ErroreDB(users_.lastErrorNumber());
        return;
    }
    if (users_.Update())
        users_.MoveToLastModified();
}

bool AccountPanelLogic::cmdDelete() {
    if (!users_.hasCurrentRow())
        return false;
    bool numbered = false;
    const qlonglong id = users_.value(QStringLiteral("ID")).toLongLong(&numbered);
    // Owner 0 is the anonymous account, whose folders are never removed this way.
    const bool withFolders = numbered && id != kAnonymousOwner;
    const QStringList folders = withFolders ? folderNames(id) : QStringList{};
    if (!messages_.confirm(deleteAccountQuestion(users_.Field(QStringLiteral("login")), folders)))
        return false;
    // Folders go only with an account that is really gone.
    if (!users_.Delete())
        return false;
    users_.MoveNext();
    if (users_.AtEOF())
        users_.MovePrevious();
    if (withFolders)
        users_.Execute(QStringLiteral("DELETE FROM virtualdirs WHERE user=?"), {id});
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

bool AccountPanelLogic::holdsRefusedLogin() const {
    return refusedRow_ >= 0 && users_.isDirty() && users_.currentRow() == refusedRow_ &&
           users_.Field(QStringLiteral("login")) == refusedLogin_;
}

void AccountPanelLogic::saveCurrent() {
    if (users_.Edit())
        users_.Update();
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
