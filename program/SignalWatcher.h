#pragma once
// Turns SIGTERM and SIGINT (stop) and SIGHUP (reread the settings) into Qt
// signals on the event loop. The handler only writes the signal's number to
// a socket pair; everything else runs from the event loop.

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
    void reloadRequested();

private:
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace kv
