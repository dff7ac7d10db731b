#pragma once
// Turns SIGTERM and SIGINT into a Qt signal on the event loop (self-pipe), so
// the program can stop the server and log the stop before it exits.

#include <QObject>

class QSocketNotifier;

namespace kv {

class SignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

Q_SIGNALS:
    void terminationRequested(int signalNumber);

private:
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace kv
