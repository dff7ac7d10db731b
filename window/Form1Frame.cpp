// Builds the main window's frame: toolbar, navigation list, title strip,
// viewport with its scroll bar, banner and status bar, then the six panel
// containers and what goes into each.
#include "window/Form1.h"

#include "desktop/WebAddresses.h"
#include "layout/FrameLayout.h"
#include "layout/Twips.h"
#include "panels/ui/AccountPanel.h"
#include "panels/ui/AdminPanels.h"
#include "window/Artwork.h"
#include "window/HelpBrowser.h"
#include "window/LogPanel.h"
#include "window/OnlinePanel.h"
#include "window/QuotaSources.h"
#include "window/TrayIcon.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace kv::ui {

namespace {

int px(double twips) {
    return twipsToPixels(twips);
}

// Frame controls are placed in window twips; the central area starts under the toolbar.
void placeInCentral(QWidget* w, const shell::TwipsRect& r) {
    w->setGeometry(px(r.left), px(r.top - shell::kToolbarHeight), px(r.width), px(r.height));
}

} // namespace

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
    // Alt+S and Alt+T, underlined on the buttons.
    kStart_->setIconText(QStringLiteral("&Start"));
    kStop_->setIconText(QStringLiteral("S&top"));
    kStart_->setToolTip(QStringLiteral("Avvia il server (Alt+S)"));
    kStop_->setToolTip(QStringLiteral("Arresta il server (Alt+T)"));
    connect(kStart_, &QAction::triggered, this, [this] { toolbarClick(QStringLiteral("kStart")); });
    connect(kStop_, &QAction::triggered, this, &Form1::mnuStop_Click);
    // Another PC's server, opened in a window of its own; also in the tray's menu.
    kConnect_ = Toolbar1->addAction(style()->standardIcon(QStyle::SP_DriveNetIcon),
                                    QStringLiteral("Connetti a un server..."));
    kConnect_->setObjectName(QStringLiteral("kConnect"));
    kConnect_->setIconText(QStringLiteral("Connetti..."));
    kConnect_->setToolTip(QStringLiteral("Connetti a un server... (amministra un server su un "
                                         "altro PC, in una nuova finestra)"));
    connect(kConnect_, &QAction::triggered, this, &Form1::mnuConnect_Click);
    tray_->menu()->insertAction(tray_->mnuEsci(), kConnect_);
    addToolBar(Qt::TopToolBarArea, Toolbar1);
    Toolbar1->widgetForAction(kConnect_)->installEventFilter(this); // the banner keeps right of it

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
    lvwMenu->setGridSize(QSize(px(shell::kMenu.width) - 6, 64));
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
    placeInCentral(lvwMenu, shell::kMenu);
    connect(lvwMenu, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { selectItem(lvwMenu->row(item) + 1); });
    // Enter on an item chosen with the keyboard acts as a click, and so does
    // moving to it with the arrow keys.
    connect(lvwMenu, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { selectItem(lvwMenu->row(item) + 1); });
    connect(lvwMenu, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row != pannelloCorrente_ && picPanel_[row])
            selectItem(row + 1);
    });

    picTitle = new QWidget(central);
    picTitle->setObjectName(QStringLiteral("picTitle"));
    picTitle->setAttribute(Qt::WA_StyledBackground);
    picTitle->setStyleSheet(
        QStringLiteral("QWidget#picTitle { background: qlineargradient(x1:0, y1:0, x2:1, y2:0, "
                       "stop:0 #1f3a5f, stop:1 #2f6f9f); border-radius: 3px; }"));
    placeInCentral(picTitle, shell::kTitle);
    lblTitle = new QLabel(QStringLiteral("Categoria"), picTitle);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    QFont titleFont = lblTitle->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.1);
    lblTitle->setFont(titleFont);
    lblTitle->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    lblTitle->setGeometry(px(540), 0, px(6000), px(shell::kTitle.height));

    picSelected = new QWidget(central);
    picSelected->setObjectName(QStringLiteral("picSelected"));
    placeInCentral(picSelected, shell::kSelected);
    cmdSelected = new QToolButton(picSelected);
    cmdSelected->setObjectName(QStringLiteral("cmdSelected"));
    cmdSelected->setAutoRaise(true);
    cmdSelected->setFocusPolicy(Qt::NoFocus);
    cmdSelected->setIconSize(QSize(20, 20));
    cmdSelected->setStyleSheet(
        QStringLiteral("QToolButton { border: none; background: transparent; }"));
    cmdSelected->setGeometry(0, 0, px(shell::kSelected.width), px(shell::kSelected.height));

    picMain = new QWidget(central);
    picMain->setObjectName(QStringLiteral("picMain"));
    picMain->setAttribute(Qt::WA_StyledBackground);
    picMain->setStyleSheet(
        QStringLiteral("QWidget#picMain { background: white; border: 1px solid #b8c4d2; }"));
    placeInCentral(picMain, shell::kMain);
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
    picBanner->setGeometry(px(shell::kBanner.left), px(shell::kBanner.top),
                           px(shell::kBanner.width), px(shell::kBanner.height));
    imgBanner = new QToolButton(picBanner);
    imgBanner->setObjectName(QStringLiteral("imgBanner"));
    imgBanner->setIcon(QIcon(art::banner()));
    imgBanner->setIconSize(QSize(396, 32));
    imgBanner->setAutoRaise(true);
    imgBanner->setFocusPolicy(Qt::NoFocus);
    imgBanner->setCursor(Qt::PointingHandCursor);
    imgBanner->setToolTip(shell::homePageAddress());
    imgBanner->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 0; }"));
    imgBanner->setGeometry(0, 0, px(shell::kBanner.width), px(shell::kBanner.height));
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
    // The total rates while the server runs (the online panel's last poll).
    ratesLabel_ = new QLabel(bar);
    ratesLabel_->setObjectName(QStringLiteral("kRates"));
    ratesLabel_->setContentsMargins(4, 0, 4, 0);
    // Wide enough for usual figures, so the bar does not jump every second.
    ratesLabel_->setMinimumWidth(
        ratesLabel_->fontMetrics().horizontalAdvance(u"Upload: 99,9 MB/s  Download: 99,9 MB/s"_s) +
        ratesLabel_->contentsMargins().left() + ratesLabel_->contentsMargins().right() + 2);
    bar->addPermanentWidget(ratesLabel_);
    usersPanel_ = new QWidget(bar);
    usersPanel_->setObjectName(QStringLiteral("kUsers"));
    usersPanel_->setToolTip(QStringLiteral("Clicca qui per il dettaglio degli utenti connessi"));
    // As wide as its text: the state and the rates keep their room.
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
    accountPanel_ = buildAccountPanel(picPanel_[0], *this);
    accountPanel_->setQuotaSources(quotaUsageSource(core_), quotaOverlapSource(core_));
    settingsPanel_ = buildSettingsPanel(picPanel_[1], *this);
    securityPanel_ = buildSecurityPanel(picPanel_[2], *this);
    logPanel_ = new LogPanel(picPanel_[3], core_, messages_, this);
    online_ = new OnlinePanel(picPanel_[4], core_, *this);
    connect(online_, &OnlinePanel::ratesChanged, this, &Form1::showRates);
    WebBrowser1 = new HelpBrowser(
        [this](const QUrl& url) {
            if (options_.desktopOpen)
                options_.desktopOpen(url.toString(), QString());
        },
        picPanel_[5]);
    WebBrowser1->setGeometry(0, 0, 400, 300);
}

} // namespace kv::ui
