#pragma once
// Runs the programs of the `run` rules: without a shell, as the server's own
// user, in the file's folder, with the event in its environment and its
// standard input at end of file. At most `maxRunning` run at once and the
// rest wait in order; one that runs past `timeoutMs` is killed with every
// process it started. Its output (the first 4 KiB) and how it ended go to the
// log. Nothing here waits: the event loop and the FTP sessions go on.

#include "actions/ActionEvent.h"

#include <QObject>
#include <QString>
#include <deque>
#include <functional>
#include <memory>

class QProcess;
class QTimer;

namespace kv::actions {

struct RunLimits {
    int maxRunning = 4;
    int timeoutMs = 60000;
};

// How a program ended, for the log and for whoever watches.
enum class RunOutcome { Done, Failed, NotStarted, TimedOut };

class ProgramRunner : public QObject {
    Q_OBJECT
public:
    using Log = std::function<void(const QString& line)>;
    static constexpr int kOutputKept = 4096;

    // `fallbackFolder`: where a program runs for an event without a file.
    ProgramRunner(Log log, QString fallbackFolder, QObject* parent = nullptr);
    // Kills whatever still runs; the waiting programs never start.
    ~ProgramRunner() override;

    void setLimits(const RunLimits& limits);
    void submit(const QString& commandLine, const ActionEvent& event);

    int running() const { return int(running_.size()); }
    int waiting() const { return int(queue_.size()); }

Q_SIGNALS:
    // `detail`: the exit code, or the reason it did not start or was stopped.
    void programEnded(const QString& commandLine, kv::actions::RunOutcome outcome,
                      const QString& detail);

private:
    struct Job {
        QString commandLine;
        ActionEvent event;
    };
    struct Running;
    void startNext();
    void start(const Job& job);
    void finish(Running* run, RunOutcome outcome, const QString& detail);

    Log log_;
    QString fallbackFolder_;
    RunLimits limits_;
    std::deque<Job> queue_;
    std::vector<std::unique_ptr<Running>> running_;
};

} // namespace kv::actions
