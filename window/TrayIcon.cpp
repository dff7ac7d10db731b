#include "window/TrayIcon.h"

#include "core/Messages.h"
#include "window/Artwork.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>

namespace kv::ui {

QString trayTip(qint16 serverState) {
    return kProgramTitle + QStringLiteral(" - ") +
           (serverState ? QStringLiteral("Online") : QStringLiteral("Offline"));
}

TrayIcon::TrayIcon(bool trayAvailable, QObject* parent)
    : QObject(parent), available_(trayAvailable), tip_(trayTip(0)), offline_(art::trayIcon(false)),
      onlineIcon_(art::trayIcon(true)) {
    SysTray = new QMenu;
    SysTray->setObjectName(QStringLiteral("SysTray"));
    mnuStart_ = SysTray->addAction(art::startIcon(), QStringLiteral("Start"));
    mnuStart_->setObjectName(QStringLiteral("mnuStart"));
    mnuStop_ = SysTray->addAction(art::stopIcon(), QStringLiteral("Stop"));
    mnuStop_->setObjectName(QStringLiteral("mnuStop"));
    mnuStop_->setEnabled(false);
    SysTray->addSeparator()->setObjectName(QStringLiteral("sep1"));
    mnuRipristina_ = SysTray->addAction(QStringLiteral("Ripristina"));
    mnuRipristina_->setObjectName(QStringLiteral("mnuRipristina"));
    mnuEsci_ = SysTray->addAction(QStringLiteral("Esci"));
    mnuEsci_->setObjectName(QStringLiteral("mnuEsci"));
    connect(mnuStart_, &QAction::triggered, this, &TrayIcon::startChosen);
    connect(mnuStop_, &QAction::triggered, this, &TrayIcon::stopChosen);
    connect(mnuRipristina_, &QAction::triggered, this, &TrayIcon::restoreChosen);
    connect(mnuEsci_, &QAction::triggered, this, &TrayIcon::exitChosen);

    if (available_) {
        icon_ = new QSystemTrayIcon(offline_, this);
        icon_->setContextMenu(SysTray);
        connect(icon_, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::DoubleClick)
                        Q_EMIT restoreChosen();
                });
    }
}

TrayIcon::~TrayIcon() {
    delete SysTray;
}

bool TrayIcon::add(qint16 serverState) {
    modify(serverState);
    if (!available_ || !icon_)
        return false;
    icon_->show();
    shown_ = true;
    return true;
}

void TrayIcon::modify(qint16 serverState) {
    online_ = serverState != 0;
    tip_ = trayTip(serverState);
    if (icon_) {
        icon_->setIcon(online_ ? onlineIcon_ : offline_);
        icon_->setToolTip(tip_);
    }
}

void TrayIcon::remove() {
    if (icon_)
        icon_->hide();
    shown_ = false;
}

} // namespace kv::ui
