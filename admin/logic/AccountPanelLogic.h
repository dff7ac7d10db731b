#pragma once
// What the "Account" panel does to the users view: adding and deleting
// accounts (with their virtual folders), the database error messages, whether
// the account's detail groups are usable, the cover over the grid's empty rows,
// and which owner the virtual folder editor is opened for.

#include "core/Messages.h"

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

inline const QString kDuplicateLoginMessage = QStringLiteral("Non è consentito duplicare i Login");
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

// The question asked before "Elimina account", naming the account and the
// virtual folders that go with it.
QString deleteAccountQuestion(const QString& login, const QStringList& folders);

class AccountPanelLogic : public QObject {
    Q_OBJECT
public:
    // Database errors of `users` are answered through `messages` from now on;
    // `db` is read for the virtual folders named before a delete.
    AccountPanelLogic(access::DataView& users, Messages& messages, const QSqlDatabase& db = {},
                      QObject* parent = nullptr);

    // "Nuovo account": a new empty account, saved at once and made current.
    void cmdAdd();
    // "Elimina account": after the operator said yes, the current account and
    // exactly its virtual folders. True when they are gone.
    bool cmdDelete();
    // Shows the operator's message for a failed save; 0 when nothing more is
    // to be shown, 1 when the database's own text should follow.
    int ErroreDB(int errorNumber);
    // The grid's focus handler: writes the current account back.
    void saveCurrent();
    // What users.password is to hold for a typed password: its yescrypt hash,
    // or empty text for an empty one; nullopt, with a message, when the hash
    // cannot be made.
    std::optional<QString> passwordToStore(const QString& typed);
    // A password typed for the current account goes into its row (pending,
    // like every edit); returns the value stored, nullopt without an account.
    std::optional<QString> setPassword(const QString& typed);

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

private:
    void onError(int errorNumber, const QString& text);
    QStringList folderNames(qlonglong owner) const;

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
