// What the main window shows of the server: toolbar buttons, the status bar
// (state, total rates and connected users), and the start notice and failure
// message. The administration panels stay usable while the server runs: what
// they change reaches it through a reload (Form1Edits.cpp).
#include "window/Form1.h"

#include "adminchannel/AdminChannel.h"
#include "core/ProgramCore.h"
#include "core/ReloadWatch.h"
#include "monitor/OnlineList.h"
#include "panels/ui/AccountPanel.h"
#include "window/Artwork.h"
#include "window/LogPanel.h"
#include "window/OnlinePanel.h"
#include "window/StartNotice.h"
#include "window/TrayIcon.h"

#include <QAction>
#include <QLabel>

namespace kv::ui {

void Form1::setStatus(bool online, const QString& text) {
    statusPicture_->setPixmap(art::statusPicture(online));
    statusLabel_->setText(text);
    // The rates' room goes to the state while there are none to show.
    ratesLabel_->setVisible(online);
}

QString Form1::statusText() const {
    return statusLabel_->text();
}

QString Form1::statusToolTip() const {
    return statusLabel_->toolTip();
}

QString Form1::usersText() const {
    return usersLabel_->text();
}

QString Form1::ratesText() const {
    return ratesLabel_->text();
}

void Form1::onTimer1() {
    online_->refreshLive();
    reloadAfterEdits();
    lookForService();
    if (!options_.stateFile.isEmpty())
        writeStateFile();
}

void Form1::showRates(const QString& text) {
    ratesLabel_->setText(core_.server().ServerState() > 0 || isAttached() ? text : QString());
}

void Form1::showRunning(const QString& localAddress) {
    kStart_->setEnabled(false);
    kStop_->setEnabled(true);
    setStatus(true, QStringLiteral("Online: ") + localAddress);
    statusLabel_->setToolTip(QString());
    reloadWatch_->rebase(); // what the server starts with
    logPanel_->closeViewer();
    refreshTrayMenu();
    tray_->modify(1);
    openOwnChannel();
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
    channel_.reset();
    kStop_->setEnabled(false);
    kStart_->setEnabled(true);
    setStatus(false, QStringLiteral("Offline"));
    refreshTrayMenu();
    tray_->modify(0);
    online_->clear();
    ratesLabel_->clear();
    setAccountGroupsEnabled();
}

void Form1::setAccountGroupsEnabled() {
    accountPanel_->enableAccountGroups();
}

void Form1::ShowUsersNumber() {
    const qsizetype count = online_->source()->sessionCount();
    // Asked on every session's event: the bar changes only with the count.
    if (count == usersShown_)
        return;
    usersShown_ = count;
    usersLabel_->setText(monitor::usersNumberText(count));
    usersPicture_->setPixmap(art::usersPicture(count > 0));
    // The whole count shows; the state beside it gives way first.
    usersPanel_->setMinimumWidth(usersPanel_->sizeHint().width() + 4);
}

void Form1::AggiornaUtenti() {
    online_->rebuildSoon();
}

} // namespace kv::ui
