// Edits made in the panels while a server runs: saved as the focus leaves
// them (logins read only saved rows), and followed by a reload when they
// changed what the server reads only at start (settings, options, address
// lists), whether the server is the window's own or one it attached to.
#include "window/Form1.h"

#include "access/AccountDatabase.h"
#include "adminchannel/AttachedServer.h"
#include "core/ProgramCore.h"
#include "core/ReloadWatch.h"
#include "window/LogPanel.h"

#include <QLabel>
#include <QTimer>

namespace kv::ui {

namespace {

const QString kReloadFailed = QStringLiteral("SERVER RELOAD FAILED: ");

// Keeps the reasons a reload gives for failing, while it lives.
class ReloadReasons : public QObject {
public:
    ReloadReasons(ProgramCore& core, QStringList* reasons) : reasons_(reasons) {
        connect(&core.notifications(), &events::ServerEvents::logLine, this,
                [this](const events::LogLine& line) {
                    if (const qsizetype at = line.line.indexOf(kReloadFailed); at >= 0 && reasons_)
                        reasons_->append(line.line.mid(at + kReloadFailed.size()));
                });
    }

private:
    QStringList* reasons_;
};

} // namespace

void Form1::commitPanelEdits(QWidget* left, QWidget* entered) {
    if (committingEdits_ || !left || left == entered || unloaded_)
        return;
    bool fromPanel = false;
    for (int i = 0; i < 3; ++i)
        fromPanel = fromPanel || (picPanel_[i] && picPanel_[i]->isAncestorOf(left));
    if (!fromPanel)
        return;
    // A refused save shows a message, which takes the focus again.
    committingEdits_ = true;
    core_.views().commitAll();
    committingEdits_ = false;
    reloadAfterEdits();
}

void Form1::wroteAccountsFile() {
    // After the control that wrote is done: a reread may show a message.
    QTimer::singleShot(0, this, &Form1::reloadAfterEdits);
}

void Form1::reloadAfterEdits() {
    if (isRemote()) {
        sendRemoteEdits(); // the server judges, writes and rereads them itself
        return;
    }
    if (!isAttached() && core_.server().ServerState() <= 0)
        return;
    if (!reloadWatch_->reloadNeeded())
        return;
    if (isAttached()) {
        attached_->reload(); // onReloadAnswered() follows
        return;
    }
    QStringList reasons;
    if (reloadOwnServer(&reasons)) {
        noteInLog(QStringLiteral("Modifiche applicate dal server"));
        return;
    }
    const QString text = QStringLiteral("Modifiche salvate, ma il server non le ha applicate: %1")
                             .arg(reasons.isEmpty() ? QStringLiteral("impostazioni non applicate")
                                                    : reasons.join(QStringLiteral("; ")));
    noteInLog(text);
    messages_.show(text, MessageIcon::Exclamation);
}

bool Form1::reloadOwnServer(QStringList* reasons) {
    if (core_.server().ServerState() <= 0)
        return false;
    bool applied = false;
    {
        ReloadReasons catcher(core_, reasons);
        applied = core_.server().ServerReload();
    }
    if (applied)
        setStatus(true, QStringLiteral("Online: ") + core_.engine().LocalAddress());
    reloadWatch_->rebase();
    return applied;
}

bool Form1::rereadAsAsked() {
    if (core_.server().ServerState() <= 0)
        return false;
    // The panels' pending edits first, then what other programs saved.
    core_.views().commitAll();
    core_.views().Data2().Refresh();
    return reloadOwnServer();
}

void Form1::reloadOnSignal() {
    (void)rereadAsAsked();
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

} // namespace kv::ui
