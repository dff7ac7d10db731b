#pragma once

#include <QAbstractEventDispatcher>

#include <array>
#include <atomic>
#include <cstdint>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include <sys/epoll.h>

class QSocketNotifier;

namespace kv::net {

// An event dispatcher for one thread built on epoll, for a server with many
// connections that sit idle: a wake-up costs in proportion to what is ready,
// not to every descriptor watched (as poll() over all of them does), and a
// timer is started, stopped or found due in logarithmic time.
//
// Install it before the application object:
//   QCoreApplication::setEventDispatcher(new EpollDispatcher);
// It has no window-system integration of its own: a program with a window
// hands it the platform's dispatcher as a companion (setCompanion).
class EpollDispatcher final : public QAbstractEventDispatcher {
public:
    explicit EpollDispatcher(QObject* parent = nullptr);
    ~EpollDispatcher() override;

    // False when the kernel refused epoll or eventfd; the dispatcher then
    // cannot wait and must not be installed.
    bool isValid() const { return epoll_ >= 0 && wake_ >= 0; }

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;

    // A dispatcher asked, without waiting, before this one waits, after any
    // wake-up and while it finds work: the platform plugin's, which turns the
    // window system's events into Qt's. Such events reach this one through
    // wakeUp(), which the platform's threads call on the thread's dispatcher.
    // Null: none.
    void setCompanion(QAbstractEventDispatcher* companion) {
        companion_.store(companion, std::memory_order_release);
    }

    void registerSocketNotifier(QSocketNotifier* notifier) override;
    void unregisterSocketNotifier(QSocketNotifier* notifier) override;

    void registerTimer(int timerId, qint64 interval, Qt::TimerType timerType,
                       QObject* object) override;
    bool unregisterTimer(int timerId) override;
    bool unregisterTimers(QObject* object) override;
    QList<TimerInfo> registeredTimers(QObject* object) const override;
    int remainingTime(int timerId) override;

    void wakeUp() override; // any thread
    void interrupt() override;

private:
    using Clock = std::int64_t; // monotonic milliseconds

    struct Watched {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
        QSocketNotifier* exception = nullptr;
        std::uint32_t events = 0; // what epoll currently watches for
        bool alwaysReady = false; // a regular file, which epoll cannot watch
    };
    struct Timer {
        qint64 interval = 0;
        Qt::TimerType type = Qt::CoarseTimer;
        QObject* object = nullptr;
        Clock due = 0;
        std::uint64_t generation = 0; // tells a reused id from the old timer
        bool firing = false;          // its timerEvent is on the stack
    };

    static Clock now();
    Clock firstDue(Clock from, qint64 interval, Qt::TimerType type) const;
    void updateWatch(int fd, Watched& watched);
    int waitMilliseconds() const;
    int activateSockets(int ready);
    int activateTimers();
    void writeWakeUp();
    void drainWakeUps();
    void forgetPending(QSocketNotifier* notifier);
    void dropTimer(std::unordered_map<int, Timer>::iterator it);

    int epoll_ = -1;
    int wake_ = -1; // eventfd written by wakeUp()
    std::atomic<bool> wakePending_{false};
    // False only while what epoll_wait returned is being handled.
    std::atomic<bool> mayWait_{true};
    std::atomic<bool> interrupted_{false};

    std::atomic<QAbstractEventDispatcher*> companion_{nullptr};
    std::atomic<bool> companionWanted_{true}; // a wake-up came since its last pass
    std::vector<Watched> watched_;            // by descriptor
    int alwaysReady_ = 0;
    std::array<epoll_event, 256> events_{}; // more ready at once wait for the next pass
    // Lists of notifiers found ready and being activated (more than one when
    // a handler runs a nested loop); one unregistered meanwhile is cleared
    // from them so it is never activated after that.
    std::vector<std::vector<QSocketNotifier*>*> activating_;

    std::unordered_map<int, Timer> timers_;
    std::set<std::pair<Clock, int>> byDue_;
    std::unordered_map<QObject*, std::vector<int>> byObject_;
    std::uint64_t generations_ = 0;
};

} // namespace kv::net
