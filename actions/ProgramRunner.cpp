#include "actions/ProgramRunner.h"

#include "actions/ActionRule.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <csignal>
#include <unistd.h>

namespace kv::actions {

struct ProgramRunner::Running {
    Job job;
    QProcess* process = nullptr;
    QTimer* timer = nullptr;
    QByteArray output;
    bool cut = false;
    bool ended = false;
};

namespace {

QString quoted(const QString& commandLine) {
    return QStringLiteral("\"%1\"").arg(commandLine);
}

// Kills the program's process group: a script's own children go with it.
void killGroup(QProcess* process) {
    const qint64 pid = process->processId();
    if (pid > 0)
        ::kill(-pid_t(pid), SIGKILL);
    process->kill();
}

} // namespace

ProgramRunner::ProgramRunner(Log log, QString fallbackFolder, QObject* parent)
    : QObject(parent), log_(std::move(log)), fallbackFolder_(std::move(fallbackFolder)) {}

ProgramRunner::~ProgramRunner() {
    queue_.clear();
    for (const auto& run : running_) {
        run->ended = true;
        run->process->disconnect(this);
        killGroup(run->process);
        run->process->waitForFinished(1000);
    }
}

void ProgramRunner::setLimits(const RunLimits& limits) {
    limits_ = limits;
    startNext();
}

void ProgramRunner::submit(const QString& commandLine, const ActionEvent& event) {
    queue_.push_back({commandLine, event});
    startNext();
}

void ProgramRunner::startNext() {
    while (!queue_.empty() && running() < qMax(1, limits_.maxRunning)) {
        const Job job = queue_.front();
        queue_.pop_front();
        start(job);
    }
}

void ProgramRunner::start(const Job& job) {
    auto owned = std::make_unique<Running>();
    Running* run = owned.get();
    run->job = job;
    run->process = new QProcess(this);
    run->timer = new QTimer(this);
    running_.push_back(std::move(owned));

    QStringList words = commandWords(job.commandLine);
    const QString program = words.isEmpty() ? QString() : words.takeFirst();
    const QString folder = QFileInfo(job.event.diskPath).absolutePath();
    const bool hasFolder = !job.event.diskPath.isEmpty() && QFileInfo(folder).isDir();
    QProcess* process = run->process;
    process->setWorkingDirectory(hasFolder ? folder : fallbackFolder_);
    process->setProcessEnvironment(
        actionEnvironment(job.event, QProcessEnvironment::systemEnvironment()));
    process->setStandardInputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::MergedChannels);
    // A group of its own, so that the time limit ends whatever it started.
    process->setChildProcessModifier([] { ::setpgid(0, 0); });

    connect(process, &QProcess::readyRead, this, [run] {
        const QByteArray more = run->process->readAll();
        const qsizetype room = kOutputKept - run->output.size();
        run->output += more.left(qMax<qsizetype>(0, room));
        run->cut = run->cut || more.size() > room;
    });
    connect(process, &QProcess::errorOccurred, this, [this, run](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finish(run, RunOutcome::NotStarted, run->process->errorString());
    });
    connect(process, &QProcess::finished, this, [this, run](int code, QProcess::ExitStatus status) {
        if (status == QProcess::CrashExit)
            finish(run, RunOutcome::Failed, QStringLiteral("terminato da un segnale"));
        else
            finish(run, code == 0 ? RunOutcome::Done : RunOutcome::Failed, QString::number(code));
    });
    run->timer->setSingleShot(true);
    connect(run->timer, &QTimer::timeout, this, [this, run] {
        killGroup(run->process);
        finish(run, RunOutcome::TimedOut,
               QStringLiteral("superato il tempo massimo di %1 secondi")
                   .arg(limits_.timeoutMs / 1000.0));
    });
    run->timer->start(qMax(1, limits_.timeoutMs));
    process->start(program, words);
}

void ProgramRunner::finish(Running* run, RunOutcome outcome, const QString& detail) {
    if (run->ended)
        return;
    run->ended = true;
    run->timer->stop();
    run->output +=
        run->process->readAll().left(qMax<qsizetype>(0, kOutputKept - run->output.size()));
    const QString name = quoted(run->job.commandLine);
    const QString about = QStringLiteral("AZIONE %1 %2: ").arg(run->job.event.name, name);
    switch (outcome) {
    case RunOutcome::Done:
        log_(about + QStringLiteral("terminato (codice 0)"));
        break;
    case RunOutcome::Failed:
        log_(about + QStringLiteral("terminato con errore (codice %1)").arg(detail));
        break;
    case RunOutcome::NotStarted:
        log_(about + QStringLiteral("impossibile avviare il programma (%1)").arg(detail));
        break;
    case RunOutcome::TimedOut:
        log_(about + QStringLiteral("fermato: %1").arg(detail));
        break;
    }
    const QString output = QString::fromUtf8(run->output);
    for (const QString& line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (!line.trimmed().isEmpty())
            log_(QStringLiteral("AZIONE %1 output: %2").arg(name, line.trimmed()));
    }
    if (run->cut)
        log_(QStringLiteral("AZIONE %1 output: (troncato ai primi 4 KiB)").arg(name));
    const Job job = run->job;
    // The process object may still be inside its own signal: delete it later.
    run->process->disconnect(this);
    if (run->process->state() != QProcess::NotRunning) {
        connect(run->process, &QProcess::finished, run->process, &QObject::deleteLater);
    } else {
        run->process->deleteLater();
    }
    run->timer->deleteLater();
    std::erase_if(running_, [run](const auto& r) { return r.get() == run; });
    Q_EMIT programEnded(job.commandLine, outcome, detail);
    startNext();
}

} // namespace kv::actions
