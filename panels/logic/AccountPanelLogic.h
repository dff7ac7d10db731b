#pragma once
// What the "Account" panel does to the users view: adding and deleting
// accounts (with their virtual folders), the typed login and root judged
// before they reach the row, what the current account can do, the database
// error messages, whether the account's detail groups are usable, the cover
// over the grid's empty rows, and which owner the virtual folder editor is
// opened for. Nothing here needs the server stopped: every change goes to
// accounts.dat, which a running server reads at each login.

#include "access/EntryChecks.h"
#include "core/Messages.h"
#include "panels/logic/AccountAbilities.h"
#include "panels/logic/FieldEdit.h"
#include "panels/logic/RootFolderLogic.h"

#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace kv::access {
class DataView;
}

namespace kv::admin {

using access::kDuplicateLoginMessage;
inline const QString kNoAccountSelectedMessage = QStringLiteral("Nessun account selezionato");
inline const QString kPasswordNotStoredMessage =
    QStringLiteral("Impossibile memorizzare la password: usare altri caratteri e riprovare");

// Owner numbers of the virtual folder editor: no account, the anonymous account.
inline constexpr int kNoVirtualDirOwner = -2;
inline constexpr int kAnonymousOwner = 0;

// Rows the account grid shows at once.
inline constexpr int kAccountGridRows = 10;

// Twips: the grid's height and the cover over its empty rows.
struct AccountGridCover {
    int gridHeight = 0;
    bool visible = false;
    int top = 0;
    int height = 0;
};

// The grid is ten rows high; the cover lies over the rows below the last
// account, and is hidden once ten or more accounts fill the grid.
AccountGridCover accountGridCover(int rowHeight, int gridTop, int accountCount);

// True for the error numbers that mean a login that another account has already.
bool isDuplicateLoginError(int errorNumber);

// The question asked before "Elimina account", naming the account, the
// virtual folders that go with it and how many action rules go too.
QString deleteAccountQuestion(const QString& login, const QStringList& folders, int rules = 0);

// The root of `view`'s current row (an account, or the anonymous account),
// judged by access::rootProblem, for a root box of `owner`.
RootStore viewRootStore(access::DataView& view, std::function<access::RootOwner()> owner);

class AccountPanelLogic : public QObject {
    Q_OBJECT
public:
    // Database errors of `users` are answered through `messages` from now on;
    // `db` is read for the virtual folders named before a delete.
    AccountPanelLogic(access::DataView& users, Messages& messages, const QSqlDatabase& db = {},
                      QObject* parent = nullptr);

    // "Nuovo account": a new account, enabled with the read and browse rights
    // (as `kestrova user add NAME --rights rb` makes one), made current and
    // kept pending: it is stored once it is left with a login, and dropped
    // when left without one. While such a row waits for its login another
    // press adds nothing. True when a new account is current afterwards.
    bool cmdAdd();
    // "Elimina account": after the operator said yes, the current account and
    // exactly its virtual folders (its keys and action rules go with it, by
    // the file's triggers). A new account not yet stored goes without a
    // question. True when they are gone.
    bool cmdDelete();
    // Shows the operator's message for a failed save; 0 when nothing more is
    // to be shown, 1 when the database's own text should follow.
    int ErroreDB(int errorNumber);
    // The grid's focus handler: writes the current account back (a new one
    // stays current once stored).
    void saveCurrent();
    // A login or root for the current account (a box's edit), judged as the
    // command line judges it (access/EntryChecks.h); the whole disk as root
    // only after the operator's yes. Without an account: declined.
    EditVerdict setLogin(const QString& text, EditStep step = EditStep::Leaving);
    EditVerdict setRoot(const QString& text, EditStep step = EditStep::Leaving);
    // Why `typed` would be refused as the login of model row `row` (the grid's cell).
    std::optional<QString> loginProblemAt(int row, const QString& typed) const;
    // What the current account can do now; empty without one.
    QString abilities() const;
    AccountFacts currentFacts() const;
    // What users.password is to hold for a typed password: its yescrypt hash,
    // or empty text for an empty one; nullopt, with a message, when the hash
    // cannot be made.
    std::optional<QString> passwordToStore(const QString& typed);
    // A password typed for the current account goes into its row (pending,
    // like every edit); returns the value stored, nullopt without an account.
    std::optional<QString> setPassword(const QString& typed);

    // The current account's login as stored (its keys and limits are kept
    // under it); empty for a new account not stored yet.
    QString savedLogin() const;

    // The login, root, permission and virtual-folder groups are usable.
    bool detailsEnabled() const;

    // The current row holds a login refused as a duplicate and has not been
    // corrected since: moving off it would only be refused again.
    bool holdsRefusedLogin() const;

    // The owner whose virtual folders the editor shows; -2 while it is closed.
    int VirtualDirUserID() const { return virtualDirUserID_; }
    // Open the editor (modally, through `openEditor`) for the current account,
    // or say that none is selected; and for the anonymous account.
    void cmdUserVirtual(const std::function<void(int owner)>& openEditor);
    void cmdVirtualAnonymous(const std::function<void(int owner)>& openEditor);

Q_SIGNALS:
    // A typed login was refused as a duplicate (after the message).
    void loginRefused();
    // "Nuovo account" left a new account current, waiting for its login.
    void newAccountStarted();

private:
    void onError(int errorNumber, const QString& text);
    QStringList folderNames(qlonglong owner) const;
    int ruleCount(const QString& login) const;
    // The current account's ID; -1 for a new one not yet stored.
    qint64 currentId() const;

    access::DataView& users_;
    Messages& messages_;
    QSqlDatabase db_;
    // Where and what the last refused login was.
    int refusedRow_ = -1;
    QString refusedLogin_;
    int virtualDirUserID_ = kNoVirtualDirOwner;
    int errorsShown_ = 0;
    bool inError_ = false;
};

} // namespace kv::admin
