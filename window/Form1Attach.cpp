// The window over a server that another program already runs on its data
// folder: attaching instead of starting a second one, what the toolbar and
// status bar show then, edits passed on with a reload, and the server going
// away. Also the window's own server's administration channel.
#include "window/Form1.h"

#include "admin/ui/LoginProtectionGroup.h"
#include "admin/ui/SecurityPanel.h"
#include "core/AdminChannel.h"
#include "core/AdminPlace.h"
#include "core/AttachedServer.h"
#include "core/ProgramCore.h"
#include "window/LogPanel.h"
#include "window/OnlinePanel.h"
#include "window/TrayIcon.h"

#include <QAction>
#include <QDateTime>
#include <QFileInfo>
#include <QSqlQuery>

namespace kv::ui {

namespace {

const QString kStopToolTip = QStringLiteral("Arresta il server (Alt+T)");

// How many rows the window's own connection to accounts.dat has written.
qint64 writtenChanges(const QSqlDatabase& db) {
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT total_changes()")) || !query.next())
        return 0;
    return query.value(0).toLongLong();
}

} // namespace

bool Form1::isAttached() const {
    return attached_->isAttached();
}

void Form1::noteInLog(const QString& text) {
    logPanel_->ShowLogLine(
        QDateTime::currentDateTime().toString(QStringLiteral("dd-MM-yyyy HH:mm:ss ")) + text);
}

void Form1::startOrAttach(bool startIfNone) {
    if (isAttached() || core_.server().ServerState() > 0)
        return;
    const QString socket = adminSocketToConnect(core_.dataFolder());
    if (!QFileInfo::exists(socket)) {
        if (startIfNone)
            core_.server().ServerStart();
        return;
    }
    startWhenNoServer_ = startIfNone;
    kStart_->setEnabled(false); // until the socket answered
    attached_->attach(socket);
}

void Form1::onAttached() {
    const QJsonObject& status = attached_->status();
    const QString description = attachedServerDescription(status);
    const bool service =
        description == attachedServerDescription({{QStringLiteral("user"), kServiceUser}});
    online_->setSource(attached_);
    kStart_->setEnabled(false);
    kStop_->setEnabled(false);
    kStop_->setToolTip(service ? QStringLiteral("Il server è del servizio di sistema: si "
                                                "arresta con systemctl stop kestrova")
                               : QStringLiteral("Il server appartiene a un altro programma: si "
                                                "arresta da lì"));
    setStatus(true, QStringLiteral("Online: %1 %2")
                        .arg(status.value(QStringLiteral("address")).toString(), description));
    // The panels stay open: what they write reaches the server with a reload.
    for (int i = 0; i < 2; ++i)
        picPanel_[i]->setEnabled(true);
    securityPanel_->setServerRunning(false);
    securityPanel_->protection()->setServer(attached_);
    writtenChanges_ = writtenChanges(core_.database().connection());
    noteInLog(QStringLiteral("Collegato al server già in funzione su %1 %2, porta %3")
                  .arg(core_.dataFolder(), description)
                  .arg(status.value(QStringLiteral("port")).toInt()));
    refreshTrayMenu();
    tray_->modify(1);
    ShowUsersNumber();
}

void Form1::onAttachFailed(bool denied, const QString& reason) {
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
    kStop_->setToolTip(kStopToolTip);
    showStopped();
    setStatus(false, QStringLiteral("Offline: il server collegato si è fermato"));
    noteInLog(
        QStringLiteral("Il server collegato si è fermato o ha chiuso il canale (%1)").arg(reason));
    ShowUsersNumber();
}

void Form1::onReloadAnswered(bool applied, const QString& reason) {
    if (applied) {
        noteInLog(QStringLiteral("Modifiche applicate dal server collegato"));
        return;
    }
    const QString text =
        QStringLiteral("Modifiche salvate, ma il server collegato non le ha applicate: %1")
            .arg(reason);
    noteInLog(text);
    messages_.show(text, MessageIcon::Exclamation);
}

void Form1::reloadAfterEdits() {
    if (!isAttached())
        return;
    const qint64 now = writtenChanges(core_.database().connection());
    if (now == writtenChanges_)
        return;
    writtenChanges_ = now;
    attached_->reload();
}

void Form1::openOwnChannel() {
    if (channel_)
        return;
    channel_ = std::make_unique<AdminChannel>(core_);
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

} // namespace kv::ui
