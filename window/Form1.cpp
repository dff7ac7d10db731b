#include "window/Form1.h"

#include "access/DataView.h"
#include "access/ListSwitches.h"
#include "admin/logic/StartupDefaults.h"
#include "admin/ui/AdminPanels.h"
#include "core/NumberConversion.h"
#include "core/ProgramCore.h"
#include "core/ServerBoxes.h"
#include "core/Version.h"
#include "monitor/OnlineList.h"
#include "shell/FrameLayout.h"
#include "shell/ShellOpen.h"
#include "shell/Twips.h"
#include "shell/WebAddresses.h"
#include "window/Artwork.h"
#include "window/HelpBrowser.h"
#include "window/LogPanel.h"
#include "window/OnlinePanel.h"
#include "window/PanelArranger.h"
#include "window/StartNotice.h"
#include "window/TrayIcon.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollBar>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QWheelEvent>
#include <QWindow>
#include <cmath>

namespace kv::ui {

namespace {

int px(double twips) {
    return twipsToPixels(twips);
}
int tw(int pixels) {
    return static_cast<int>(pixelsToTwips(pixels));
}

// Frame controls are placed in window twips; the central area starts under the toolbar.
void placeInCentral(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(px(left), px(top - shell::kToolbarHeight), px(width), px(height));
}

const std::array<QString, kPanelCount> kCategories = {
    QStringLiteral("Account"), QStringLiteral("Impostazioni"), QStringLiteral("Sicurezza"),
    QStringLiteral("Log"),     QStringLiteral("Online"),       QStringLiteral("Help")};

const QString kWidth = QStringLiteral("Width");
const QString kHeight = QStringLiteral("Height");

} // namespace

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
    : QMainWindow(parent), core_(core), messages_(messages), options_(std::move(options)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowIcon(art::programIcon());
    tray_ = new TrayIcon(options_.trayAvailable, this);
    connect(tray_, &TrayIcon::startChosen, this, &Form1::mnuStart_Click);
    connect(tray_, &TrayIcon::stopChosen, this, &Form1::mnuStop_Click);
    connect(tray_, &TrayIcon::restoreChosen, this, &Form1::mnuRipristina_Click);

    buildFrame();
    buildPanels();

    core_.setLogScreen(logPanel_);
    core_.setOnlineObserver(this);
    core_.setServerView(this);
    core_.setLogToFile([this] { return logPanel_->logToFile(); });

    // Load: size, offline state, caption, navigation list, column widths.
    loadWindowSize();
    setStatus(false, QStringLiteral("Offline"));
    setWindowTitle(kProgramTitle + QLatin1Char(' ') + QString::fromLatin1(kVersionText));
    CaricaLista();
    lvwMenu->setCursor(imgBanner->cursor());
    online_->CaricaImpostazioniOnline();
    ShowUsersNumber();
    refreshTrayMenu();

    connect(qApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* window) {
        if (!window)
            returningFromOutside_ = true;
        else if (window != windowHandle())
            returningFromOutside_ = false;
    });

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, [this] { (void)core_.engine().Heartbeat(); });
    Timer1->start();
}

Form1::~Form1() {
    Timer1->stop();
    core_.setLogScreen(nullptr);
    core_.setOnlineObserver(nullptr);
    core_.setServerView(nullptr);
    ProgramCore& core = core_;
    core_.setLogToFile(
        [&core] { return access::SettingsSwitchOn(core.views().Data2(), QStringLiteral("log")); });
    // Panels may still ask the window (as their PanelHost) while they go, so
    // they go while the window is whole.
    for (QWidget*& panel : picPanel_) {
        delete panel;
        panel = nullptr;
    }
}

void Form1::buildFrame() {
    Toolbar1 = new QToolBar(QStringLiteral("Toolbar1"), this);
    Toolbar1->setObjectName(QStringLiteral("Toolbar1"));
    Toolbar1->setMovable(false);
    Toolbar1->setFloatable(false);
    Toolbar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    Toolbar1->setIconSize(QSize(18, 18));
    Toolbar1->setFixedHeight(px(shell::kToolbarHeight));
    Toolbar1->setContextMenuPolicy(Qt::PreventContextMenu);
    Toolbar1->addSeparator()->setObjectName(QStringLiteral("sep1"));
    kStart_ = Toolbar1->addAction(art::startIcon(), QStringLiteral("Start"));
    kStart_->setObjectName(QStringLiteral("kStart"));
    kStop_ = Toolbar1->addAction(art::stopIcon(), QStringLiteral("Stop"));
    kStop_->setObjectName(QStringLiteral("kStop"));
    kStop_->setEnabled(false);
    connect(kStart_, &QAction::triggered, this, [this] { toolbarClick(QStringLiteral("kStart")); });
    connect(kStop_, &QAction::triggered, this, [this] { toolbarClick(QStringLiteral("kStop")); });
    addToolBar(Qt::TopToolBarArea, Toolbar1);

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("centralArea"));
    setCentralWidget(central);

    lvwMenu = new QListWidget(central);
    lvwMenu->setObjectName(QStringLiteral("lvwMenu"));
    lvwMenu->setViewMode(QListView::IconMode);
    lvwMenu->setMovement(QListView::Static);
    lvwMenu->setFlow(QListView::TopToBottom);
    lvwMenu->setWrapping(false);
    lvwMenu->setResizeMode(QListView::Adjust);
    lvwMenu->setIconSize(QSize(32, 32));
    lvwMenu->setGridSize(QSize(px(shell::kMenuWidth) - 6, 64));
    lvwMenu->setTextElideMode(Qt::ElideNone);
    lvwMenu->setWordWrap(true);
    lvwMenu->setDragEnabled(false);
    lvwMenu->setDragDropMode(QAbstractItemView::NoDragDrop);
    lvwMenu->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lvwMenu->setStyleSheet(
        QStringLiteral("QListWidget#lvwMenu { background: #f3f6fa; border: 1px solid #b8c4d2; }"
                       "QListWidget#lvwMenu::item { color: #1f3a5f; border-radius: 4px; }"
                       "QListWidget#lvwMenu::item:selected { background: #d4e3f5; color: #10253f; "
                       "border: 1px solid #8fb1da; }"));
    placeInCentral(lvwMenu, shell::kMenuLeft, shell::kMenuTop, shell::kMenuWidth, 4695);
    connect(lvwMenu, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { selectItem(lvwMenu->row(item) + 1); });
    // Enter on an item chosen with the keyboard acts as a click.
    connect(lvwMenu, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { selectItem(lvwMenu->row(item) + 1); });

    picTitle = new QWidget(central);
    picTitle->setObjectName(QStringLiteral("picTitle"));
    picTitle->setAttribute(Qt::WA_StyledBackground);
    picTitle->setStyleSheet(
        QStringLiteral("QWidget#picTitle { background: qlineargradient(x1:0, y1:0, x2:1, y2:0, "
                       "stop:0 #1f3a5f, stop:1 #2f6f9f); border-radius: 3px; }"));
    placeInCentral(picTitle, shell::kContentLeft, shell::kTitleTop, 7215, shell::kTitleHeight);
    lblTitle = new QLabel(QStringLiteral("Categoria"), picTitle);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    QFont titleFont = lblTitle->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.1);
    lblTitle->setFont(titleFont);
    lblTitle->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    lblTitle->setGeometry(px(540), 0, px(6000), px(shell::kTitleHeight));

    picSelected = new QWidget(central);
    picSelected->setObjectName(QStringLiteral("picSelected"));
    placeInCentral(picSelected, shell::kContentLeft, shell::kTitleTop, shell::kSelectedWidth,
                   shell::kTitleHeight);
    cmdSelected = new QToolButton(picSelected);
    cmdSelected->setObjectName(QStringLiteral("cmdSelected"));
    cmdSelected->setAutoRaise(true);
    cmdSelected->setFocusPolicy(Qt::NoFocus);
    cmdSelected->setIconSize(QSize(20, 20));
    cmdSelected->setStyleSheet(
        QStringLiteral("QToolButton { border: none; background: transparent; }"));
    cmdSelected->setGeometry(0, 0, px(shell::kSelectedWidth), px(shell::kTitleHeight));

    picMain = new QWidget(central);
    picMain->setObjectName(QStringLiteral("picMain"));
    picMain->setAttribute(Qt::WA_StyledBackground);
    picMain->setStyleSheet(
        QStringLiteral("QWidget#picMain { background: white; border: 1px solid #b8c4d2; }"));
    placeInCentral(picMain, shell::kContentLeft, shell::kMainTop, 8235, 5955);
    picMain->installEventFilter(this);
    VScroll1 = new QScrollBar(Qt::Vertical, picMain);
    VScroll1->setObjectName(QStringLiteral("VScroll1"));
    VScroll1->setSingleStep(255);
    VScroll1->setPageStep(1020);
    VScroll1->setEnabled(false);
    connect(VScroll1, &QScrollBar::valueChanged, this, [this](int value) {
        if (QWidget* panel = picPanel_.at(pannelloCorrente_))
            panel->move(0, -px(value));
    });

    // The banner lies in the toolbar band, in front of it.
    picBanner = new QWidget(this);
    picBanner->setObjectName(QStringLiteral("picBanner"));
    picBanner->setGeometry(px(shell::kBannerMinimumLeft), px(shell::kBannerTop),
                           px(shell::kBannerWidth), px(shell::kBannerHeight));
    imgBanner = new QToolButton(picBanner);
    imgBanner->setObjectName(QStringLiteral("imgBanner"));
    imgBanner->setIcon(QIcon(art::banner()));
    imgBanner->setIconSize(QSize(396, 32));
    imgBanner->setAutoRaise(true);
    imgBanner->setFocusPolicy(Qt::NoFocus);
    imgBanner->setCursor(Qt::PointingHandCursor);
    imgBanner->setToolTip(shell::homePageAddress());
    imgBanner->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 0; }"));
    imgBanner->setGeometry(0, 0, px(shell::kBannerWidth), px(shell::kBannerHeight));
    connect(imgBanner, &QToolButton::clicked, this, &Form1::imgBanner_Click);

    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setFixedHeight(px(shell::kStatusBarHeight) + 4);
    bar->setSizeGripEnabled(false);
    auto* statusPanel = new QWidget(bar);
    statusPanel->setObjectName(QStringLiteral("kStatus"));
    auto* statusRow = new QHBoxLayout(statusPanel);
    statusRow->setContentsMargins(4, 0, 4, 0);
    statusRow->setSpacing(5);
    statusPicture_ = new QLabel(statusPanel);
    statusLabel_ = new QLabel(statusPanel);
    statusRow->addWidget(statusPicture_);
    statusRow->addWidget(statusLabel_, 1);
    bar->addWidget(statusPanel, 1);
    usersPanel_ = new QWidget(bar);
    usersPanel_->setObjectName(QStringLiteral("kUsers"));
    usersPanel_->setToolTip(QStringLiteral("Clicca qui per il dettaglio degli utenti connessi"));
    usersPanel_->setMinimumWidth(150);
    auto* usersRow = new QHBoxLayout(usersPanel_);
    usersRow->setContentsMargins(4, 0, 4, 0);
    usersRow->setSpacing(5);
    usersPicture_ = new QLabel(usersPanel_);
    usersLabel_ = new QLabel(usersPanel_);
    usersRow->addWidget(usersPicture_);
    usersRow->addWidget(usersLabel_, 1);
    bar->addPermanentWidget(usersPanel_);

    setMinimumSize(px(6000), px(5000));
}

void Form1::buildPanels() {
    for (int i = 0; i < kPanelCount; ++i) {
        auto* panel = new QWidget(picMain);
        panel->setObjectName(QStringLiteral("picPanel"));
        panel->setProperty("kvIndex", i);
        panel->setGeometry(0, 0, picMain->width() - VScroll1->sizeHint().width(),
                           picMain->height());
        panel->hide();
        picPanel_[i] = panel;
    }
    VScroll1->raise();
    buildAccountPanel(picPanel_[0], *this);
    buildSettingsPanel(picPanel_[1], *this);
    buildSecurityPanel(picPanel_[2], *this);
    logPanel_ = new LogPanel(picPanel_[3], core_, messages_, this);
    online_ = new OnlinePanel(picPanel_[4], core_, *this);
    WebBrowser1 = new HelpBrowser(
        [this](const QUrl& url) {
            if (options_.desktopOpen)
                options_.desktopOpen(url.toString(), QString());
        },
        picPanel_[5]);
    WebBrowser1->setGeometry(0, 0, 400, 300);
}

void Form1::CaricaLista() {
    lvwMenu->clear();
    for (int i = 0; i < kPanelCount; ++i) {
        auto* item = new QListWidgetItem(QIcon(art::categoryIcon(i)), kCategories[i], lvwMenu);
        item->setTextAlignment(Qt::AlignHCenter | Qt::AlignTop);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    }
}

void Form1::loadWindowSize() {
    const auto read = [this](const QString& name, int fallback) {
        const QString text =
            core_.settings().value(kAppTarrow, kSectionAppIni, name, QString::number(fallback));
        return static_cast<int>(std::lround(leadingNumber(text)));
    };
    const int height = read(kHeight, shell::kDefaultHeight);
    const int width = read(kWidth, shell::kDefaultWidth);
    resize(std::max(px(width), 1), std::max(px(height), 1));
}

void Form1::selectItem(int position) {
    if (position < 1 || position > kPanelCount)
        return;
    for (int i = 0; i < kPanelCount; ++i)
        picPanel_[i]->setVisible(i + 1 == position);
    lvwMenu->setCurrentRow(position - 1);
    lblTitle->setText(kCategories[position - 1]);
    cmdSelected->setIcon(QIcon(art::categoryIcon(position - 1)));
    pannelloCorrente_ = position - 1;
    OrdinaPannello(position - 1);
}

void Form1::OrdinaPannello(int index) {
    if (index < 0 || index >= kPanelCount)
        return;
    ArrangeHooks hooks;
    hooks.adattaColonneOnline = [this] { online_->AdattaColonneOnline(); };
    hooks.browserAddress = [this] { return WebBrowser1->address(); };
    hooks.browse = [this](shell::BrowserAction action, const QString& target) {
        if (action == shell::BrowserAction::Reload)
            WebBrowser1->reloadPage();
        else if (action == shell::BrowserAction::Navigate)
            WebBrowser1->navigate(target);
    };
    arrangePanel(index, picPanel_[index], picMain, VScroll1, isVisible() && !hiddenInTray_, hooks);
}

void Form1::Form_Resize() {
    if (isMinimized()) {
        minimiseToTray();
        return;
    }
    const shell::FrameGeometry g = shell::frameGeometry(tw(width()), tw(height()));
    picBanner->move(px(g.bannerLeft), picBanner->y());
    picBanner->raise();
    if (g.mainWidth >= 0)
        picMain->resize(px(g.mainWidth), picMain->height());
    if (g.titleWidth >= 0)
        picTitle->resize(px(g.titleWidth), picTitle->height());
    if (g.menuHeight >= 0)
        lvwMenu->resize(lvwMenu->width(), px(g.menuHeight));
    if (g.mainHeight >= 0)
        picMain->resize(picMain->width(), px(g.mainHeight));
    OrdinaPannello(pannelloCorrente_);
    // Only the normal state's size is remembered, so a restart comes back to it.
    if (!(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized))) {
        core_.settings().setValue(kAppTarrow, kSectionAppIni, kWidth, QString::number(tw(width())));
        core_.settings().setValue(kAppTarrow, kSectionAppIni, kHeight,
                                  QString::number(tw(height())));
    }
}

void Form1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void Form1::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // Queued: showMinimized() shows the window again right after the state change.
    if (event->type() == QEvent::WindowStateChange && isMinimized()) {
        QTimer::singleShot(0, this, [this] {
            if (isMinimized() && !unloaded_)
                minimiseToTray();
        });
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
    if (watched == picMain && event->type() == QEvent::Wheel && VScroll1->isEnabled() &&
        VScroll1->isVisible()) {
        QCoreApplication::sendEvent(VScroll1, event);
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void Form1::Form_Activate() {
    SettingsRowBoxes boxes(core_.views().Data2());
    if (boxes.text(ServerBox::Root).isEmpty()) {
        boxes.setText(ServerBox::Root, DefaultServerRoot());
        core_.views().Data2().Update();
        if (auto* root = picPanel_[1]->findChild<QLineEdit*>(QStringLiteral("txtRoot"));
            root && root->text().isEmpty())
            root->setText(DefaultServerRoot());
    }
    if (!alreadyActivated_)
        firstActivation();
    WebBrowser1->navigate(QStringLiteral("about:blank"));
    picBanner->raise();
}

void Form1::firstActivation() {
    alreadyActivated_ = true;
    if (const QString problem = core_.databaseProblem(); !problem.isEmpty())
        messages_.show(problem, MessageIcon::Exclamation);

    // The address list belongs to the settings panel, which fills it itself when built.
    SettingsRowBoxes boxes(core_.views().Data2());
    auto* cboPorta = picPanel_[1]->findChild<QComboBox*>(QStringLiteral("cboPorta"));
    QStringList entries;
    if (cboPorta) {
        for (int i = 0; i < cboPorta->count(); ++i)
            entries.append(cboPorta->itemText(i));
    }
    const PortChoice port = choosePort(entries, boxes.text(ServerBox::Port));
    if (boxes.text(ServerBox::Port).isEmpty())
        boxes.setText(ServerBox::Port, port.text);
    if (cboPorta) {
        const QSignalBlocker block(cboPorta);
        cboPorta->clear();
        cboPorta->addItems(port.entries);
        cboPorta->setCurrentIndex(-1);
        if (port.selected >= 0)
            cboPorta->setCurrentIndex(port.selected);
        else if (cboPorta->isEditable())
            cboPorta->setEditText(port.text);
        else
            cboPorta->setCurrentIndex(cboPorta->findText(port.text));
    }

    if (startsMinimized(core_.views().Data2().Field(QStringLiteral("minimized")))) {
        setWindowState(windowState() | Qt::WindowMinimized);
        minimiseToTray();
    }
    if (core_.views().Data2().isTrue(QStringLiteral("start")))
        toolbarClick(QStringLiteral("kStart"));
    selectItem(1);
}

void Form1::toolbarClick(const QString& key) {
    core_.views().commitAll();
    if (key == QLatin1String("kStart"))
        core_.server().ServerStart();
    else if (key == QLatin1String("kStop"))
        core_.server().ServerStop();
    ShowUsersNumber();
}

void Form1::mnuStart_Click() {
    core_.server().ServerStart();
}

void Form1::mnuStop_Click() {
    core_.server().ServerStop();
}

void Form1::mnuRipristina_Click() {
    restoreFromTray();
}

bool Form1::inTray() const {
    return hiddenInTray_;
}

void Form1::minimiseToTray() {
    if (hiddenInTray_)
        return;
    refreshTrayMenu();
    if (!tray_->add(core_.server().ServerState()))
        return; // no notification area: the window stays reachable from the task bar
    hiddenInTray_ = true;
    hide();
}

void Form1::restoreFromTray() {
    hiddenInTray_ = false;
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
    tray_->remove();
    Form_Resize();
}

void Form1::refreshTrayMenu() {
    tray_->mnuStart()->setEnabled(kStart_->isEnabled());
    tray_->mnuStop()->setEnabled(kStop_->isEnabled());
}

void Form1::refreshTray() {
    refreshTrayMenu();
    tray_->modify(core_.server().ServerState());
}

void Form1::setStatus(bool online, const QString& text) {
    statusPicture_->setPixmap(art::statusPicture(online));
    statusLabel_->setText(text);
}

QString Form1::statusText() const {
    return statusLabel_->text();
}

QString Form1::usersText() const {
    return usersLabel_->text();
}

QString Form1::titleText() const {
    return lblTitle->text();
}

void Form1::showRunning(const QString& localAddress) {
    kStart_->setEnabled(false);
    kStop_->setEnabled(true);
    setStatus(true, QStringLiteral("Online: ") + localAddress);
    for (int i = 0; i < 3; ++i)
        picPanel_[i]->setEnabled(false);
    logPanel_->closeViewer();
    refreshTrayMenu();
    tray_->modify(1);
}

void Form1::afterStart() {
    if (!isVisible() || hiddenInTray_ || isMinimized() || !startNoticeWanted(core_.settings()))
        return;
    StartNotice notice(core_.settings(), this);
    if (options_.showNotice)
        options_.showNotice(notice);
}

void Form1::showStartFailed(const QString& message) {
    refreshTray();
    messages_.show(message, MessageIcon::Exclamation);
}

void Form1::showStopped() {
    kStop_->setEnabled(false);
    kStart_->setEnabled(true);
    setStatus(false, QStringLiteral("Offline"));
    for (int i = 0; i < 3; ++i)
        picPanel_[i]->setEnabled(true);
    refreshTrayMenu();
    tray_->modify(0);
    online_->clear();
    setAccountGroupsEnabled();
}

void Form1::setAccountGroupsEnabled() {
    const bool current = core_.views().Data1().hasCurrentRow();
    for (QWidget* group : picPanel_[0]->findChildren<QWidget*>(QStringLiteral("picDetails"))) {
        const int index = group->property("kvIndex").toInt();
        if (index <= 3 || index == 7)
            group->setEnabled(current);
    }
}

void Form1::ShowUsersNumber() {
    const qsizetype count = core_.engine().Connections().size();
    usersLabel_->setText(monitor::usersNumberText(count));
    usersPicture_->setPixmap(art::usersPicture(count > 0));
}

void Form1::AggiornaUtenti() {
    online_->AggiornaUtenti();
}

std::optional<QString> Form1::selectedOnlineAddress() const {
    return online_->selectedAddress();
}

access::AccountViews& Form1::views() {
    return core_.views();
}

QSqlDatabase Form1::connection() const {
    return core_.database().connection();
}

void Form1::setListSwitches(const access::ListSwitches* switches) {
    core_.setListSwitches(switches);
}

bool Form1::serverRunning() const {
    return core_.server().ServerState() == 1;
}

QString Form1::listeningAddress() const {
    return core_.engine().LocalAddress();
}

QString Form1::defaultLocalAddress() const {
    return core_.DefaultLocalIP();
}

QString Form1::defaultRootText() const {
    if (auto* root = picPanel_[1]->findChild<QLineEdit*>(QStringLiteral("txtRoot")))
        return root->text();
    return core_.views().Data2().Field(QStringLiteral("rootdir"));
}

QString Form1::BrowseForFolder(QWidget* owner, const QString& prompt, const QString& defaultRoot) {
    return QFileDialog::getExistingDirectory(owner ? owner : this, prompt, defaultRoot);
}

void Form1::imgBanner_Click() {
    (void)shell::ShellOpen(shell::homePageAddress(), core_.dataFolder(), core_.settings(),
                           options_.desktopOpen);
}

void Form1::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
    QCoreApplication::quit();
}

void Form1::Form_Unload() {
    if (unloaded_)
        return;
    unloaded_ = true;
    Timer1->stop();
    if (core_.server().ServerState() > 0)
        core_.server().ServerStop();
    logPanel_->closeViewer();
    tray_->remove();
    online_->MemorizzaImpostazioniOnline();
}

} // namespace kv::ui
