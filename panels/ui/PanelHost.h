#pragma once
// What an administration panel may ask of the window around it: the account
// views it edits, the operator's message box, the folder picker, and the few
// facts about the running server that it shows. The window implements it.

#include "core/CertificateTools.h"
#include "core/Messages.h"

#include <QJsonObject>
#include <QString>
#include <functional>
#include <optional>

class QWidget;
class QSqlDatabase;

namespace kv::access {
class AccountViews;
} // namespace kv::access

namespace kv::session {
class LoginBans;
}

namespace kv::ui {

class PanelHost {
public:
    virtual ~PanelHost() = default;
    virtual access::AccountViews& views() = 0;
    // The open connection to accounts.dat (the virtual folder editor queries it).
    virtual QSqlDatabase connection() const = 0;
    virtual Messages& messages() = 0;
    // Modal folder picker: the chosen folder, or "" when cancelled.
    virtual QString BrowseForFolder(QWidget* owner, const QString& prompt,
                                    const QString& defaultRoot) = 0;
    // Modal picker of a file the server reads (a certificate, its key): the
    // chosen file, or "" when cancelled. A remote window offers the server's.
    virtual QString BrowseForFile(QWidget* owner, const QString& prompt,
                                  const QString& current) = 0;
    // Modal picker of a file this program reads itself (an account's public
    // key): one of this PC's, also in a remote window; "" when cancelled.
    virtual QString BrowseForLocalFile(QWidget* owner, const QString& prompt,
                                       const QString& current) = 0;
    // The folder of accounts.dat (and of the generated certificate).
    virtual QString dataFolder() const = 0;
    // The program's certificate steps (each may be unset).
    virtual const CertificateTools& certificateTools() const = 0;
    // Lays the shown panel out again (after content changed size).
    virtual void relayout() = 0;
    // The address column of the online list's selected row; empty optional
    // when no row is selected.
    virtual std::optional<QString> selectedOnlineAddress() const = 0;
    // The text of the default-root box (shown for accounts without a root).
    virtual QString defaultRootText() const = 0;
    // The address the server listens on, or the one it would use, as shown
    // to the operator ("Mostra IP").
    virtual bool serverRunning() const = 0;
    virtual QString listeningAddress() const = 0;
    virtual QString defaultLocalAddress() const = 0;
    // The failed-login counts and bans of the server; null without one.
    virtual session::LoginBans* loginBans() = 0;
    // A panel wrote accounts.dat itself, not through the views (an account's
    // limits): the server rereads what it reads only at a reread, if that changed.
    virtual void wroteAccountsFile() {}
    // The answer of the server the window shows to the channel's op "acme"
    // ({"ok", "acme": state} or {"ok": false, "error"}), given to `answer`
    // now or later; `renew` asks for an attempt first. Without a server that
    // can tell, an empty object.
    virtual void askAcme(bool renew, std::function<void(const QJsonObject&)> answer) {
        (void)renew;
        answer({});
    }
};

} // namespace kv::ui
