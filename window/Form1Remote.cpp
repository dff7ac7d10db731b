// The window on a remote server: the link that keeps it connected (trust
// questions, password, back-off), the private copy of the server's data the
// panels edit and whose changes go to the server, the server's folders for
// the folder choosers, and what the title, status bar and Start/Stop say.
#include "window/Form1.h"

#include "adminchannel/AttachedServer.h"
#include "adminchannel/KnownServers.h"
#include "adminchannel/RemoteSync.h"
#include "core/ProgramCore.h"
#include "panels/ui/LoginProtectionGroup.h"
#include "panels/ui/SecurityPanel.h"
#include "window/BrowseDialog.h"
#include "window/ConnectDialog.h"
#include "window/LogPanel.h"
#include "window/OnlinePanel.h"
#include "window/TrayIcon.h"
#include "window/TrustDialog.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace kv::ui {

namespace {

const QString kRemoteStartStop =
    QStringLiteral("Il server remoto si avvia e si arresta sul suo PC");
const QString kRemoteLogFile =
    QStringLiteral("Il file di registro è sul PC del server (\"kestrova log --follow\" ne "
                   "mostra le nuove righe anche da qui)");

} // namespace

void Form1::setUpRemote(const RemoteWindowSetup& setup) {
    knownServers_ = std::make_unique<KnownServers>(
        setup.knownServersFile.isEmpty() ? KnownServers::defaultPath() : setup.knownServersFile);
    RemoteLink::Questions questions = setup.questions;
    if (!questions.trustFirst)
        questions.trustFirst = [this](const RemoteServerAddress& server, const QString& seen) {
            return askTrustFirst(this, server, seen);
        };
    if (!questions.trustChanged)
        questions.trustChanged = [this](const RemoteServerAddress& server, const QString& known,
                                        const QString& seen) {
            return askTrustChanged(this, server, known, seen);
        };
    if (!questions.password)
        questions.password = [this, server = setup.server](const QString& reason) {
            return askPasswordAgain(this, server, reason);
        };
    remoteLink_ =
        new RemoteLink(*attached_, *knownServers_, setup.server, setup.password, questions, this);
    remoteSync_ = new RemoteSync(attached_->connection(), core_.database().connection(), this);
    connect(remoteLink_, &RemoteLink::lost, this, &Form1::onRemoteLost);
    connect(remoteLink_, &RemoteLink::stopped, this, &Form1::onRemoteStopped);
    connect(remoteLink_, &RemoteLink::trusted, this, [this](const QString& fingerprint) {
        noteInLog(QStringLiteral("Certificato del server remoto %1 considerato affidabile: %2")
                      .arg(remoteLink_->address().text(), fingerprint));
    });
    connect(&attached_->connection(), &AdminConnection::eventReceived, this, &Form1::onRemoteEvent);
    connect(remoteSync_, &RemoteSync::reloaded, this, &Form1::onRemoteReloaded);
    connect(remoteSync_, &RemoteSync::applied, this, [this](const QString& reloadError) {
        if (reloadError.isEmpty()) {
            noteInLog(QStringLiteral("Modifiche applicate dal server remoto"));
            return;
        }
        const QString text =
            QStringLiteral("Modifiche salvate sul server remoto, ma non applicate: %1")
                .arg(reloadError);
        noteInLog(text);
        showLater(text);
    });
    connect(remoteSync_, &RemoteSync::refused, this, [this](const QString& reason) {
        noteInLog(QStringLiteral("Modifica rifiutata dal server remoto: %1").arg(reason));
        showLater(reason);
    });
    connect(remoteSync_, &RemoteSync::fetchFailed, this, [this](const QString& reason) {
        noteInLog(QStringLiteral("Impossibile leggere i dati del server remoto: %1").arg(reason));
    });

    setWindowTitle(kProgramTitle + QStringLiteral(" — server remoto ") + setup.server.text());
    showRemoteStartStop();
    // ftp.log and its older files are on the server's PC; this window shows its new lines.
    for (QPushButton* button : {logPanel_->showButton(), logPanel_->clearButton()}) {
        button->setEnabled(false);
        button->setToolTip(kRemoteLogFile);
    }
    setStatus(false, QStringLiteral("Connessione a %1...").arg(setup.server.text()));
    // Until the copy holds the server's data there is nothing to edit.
    for (int i = 0; i < 3; ++i)
        picPanel_[i]->setEnabled(false);
}

void Form1::showRemoteStartStop() {
    for (QAction* button : {kStart_, kStop_}) {
        button->setEnabled(false);
        button->setToolTip(kRemoteStartStop);
    }
    refreshTrayMenu();
}

void Form1::onRemoteLinked() {
    const QJsonObject& status = attached_->status();
    const QString server = remoteLink_->address().text();
    online_->setSource(attached_);
    securityPanel_->protection()->setServer(attached_);
    showRemoteStartStop();
    setStatus(true, QStringLiteral("Online: server remoto %1").arg(server));
    statusLabel_->setToolTip(QStringLiteral("Server remoto %1: FTP su %2, porta %3")
                                 .arg(server, status.value(QStringLiteral("address")).toString())
                                 .arg(status.value(QStringLiteral("port")).toInt()));
    noteInLog(QStringLiteral("Collegato al server remoto %1").arg(server));
    // The settings panel's remote administration group shows this server's
    // fingerprint, not that of a certificate in the private copy's folder.
    if (auto* label = picPanel_[1]->findChild<QLabel*>(QStringLiteral("lblAdminFingerprint")))
        label->setText(QStringLiteral("Impronta del certificato: %1")
                           .arg(attached_->connection().seenFingerprint()));
    remoteSync_->reset();
    remoteSync_->fetch();
    tray_->modify(1);
    ShowUsersNumber();
}

void Form1::onRemoteLost(const QString& reason, int retryInMs) {
    remoteSync_->reset();
    for (int i = 0; i < 3; ++i)
        picPanel_[i]->setEnabled(false);
    const QString server = remoteLink_->address().text();
    const int seconds = (retryInMs + 999) / 1000;
    setStatus(false, QStringLiteral("Offline: nessuna connessione con il server remoto %1, nuovo "
                                    "tentativo tra %2 s")
                         .arg(server)
                         .arg(seconds));
    statusLabel_->setToolTip(reason);
    noteInLog(QStringLiteral("Nessuna connessione con il server remoto %1 (%2): nuovo tentativo "
                             "tra %3 s")
                  .arg(server, reason)
                  .arg(seconds));
    tray_->modify(0);
    ShowUsersNumber();
}

void Form1::onRemoteStopped(const QString& reason) {
    remoteSync_->reset();
    for (int i = 0; i < 3; ++i)
        picPanel_[i]->setEnabled(false);
    const QString server = remoteLink_->address().text();
    setStatus(false, QStringLiteral("Offline: non collegato al server remoto %1").arg(server));
    statusLabel_->setToolTip(reason);
    noteInLog(QStringLiteral("Non collegato al server remoto %1: %2. La finestra non si ricollega "
                             "da sola")
                  .arg(server, reason));
    tray_->modify(0);
}

void Form1::onRemoteEvent(const QJsonObject& event) {
    if (event.value(QStringLiteral("event")).toString() == QLatin1String("dataChanged"))
        remoteSync_->onDataChanged();
}

void Form1::onRemoteReloaded(bool rowsChanged) {
    // Every view reads the copy again; the panels follow their views.
    if (rowsChanged)
        core_.views().openAll();
    for (int i = 0; i < 3; ++i)
        picPanel_[i]->setEnabled(true);
}

void Form1::sendRemoteEdits() {
    remoteSync_->sendChanges();
}

bool Form1::confirmRemoteClose() {
    core_.views().commitAll();
    if (!remoteSync_->hasUnsentChanges())
        return true;
    sendRemoteEdits();
    return messages_.confirm(
        QStringLiteral("Alcune modifiche non sono ancora state accettate dal server remoto %1: "
                       "chiudendo ora andrebbero perse. Chiudere comunque?")
            .arg(remoteLink_->address().text()));
}

void Form1::showLater(const QString& text) {
    QTimer::singleShot(0, this, [this, text] { messages_.show(text, MessageIcon::Exclamation); });
}

QString Form1::browseRemote(QWidget* owner, const QString& prompt, const QString& start,
                            BrowseDialog::Pick pick) {
    if (!attached_->connection().isConnected()) {
        messages_.show(QStringLiteral("Nessuna connessione con il server remoto: le sue cartelle "
                                      "non si possono sfogliare"),
                       MessageIcon::Exclamation);
        return {};
    }
    BrowseDialog dialog(attached_->connection(), prompt, start, owner, pick);
    return dialog.exec() == QDialog::Accepted ? dialog.chosen() : QString();
}

void Form1::mnuConnect_Click() {
    ConnectDialog dialog(recentServers(core_.settings()), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    rememberRecentServer(core_.settings(), dialog.server());
    if (const std::optional<QString> problem =
            startRemoteWindow(dialog.server(), dialog.password()))
        messages_.show(*problem, MessageIcon::Exclamation);
}

} // namespace kv::ui
