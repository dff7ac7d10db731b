// The main window's lifecycle: construction and wiring to the program core,
// the stored window size, activation (first start-up steps), the toolbar,
// the host answers the panels ask of the window, and closing.
#include "window/Form1.h"

#include "access/DataView.h"
#include "access/ListSwitches.h"
#include "adminchannel/AdminChannel.h"
#include "adminchannel/AttachedServer.h"
#include "adminchannel/KnownServers.h"
#include "core/NumberConversion.h"
#include "core/ProgramCore.h"
#include "core/ReloadWatch.h"
#include "core/ServerBoxes.h"
#include "core/Version.h"
#include "desktop/ShellOpen.h"
#include "desktop/WebAddresses.h"
#include "layout/FrameLayout.h"
#include "layout/Twips.h"
#include "panels/logic/StartupDefaults.h"
#include "panels/ui/SettingsPanel.h"
#include "settings/OptionCatalog.h"
#include "window/Artwork.h"
#include "window/HelpBrowser.h"
#include "window/LogPanel.h"
#include "window/OnlinePanel.h"
#include "window/StartNotice.h"
#include "window/TrayIcon.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QListWidget>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QWindow>
#include <cmath>

namespace kv::ui {

Form1Options defaultForm1Options() {
    Form1Options options;
    options.trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
    options.desktopOpen = [](const QString& document, const QString& folder) {
        return QDesktopServices::openUrl(QUrl::fromUserInput(document, folder));
    };
    options.showNotice = [](StartNotice& notice) { notice.exec(); };
    return options;
}

Form1::Form1(ProgramCore& core, Messages& messages, QWidget* parent, Form1Options options)
    : QMainWindow(parent), CorePanelHost(core), core_(core), messages_(messages),
      options_(std::move(options)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowIcon(art::programIcon());
    tray_ = new TrayIcon(options_.trayAvailable, this);
    connect(tray_, &TrayIcon::startChosen, this, &Form1::mnuStart_Click);
    connect(tray_, &TrayIcon::stopChosen, this, &Form1::mnuStop_Click);
    connect(tray_, &TrayIcon::restoreChosen, this, &Form1::mnuRipristina_Click);
    connect(tray_, &TrayIcon::exitChosen, this, &QWidget::close);
    attached_ = new AttachedServer(this);
    reloadWatch_ = std::make_unique<ReloadWatch>(core_.database().connection());

    buildFrame();
    buildPanels();
    buildShortcuts();

    core_.setServerView(this);
    core_.setLogToFile([this] { return logPanel_->logToFile(); });

    connect(attached_, &AttachedServer::attached, this, &Form1::onAttached);
    connect(attached_, &AttachedServer::unavailable, this,
            [this](AdminConnection::Failure failure, const QString& reason) {
                onAttachFailed(failure == AdminConnection::Failure::Denied, reason);
            });
    connect(attached_, &AttachedServer::gone, this, &Form1::onAttachedGone);
    connect(attached_, &AttachedServer::logLine, logPanel_, &LogPanel::ShowLogLine);
    connect(attached_, &AttachedServer::reloadAnswered, this, &Form1::onReloadAnswered);
    connect(attached_, &AttachedServer::refused, this,
            [this](const QString& reason) { messages_.show(reason, MessageIcon::Exclamation); });
    // The user count follows the listed server's sessions, as the list does.
    for (ServerSource* source : {online_->localSource(), static_cast<ServerSource*>(attached_)}) {
        const auto count = [this, source] {
            if (online_->source() == source)
                ShowUsersNumber();
        };
        connect(source, &ServerSource::sessionsChanged, this, count);
        connect(source, &ServerSource::sessionChanged, this, count);
        connect(source, &ServerSource::sessionGone, this, count);
    }

    // Load: size, offline state, caption, navigation list, column widths.
    loadWindowSize();
    setStatus(false, QStringLiteral("Offline"));
    setWindowTitle(kProgramTitle + QLatin1Char(' ') + QString::fromLatin1(kVersionText));
    CaricaLista();
    lvwMenu->setCursor(imgBanner->cursor());
    online_->CaricaImpostazioniOnline();
    ShowUsersNumber();
    refreshTrayMenu();

    connect(qApp, &QApplication::focusChanged, this, &Form1::commitPanelEdits);
    connect(qApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* window) {
        if (!window)
            returningFromOutside_ = true;
        else if (window != windowHandle())
            returningFromOutside_ = false;
    });

    if (options_.remote)
        setUpRemote(*options_.remote);

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &Form1::onTimer1);
    Timer1->start();
}

Form1::~Form1() {
    // The panels go below, and with them the focus: nothing is to be saved then.
    disconnect(qApp, nullptr, this, nullptr);
    Timer1->stop();
    attached_->detach();
    channel_.reset();
    core_.setServerView(nullptr);
    ProgramCore& core = core_;
    core_.setLogToFile([&core] {
        return access::SettingsSwitchOn(core.views().Data2(), settings::setting::kLog);
    });
    // Panels may still ask the window (as their PanelHost) while they go, so
    // they go while the window is whole.
    for (QWidget*& panel : picPanel_) {
        delete panel;
        panel = nullptr;
    }
}

bool Form1::event(QEvent* event) {
    // Coming back from another program is not an activation of this window:
    // only the first activation and returns from the program's own windows
    // (a message box, the notice, the log viewer) count.
    if (event->type() == QEvent::WindowActivate && !unloaded_) {
        const bool fromOutside = returningFromOutside_;
        returningFromOutside_ = false;
        if (!fromOutside || !alreadyActivated_)
            Form_Activate();
    }
    return QMainWindow::event(event);
}

void Form1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // The resize that comes with the first show arrives while the window is
    // still hidden, and a window manager may send no other.
    OrdinaPannello(pannelloCorrente_);
    // Platforms that never activate the window still get the start-up steps.
    if (!alreadyActivated_ && !activationQueued_) {
        activationQueued_ = true;
        QTimer::singleShot(0, this, [this] {
            if (!alreadyActivated_ && !unloaded_)
                Form_Activate();
        });
    }
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    // The toolbar lays its buttons out after the window's own resize: the
    // banner follows the last one as it moves or grows.
    if (watched == Toolbar1->widgetForAction(Toolbar1->actions().constLast()) &&
        (event->type() == QEvent::Move || event->type() == QEvent::Resize))
        placeBanner();
    if (watched == picMain && event->type() == QEvent::Wheel && VScroll1->isEnabled() &&
        VScroll1->isVisible()) {
        QCoreApplication::sendEvent(VScroll1, event);
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void Form1::Form_Activate() {
    if (!alreadyActivated_)
        firstActivation();
    WebBrowser1->navigate(QStringLiteral("about:blank"));
    picBanner->raise();
}

void Form1::firstActivation() {
    alreadyActivated_ = true;
    if (isRemote()) {
        // The copy is the server's to fill: nothing is chosen for it here.
        remoteLink_->connectNow();
        selectItem(1);
        return;
    }
    if (const QString problem = core_.databaseProblem(); !problem.isEmpty())
        messages_.show(problem, MessageIcon::Exclamation);

    // The address list belongs to the settings panel, which fills it itself when built.
    SettingsRowBoxes boxes(core_.views().Data2());
    const PortChoice port = choosePort(settingsPanel_->portEntries(), boxes.text(ServerBox::Port));
    if (boxes.text(ServerBox::Port).isEmpty())
        boxes.setText(ServerBox::Port, port.text);
    settingsPanel_->showPortChoice(port);

    if (startsMinimized(core_.views().Data2().Field(settings::setting::kMinimized))) {
        setWindowState(windowState() | Qt::WindowMinimized);
        minimiseToTray();
    }
    // A server another program runs on this data folder is shown whatever
    // the automatic start says; without one the window starts its own if told to.
    startOrAttach(core_.views().Data2().isTrue(settings::setting::kStart));
    selectItem(1);
}

void Form1::toolbarClick(const QString& key) {
    core_.views().commitAll();
    if (isRemote())
        return; // the remote server starts and stops on its own PC
    if (key == QLatin1String("kStart"))
        startOrAttach(true);
    else if (key == QLatin1String("kStop") && !isAttached())
        core_.server().ServerStop();
    ShowUsersNumber();
}

std::optional<QString> Form1::selectedOnlineAddress() const {
    return online_->selectedAddress();
}

QString Form1::defaultRootText() const {
    if (settingsPanel_)
        return settingsPanel_->rootText();
    return core_.views().Data2().Field(settings::setting::kRootDir);
}

QString Form1::BrowseForFolder(QWidget* owner, const QString& prompt, const QString& defaultRoot) {
    if (isRemote())
        return browseRemote(owner ? owner : this, prompt, defaultRoot);
    return QFileDialog::getExistingDirectory(owner ? owner : this, prompt, defaultRoot);
}

QString Form1::BrowseForFile(QWidget* owner, const QString& prompt, const QString& current) {
    if (!isRemote())
        return CorePanelHost::BrowseForFile(owner ? owner : this, prompt, current);
    // The path is the server's to read: a file of its disk, not of this PC's.
    const QString dataFolder = attached_->status().value(QStringLiteral("dataFolder")).toString();
    return browseRemote(owner ? owner : this, prompt, serverFileStart(current, dataFolder),
                        BrowseDialog::Pick::File);
}

void Form1::imgBanner_Click() {
    (void)shell::ShellOpen(shell::homePageAddress(), core_.dataFolder(), core_.settings(),
                           options_.desktopOpen);
}

bool Form1::confirmDisruption(Disruption kind) {
    if (isRemote())
        return kind != Disruption::CloseProgram || confirmRemoteClose();
    // An attached server goes on without the window.
    if (core_.server().ServerState() <= 0 || isAttached())
        return true;
    const QString question = disruptionQuestion(kind, countActivity(core_.connections()));
    return question.isEmpty() || messages_.confirm(question);
}

void Form1::closeEvent(QCloseEvent* event) {
    if (!unloaded_ && !confirmDisruption(Disruption::CloseProgram)) {
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
    QCoreApplication::quit();
}

void Form1::endOnSignal() {
    Form_Unload();
    QCoreApplication::quit();
}

void Form1::Form_Unload() {
    if (unloaded_)
        return;
    unloaded_ = true;
    Timer1->stop();
    attached_->detach();
    if (core_.server().ServerState() > 0)
        core_.server().ServerStop();
    logPanel_->closeViewer();
    tray_->remove();
    online_->MemorizzaImpostazioniOnline();
}

} // namespace kv::ui
