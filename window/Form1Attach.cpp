// The window over a server that another program already runs on its data
// folder: attaching instead of starting a second one, what the toolbar and
// status bar show then, and the server going away. On the system service's
// folder the window never starts a server of its own: it waits for the
// service to come back. Also the window's own server's administration channel.
#include "window/Form1.h"

#include "adminchannel/AdminChannel.h"
#include "adminchannel/AdminPlace.h"
#include "adminchannel/AttachedServer.h"
#include "core/ProgramCore.h"
#include "core/ReloadWatch.h"
#include "panels/ui/LoginProtectionGroup.h"
#include "panels/ui/SecurityPanel.h"
#include "window/LogPanel.h"
#include "window/OnlinePanel.h"
#include "window/TrayIcon.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLabel>

namespace kv::ui {

namespace {

const QString kStartToolTip = QStringLiteral("Avvia il server (Alt+S)");
const QString kStopToolTip = QStringLiteral("Arresta il server (Alt+T)");
const QString kStartService = QStringLiteral("sudo systemctl start kestrova");

// The same folder, however it was written (a link, a trailing slash).
bool sameFolder(const QString& a, const QString& b) {
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    const QString canonicalB = QFileInfo(b).canonicalFilePath();
    if (!canonicalA.isEmpty() && !canonicalB.isEmpty())
        return canonicalA == canonicalB;
    return QDir::cleanPath(QDir(a).absolutePath()) == QDir::cleanPath(QDir(b).absolutePath());
}

} // namespace

bool Form1::isAttached() const {
    return attached_->isAttached();
}

bool Form1::onServiceFolder() const {
    return attachedToService_ || sameFolder(core_.dataFolder(), options_.serviceFolder);
}

void Form1::noteInLog(const QString& text) {
    logPanel_->ShowLogLine(
        QDateTime::currentDateTime().toString(QStringLiteral("dd-MM-yyyy HH:mm:ss ")) + text);
}

void Form1::startOrAttach(bool startIfNone) {
    if (isRemote())
        return; // its link connects by itself
    if (isAttached() || attaching_ || core_.server().ServerState() > 0)
        return;
    const QString socket = adminSocketToConnect(core_.dataFolder());
    if (!QFileInfo::exists(socket)) {
        if (onServiceFolder())
            showServiceStopped(false);
        else if (startIfNone)
            core_.server().ServerStart();
        return;
    }
    startWhenNoServer_ = startIfNone && !onServiceFolder();
    attaching_ = true;
    kStart_->setEnabled(false); // until the socket answered
    attached_->attach(socket);
}

void Form1::onAttached() {
    if (isRemote()) {
        onRemoteLinked();
        return;
    }
    attaching_ = false;
    waitingForService_ = false;
    const QJsonObject& status = attached_->status();
    attachedToService_ = attachedToService_ || isServiceStatus(status, options_.serviceFolder);
    const QString description = attachedServerDescription(status, options_.serviceFolder);
    const bool service = isServiceStatus(status, options_.serviceFolder);
    online_->setSource(attached_);
    kStart_->setEnabled(false);
    kStart_->setToolTip(kStartToolTip);
    kStop_->setEnabled(false);
    kStop_->setToolTip(service ? QStringLiteral("Il server è del servizio di sistema: si "
                                                "arresta con sudo systemctl stop kestrova")
                               : QStringLiteral("Il server appartiene a un altro programma: si "
                                                "arresta da lì"));
    const QString address = status.value(QStringLiteral("address")).toString();
    setStatus(true,
              QStringLiteral("Online: %1 %2")
                  .arg(address, attachedServerShortDescription(status, options_.serviceFolder)));
    statusLabel_->setToolTip(
        QStringLiteral("Server in funzione su %1 %2").arg(address, description));
    securityPanel_->protection()->setServer(attached_);
    reloadWatch_->rebase();
    noteInLog(QStringLiteral("Collegato al server già in funzione su %1 %2, porta %3")
                  .arg(core_.dataFolder(), description)
                  .arg(status.value(QStringLiteral("port")).toInt()));
    refreshTrayMenu();
    tray_->modify(1);
    ShowUsersNumber();
}

void Form1::onAttachFailed(bool denied, const QString& reason) {
    if (isRemote())
        return; // the link decides what follows
    attaching_ = false;
    if (onServiceFolder()) {
        // Said once; looking again every second stays quiet.
        if (denied && !waitingForService_)
            messages_.show(QStringLiteral("Il servizio di sistema è in funzione su %1, ma non "
                                          "risponde a questa finestra: %2")
                               .arg(core_.dataFolder(), reason),
                           MessageIcon::Exclamation);
        showServiceStopped(false);
        return;
    }
    kStart_->setEnabled(core_.server().ServerState() <= 0);
    if (denied) {
        messages_.show(QStringLiteral("Un server è già in funzione su %1, ma non risponde a "
                                      "questa finestra: %2")
                           .arg(core_.dataFolder(), reason),
                       MessageIcon::Exclamation);
        return;
    }
    // A socket left behind by a server that ended: nobody serves the folder.
    if (startWhenNoServer_)
        core_.server().ServerStart();
}

void Form1::onAttachedGone(const QString& reason) {
    online_->setSource(online_->localSource());
    securityPanel_->protection()->setServer(nullptr);
    if (isRemote())
        return; // the link says so and tries again
    kStop_->setToolTip(kStopToolTip);
    statusLabel_->setToolTip(QString());
    showStopped();
    if (onServiceFolder()) {
        showServiceStopped(true);
    } else {
        setStatus(false, QStringLiteral("Offline: il server collegato si è fermato"));
        noteInLog(QStringLiteral("Il server collegato si è fermato o ha chiuso il canale (%1)")
                      .arg(reason));
    }
    ShowUsersNumber();
}

void Form1::showServiceStopped(bool wentAway) {
    kStart_->setEnabled(false);
    kStart_->setToolTip(QStringLiteral("La cartella è del servizio di sistema: questa finestra "
                                       "non vi avvia un server. Avviare il servizio con %1")
                            .arg(kStartService));
    setStatus(false, QStringLiteral("Offline: servizio fermo (%1)").arg(kStartService));
    refreshTrayMenu();
    if (wentAway)
        noteInLog(QStringLiteral("Il servizio di sistema si è fermato. Per avviarlo di nuovo: %1; "
                                 "questa finestra si ricollega da sola")
                      .arg(kStartService));
    else if (!waitingForService_)
        noteInLog(QStringLiteral("Il servizio di sistema non è in funzione su %1. Per avviarlo: "
                                 "%2; questa finestra si collega da sola")
                      .arg(core_.dataFolder(), kStartService));
    waitingForService_ = true;
}

void Form1::lookForService() {
    if (waitingForService_ && !unloaded_)
        startOrAttach(false);
}

void Form1::openOwnChannel() {
    if (channel_)
        return;
    // A reload asked through the channel (kestrova reload) also takes the
    // panels' pending edits and what other programs saved.
    channel_ = std::make_unique<AdminChannel>(core_, [this] { return rereadAsAsked(); });
    switch (channel_->open()) {
    case AdminChannel::OpenResult::Listening:
        return;
    case AdminChannel::OpenResult::FolderTaken:
        noteInLog(QStringLiteral("Un altro server è già in funzione su %1: questa finestra non "
                                 "ne apre il canale di amministrazione")
                      .arg(core_.dataFolder()));
        break;
    case AdminChannel::OpenResult::Failed:
        noteInLog(
            QStringLiteral("Canale di amministrazione non disponibile: %1").arg(channel_->error()));
        break;
    }
    channel_.reset();
}

void Form1::askAcme(bool renew, std::function<void(const QJsonObject&)> answer) {
    if (!isAttached()) {
        CorePanelHost::askAcme(renew, std::move(answer));
        return;
    }
    const QJsonObject request{{QStringLiteral("op"), QStringLiteral("acme")},
                              {QStringLiteral("renew"), renew}};
    attached_->connection().request(
        request, [this, answer = std::move(answer)](const std::optional<QJsonObject>& reply) {
            answer(reply ? *reply
                         : QJsonObject{{QStringLiteral("ok"), false},
                                       {QStringLiteral("error"), attached_->connection().error()}});
        });
}

} // namespace kv::ui
