#pragma once
// The main window: toolbar with Start and Stop, the navigation list of the
// six categories, the title strip, the viewport with the panels and its
// scroll bar, the status bar, the banner and the tray icon. It shows what
// the program core does (server state, log lines, online users) and hands
// the operator's actions to it.

#include "adminchannel/RemoteLink.h"
#include "core/CoreFwd.h"
#include "core/DataFolder.h"
#include "core/ServerController.h"
#include "panels/ui/CorePanelHost.h"
#include "window/BrowseDialog.h"
#include "window/DisruptionQuestion.h"

#include <QMainWindow>
#include <QPointer>
#include <array>
#include <functional>
#include <memory>

class QAction;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QScrollBar;
class QTimer;
class QToolBar;
class QToolButton;

namespace kv {
class AdminChannel;
class AttachedServer;
class KnownServers;
class ReloadWatch;
class RemoteSync;
} // namespace kv

namespace kv::ui {

class AccountPanel;
class HelpBrowser;
class LogPanel;
class OnlinePanel;
class SecurityPanel;
class SettingsPanel;
class StartNotice;
class TrayIcon;

inline constexpr int kPanelCount = 6;

// A window on a remote server (kestrova --remote HOST:PORT): its data folder
// is a private copy of the server's data, its online list, bans and log
// are the server's, and every edit goes to the server.
struct RemoteWindowSetup {
    RemoteServerAddress server;
    QString password;
    // known_servers; empty: this user's own.
    QString knownServersFile;
    // The operator's answers; an unset one is asked with a dialog.
    RemoteLink::Questions questions;
};

struct Form1Options {
    // Whether the platform has a notification area; without one minimising
    // never hides the window.
    bool trayAvailable = true;
    // Opens a web address or document with the desktop; true when accepted.
    std::function<bool(const QString& document, const QString& folder)> desktopOpen;
    // Where the start notice is shown; tests replace it to answer it at once.
    std::function<void(StartNotice&)> showNotice;
    // When set, what the window shows (status bar, toolbar, online list, the
    // last log lines) is written there as JSON once a second, for tests
    // that drive the real program (KESTROVA_WINDOW_STATE).
    QString stateFile;
    // The system service's data folder: a window on it never starts a server
    // of its own there (tests give a scratch folder).
    QString serviceFolder = kServiceDataFolder;
    // Set for a window on a remote server.
    std::optional<RemoteWindowSetup> remote;
};

// The defaults: the tray as the platform reports it, QDesktopServices, exec().
Form1Options defaultForm1Options();

class Form1 : public QMainWindow, public CorePanelHost, public ServerView {
    Q_OBJECT
public:
    Form1(ProgramCore& core, Messages& messages, QWidget* parent = nullptr,
          Form1Options options = defaultForm1Options());
    ~Form1() override;

    // Lifecycle steps, also reachable directly (activation is raised by the
    // platform; tests and the screenshot tool call it themselves).
    void Form_Activate();
    void Form_Resize();
    void placeBanner();

    // Navigation: the 1-based item position (1 Account .. 6 Help).
    void selectItem(int position);
    int PannelloCorrente() const { return pannelloCorrente_; }
    QWidget* picPanel(int index) const { return picPanel_.at(index); }
    void OrdinaPannello(int index);

    // Whether the window shows a server another program runs on its data
    // folder (the service, a headless server, another window).
    bool isAttached() const;
    // Whether the data folder is the system service's (by its place, or
    // because the server the window attached to was the service): the window
    // then never starts a server there, it waits for the service.
    bool onServiceFolder() const;
    AttachedServer& attachedServer() const { return *attached_; }
    // Whether the window shows a remote server (its data a private copy).
    bool isRemote() const { return remoteLink_ != nullptr; }
    // The copy of the remote server's data; null for a local window.
    RemoteSync* remoteSync() const { return remoteSync_; }
    // "Connetti a un server...": asks for a server and opens it in a new window.
    void mnuConnect_Click();
    QAction* connectButton() const { return kConnect_; }

    // Toolbar button with key "kStart" or "kStop" (any other key: count only).
    void toolbarClick(const QString& key);
    void mnuStart_Click();
    // Stop from the toolbar or the tray: asks first while clients are connected.
    void mnuStop_Click();
    void mnuRipristina_Click();
    // SIGTERM or SIGINT: ends the program without asking, the window's own
    // server stopped as Stop does ("SERVER STOP" logged).
    void endOnSignal();
    // SIGHUP: the window's own server rereads the settings, as headless mode's does.
    void reloadOnSignal();

    QString statusText() const;
    // The status bar's tooltip: whose server an attached one is, in full.
    QString statusToolTip() const;
    QString usersText() const;
    QString ratesText() const;
    QString titleText() const;
    QAction* startButton() const { return kStart_; }
    QAction* stopButton() const { return kStop_; }
    QScrollBar* scrollBar() const { return VScroll1; }
    QWidget* viewport() const { return picMain; }
    QListWidget* menuList() const { return lvwMenu; }
    TrayIcon& tray() const { return *tray_; }
    OnlinePanel& online() const { return *online_; }
    LogPanel& logPanel() const { return *logPanel_; }
    HelpBrowser& helpBrowser() const { return *WebBrowser1; }
    bool alreadyActivated() const { return alreadyActivated_; }
    bool inTray() const;
    // The banner click: opens the maker's home page.
    void imgBanner_Click();

    // PanelHost (the core's answers come from CorePanelHost)
    ProgramCore& core() { return core_; }
    Messages& messages() override { return messages_; }
    QString BrowseForFolder(QWidget* owner, const QString& prompt,
                            const QString& defaultRoot) override;
    QString BrowseForFile(QWidget* owner, const QString& prompt, const QString& current) override;
    void relayout() override { OrdinaPannello(pannelloCorrente_); }
    void wroteAccountsFile() override;
    std::optional<QString> selectedOnlineAddress() const override;
    QString defaultRootText() const override;
    // An attached or remote server answers through its channel.
    void askAcme(bool renew, std::function<void(const QJsonObject&)> answer) override;

    // ServerView
    void showRunning(const QString& localAddress) override;
    void afterStart() override;
    void showStartFailed(const QString& message) override;
    void showStopped() override;

    // The status bar's user count, from the listed server's sessions.
    void ShowUsersNumber();
    // The online list brought up to date (at most every kOnlineRebuildMs).
    void AggiornaUtenti();

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildFrame();
    void buildPanels();
    void CaricaLista();
    void loadWindowSize();
    void onTimer1();
    void writeStateFile() const;
    void showRates(const QString& text);
    void firstActivation();
    void minimiseToTray();
    void restoreFromTray();
    void refreshTrayMenu();
    void refreshTray();
    void setStatus(bool online, const QString& text);
    void setAccountGroupsEnabled();
    void Form_Unload();
    // True when nobody is connected or the operator agreed to cut them off.
    bool confirmDisruption(Disruption kind);
    void buildShortcuts();
    // Attaches when a server answers on the data folder's socket; otherwise
    // starts the window's own server when `startIfNone`.
    void startOrAttach(bool startIfNone);
    void onAttached();
    void onAttachFailed(bool denied, const QString& reason);
    void onAttachedGone(const QString& reason);
    void onReloadAnswered(bool applied, const QString& reason);
    // While a server runs (its own or attached): asks it to reload once the
    // window wrote something it reads only at start.
    void reloadAfterEdits();
    // The window's own server rereads the settings; the reasons it could not
    // in `reasons`. True when applied.
    bool reloadOwnServer(QStringList* reasons = nullptr);
    // A reload asked from outside (kestrova reload, SIGHUP): the panels' pending
    // edits saved and the settings row read again first.
    bool rereadAsAsked();
    // Saves what the panels hold pending, as the focus leaves them: the
    // server reads only saved rows.
    void commitPanelEdits(QWidget* left, QWidget* entered);
    // The service's folder with no service answering: Start disabled, how to
    // start the service said; it is looked for again every second.
    void showServiceStopped(bool wentAway);
    void lookForService();
    // A line in the log box only: the attached server writes ftp.log itself.
    void noteInLog(const QString& text);
    // The window's own server serves the administration channel while it runs.
    void openOwnChannel();
    // The remote window: the link, the copy and what the window shows of them (Form1Remote.cpp).
    void setUpRemote(const RemoteWindowSetup& setup);
    void onRemoteLinked();
    void onRemoteLost(const QString& reason, int retryInMs);
    void onRemoteStopped(const QString& reason);
    void onRemoteReloaded(bool rowsChanged);
    void onRemoteEvent(const QJsonObject& event);
    void showRemoteStartStop();
    // The copy's changes to the server.
    void sendRemoteEdits();
    // Closing a remote window: asks first while changes have not reached the server.
    bool confirmRemoteClose();
    // A message shown once the channel's handler that brought it is done.
    void showLater(const QString& text);
    // The remote server's folders, or its files, through the channel.
    QString browseRemote(QWidget* owner, const QString& prompt, const QString& start,
                         BrowseDialog::Pick pick = BrowseDialog::Pick::Folder);
    // Scrolls the panel so the control that just got the focus is in view.
    void scrollIntoView(QWidget* focused);

    ProgramCore& core_;
    Messages& messages_;
    Form1Options options_;

    QToolBar* Toolbar1 = nullptr;
    QAction* kStart_ = nullptr;
    QAction* kStop_ = nullptr;
    QAction* kConnect_ = nullptr;
    QWidget* picBanner = nullptr;
    QToolButton* imgBanner = nullptr;
    QListWidget* lvwMenu = nullptr;
    QWidget* picSelected = nullptr;
    QToolButton* cmdSelected = nullptr;
    QWidget* picTitle = nullptr;
    QLabel* lblTitle = nullptr;
    QWidget* picMain = nullptr;
    QScrollBar* VScroll1 = nullptr;
    std::array<QWidget*, kPanelCount> picPanel_{};
    QLabel* statusPicture_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QWidget* usersPanel_ = nullptr;
    QLabel* usersPicture_ = nullptr;
    QLabel* usersLabel_ = nullptr;
    QLabel* ratesLabel_ = nullptr;
    QTimer* Timer1 = nullptr;
    HelpBrowser* WebBrowser1 = nullptr;
    OnlinePanel* online_ = nullptr;
    LogPanel* logPanel_ = nullptr;
    AccountPanel* accountPanel_ = nullptr;
    SettingsPanel* settingsPanel_ = nullptr;
    SecurityPanel* securityPanel_ = nullptr;
    TrayIcon* tray_ = nullptr;
    AttachedServer* attached_ = nullptr;
    std::unique_ptr<AdminChannel> channel_;
    std::unique_ptr<ReloadWatch> reloadWatch_;
    std::unique_ptr<KnownServers> knownServers_;
    RemoteLink* remoteLink_ = nullptr;
    RemoteSync* remoteSync_ = nullptr;
    bool startWhenNoServer_ = false;
    bool attaching_ = false;         // a server's socket asked, no answer yet
    bool attachedToService_ = false; // the last server attached to was the service
    bool waitingForService_ = false; // the service's folder with nobody serving it
    bool committingEdits_ = false;
    qsizetype usersShown_ = -1; // the user count on the status bar

    int pannelloCorrente_ = 0;
    bool alreadyActivated_ = false;
    bool unloaded_ = false;
    bool hiddenInTray_ = false;
    bool activationQueued_ = false;
    bool returningFromOutside_ = false;
};

} // namespace kv::ui
