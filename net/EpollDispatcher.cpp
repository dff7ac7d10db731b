#include "net/EpollDispatcher.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <QTimerEvent>

#include <algorithm>
#include <array>
#include <cerrno>
#include <ctime>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace kv::net {

namespace {

constexpr std::int64_t kNsPerMs = 1000000;
constexpr std::uint32_t kReadReady = EPOLLIN | EPOLLHUP | EPOLLERR | EPOLLRDHUP;
constexpr std::uint32_t kWriteReady = EPOLLOUT | EPOLLHUP | EPOLLERR;

} // namespace

EpollDispatcher::EpollDispatcher(QObject* parent)
    : QAbstractEventDispatcher(parent), epoll_(::epoll_create1(EPOLL_CLOEXEC)),
      wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (epoll_ >= 0 && wake_ >= 0) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = wake_;
        if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &ev) != 0) {
            ::close(wake_);
            wake_ = -1;
        }
    }
}

EpollDispatcher::~EpollDispatcher() {
    if (wake_ >= 0)
        ::close(wake_);
    if (epoll_ >= 0)
        ::close(epoll_);
}

EpollDispatcher::Clock EpollDispatcher::now() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return Clock(ts.tv_sec) * 1000 * kNsPerMs + ts.tv_nsec;
}

// ---- waiting ----------------------------------------------------------------

bool EpollDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags) {
    interrupted_.store(false, std::memory_order_relaxed);
    Q_EMIT awake();
    // From here until epoll_wait returns, an event posted needs the eventfd
    // to end the wait; one posted while what epoll_wait returned is handled
    // is sent by the next call before it waits, without a write and a read.
    mayWait_.store(true, std::memory_order_seq_cst);
    QCoreApplication::sendPostedEvents();
    // After mayWait_ is set: window-system events arriving from here on wake
    // the wait below. The companion is asked only after a wake-up (window-
    // system events always bring one) and while it finds work: a pass for a
    // socket alone does not pay for its own poll.
    QAbstractEventDispatcher* companion = companion_.load(std::memory_order_relaxed);
    const bool companionWorked = companion &&
                                 companionWanted_.exchange(false, std::memory_order_acq_rel) &&
                                 companion->processEvents(flags & ~QEventLoop::WaitForMoreEvents);
    if (companionWorked)
        companionWanted_.store(true, std::memory_order_release);

    const bool withTimers = !(flags & QEventLoop::X11ExcludeTimers);
    const bool withNotifiers = !(flags & QEventLoop::ExcludeSocketNotifiers);
    const bool canWait =
        (flags & QEventLoop::WaitForMoreEvents) && !interrupted_.load(std::memory_order_relaxed);
    if (canWait)
        Q_EMIT aboutToBlock();
    if (interrupted_.load(std::memory_order_relaxed))
        return false;

    int timeout = 0;
    if (canWait && !companionWorked) {
        timeout = withTimers ? waitMilliseconds() : -1;
        if (alwaysReady_ > 0 && withNotifiers)
            timeout = 0;
    }
    int ready = ::epoll_wait(epoll_, events_.data(), int(events_.size()), timeout);
    mayWait_.store(false, std::memory_order_seq_cst);
    if (ready < 0)
        ready = 0; // EINTR: a signal arrived; the caller simply asks again

    int handled = companionWorked ? 1 : 0;
    for (int i = 0; i < ready; ++i) {
        if (events_[std::size_t(i)].data.fd == wake_) {
            drainWakeUps();
            ++handled;
        }
    }
    if (withNotifiers)
        handled += activateSockets(ready);
    if (withTimers)
        handled += activateTimers();
    return handled > 0;
}

int EpollDispatcher::waitMilliseconds() const {
    if (byDue_.empty())
        return -1;
    const Clock left = byDue_.begin()->first - now();
    if (left <= 0)
        return 0;
    // Rounded up: a timer never fires before its time.
    return int(std::min<Clock>((left + kNsPerMs - 1) / kNsPerMs, 24LL * 3600 * 1000));
}

void EpollDispatcher::wakeUp() {
    // Some of the platform's sources run only after their dispatcher's own
    // wakeUp (xcb's event reader thread wakes the thread's dispatcher, this
    // one); in this thread nothing else needs it.
    if (QAbstractEventDispatcher* companion = companion_.load(std::memory_order_acquire)) {
        companionWanted_.store(true, std::memory_order_release);
        if (QThread::currentThread() != thread())
            companion->wakeUp();
    }
    if (!mayWait_.load(std::memory_order_seq_cst))
        return; // the loop sends posted events before it next waits
    writeWakeUp();
}

void EpollDispatcher::interrupt() {
    interrupted_.store(true, std::memory_order_relaxed);
    writeWakeUp(); // whatever the loop is doing, its next wait ends at once
}

void EpollDispatcher::writeWakeUp() {
    if (wakePending_.exchange(true, std::memory_order_acq_rel))
        return; // already written and not yet read
    const eventfd_t one = 1;
    [[maybe_unused]] const int rc = ::eventfd_write(wake_, one);
}

void EpollDispatcher::drainWakeUps() {
    // Read before the flag is cleared: the other way round, a wake-up
    // written in between would be read here while its flag stayed set, and
    // every later one would be skipped as "already written".
    eventfd_t value = 0;
    [[maybe_unused]] const int rc = ::eventfd_read(wake_, &value);
    wakePending_.store(false, std::memory_order_release);
}

// ---- socket notifiers ---------------------------------------------------------

void EpollDispatcher::registerSocketNotifier(QSocketNotifier* notifier) {
    const int fd = int(notifier->socket());
    if (fd < 0 || epoll_ < 0)
        return;
    if (std::size_t(fd) >= watched_.size())
        watched_.resize(std::max<std::size_t>(std::size_t(fd) + 1, watched_.size() * 2));
    Watched& w = watched_[std::size_t(fd)];
    QSocketNotifier*& slot = notifier->type() == QSocketNotifier::Read    ? w.read
                             : notifier->type() == QSocketNotifier::Write ? w.write
                                                                          : w.exception;
    // Another notifier in the slot means its descriptor was closed while
    // watched and the number reused; the kernel forgot the old one, so the
    // new one is added afresh rather than taken as already watched.
    if (slot && slot != notifier)
        w.events = 0;
    slot = notifier;
    updateWatch(fd, w);
}

void EpollDispatcher::unregisterSocketNotifier(QSocketNotifier* notifier) {
    forgetPending(notifier);
    const int fd = int(notifier->socket());
    if (fd < 0 || std::size_t(fd) >= watched_.size())
        return;
    Watched& w = watched_[std::size_t(fd)];
    if (w.read == notifier)
        w.read = nullptr;
    if (w.write == notifier)
        w.write = nullptr;
    if (w.exception == notifier)
        w.exception = nullptr;
    updateWatch(fd, w);
}

void EpollDispatcher::updateWatch(int fd, Watched& w) {
    const std::uint32_t wanted = (w.read ? std::uint32_t(EPOLLIN | EPOLLRDHUP) : 0u) |
                                 (w.write ? std::uint32_t(EPOLLOUT) : 0u) |
                                 (w.exception ? std::uint32_t(EPOLLPRI) : 0u);
    if (w.alwaysReady) {
        // A regular file: epoll refuses it, and like poll() it is always ready.
        if (wanted == 0) {
            w.alwaysReady = false;
            --alwaysReady_;
        }
        w.events = wanted;
        return;
    }
    if (wanted == w.events)
        return;
    epoll_event ev{};
    ev.events = wanted;
    ev.data.fd = fd;
    if (wanted == 0) {
        // The descriptor may be closed already; the kernel then dropped it itself.
        ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, &ev);
    } else if (w.events == 0) {
        // An earlier descriptor with this number may have been closed while
        // watched, and this is a new one: add it, or change what is there.
        if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev) != 0) {
            if (errno == EEXIST) {
                ::epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &ev);
            } else if (errno == EPERM) {
                w.alwaysReady = true;
                ++alwaysReady_;
            }
        }
    } else if (::epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &ev) != 0 && errno == ENOENT) {
        ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev);
    }
    w.events = wanted;
}

void EpollDispatcher::forgetPending(QSocketNotifier* notifier) {
    for (std::vector<QSocketNotifier*>* list : activating_)
        std::replace(list->begin(), list->end(), notifier, static_cast<QSocketNotifier*>(nullptr));
}

int EpollDispatcher::activateSockets(int ready) {
    std::vector<QSocketNotifier*> due;
    const auto add = [&due](QSocketNotifier* n, std::uint32_t got, std::uint32_t mask) {
        if (n && (got & mask))
            due.push_back(n);
    };
    for (int i = 0; i < ready; ++i) {
        const epoll_event& ev = events_[std::size_t(i)];
        const int fd = ev.data.fd;
        if (fd == wake_ || std::size_t(fd) >= watched_.size())
            continue;
        const Watched& w = watched_[std::size_t(fd)];
        add(w.read, ev.events, kReadReady);
        add(w.write, ev.events, kWriteReady);
        add(w.exception, ev.events, EPOLLPRI);
    }
    if (alwaysReady_ > 0) {
        for (const Watched& w : watched_) {
            if (!w.alwaysReady)
                continue;
            add(w.read, EPOLLIN, kReadReady);
            add(w.write, EPOLLOUT, kWriteReady);
        }
    }
    if (due.empty())
        return 0;
    // A handler may unregister (or delete) a notifier still in this list, or
    // run a nested loop: forgetPending() reaches every list being worked on.
    activating_.push_back(&due);
    int activated = 0;
    for (std::size_t i = 0; i < due.size(); ++i) {
        QSocketNotifier* n = std::exchange(due[i], nullptr);
        if (!n)
            continue;
        QEvent event(QEvent::SockAct);
        QCoreApplication::sendEvent(n, &event);
        ++activated;
    }
    activating_.pop_back();
    return activated;
}

// ---- timers -------------------------------------------------------------------

EpollDispatcher::Clock EpollDispatcher::firstDue(Clock from, qint64 interval, Qt::TimerType) const {
    return from + interval * kNsPerMs;
}

void EpollDispatcher::registerTimer(int timerId, qint64 interval, Qt::TimerType timerType,
                                    QObject* object) {
    if (auto old = timers_.find(timerId); old != timers_.end())
        dropTimer(old);
    if (timerType == Qt::VeryCoarseTimer && interval > 0)
        interval = std::max<qint64>(1000, (interval + 500) / 1000 * 1000); // whole seconds
    Timer t;
    t.interval = std::max<qint64>(0, interval);
    t.type = timerType;
    t.object = object;
    t.due = firstDue(now(), t.interval, timerType);
    t.generation = ++generations_;
    byDue_.emplace(t.due, timerId);
    byObject_[object].push_back(timerId);
    timers_.emplace(timerId, t);
}

void EpollDispatcher::dropTimer(std::unordered_map<int, Timer>::iterator it) {
    const int id = it->first;
    byDue_.erase({it->second.due, id});
    if (auto owner = byObject_.find(it->second.object); owner != byObject_.end()) {
        std::vector<int>& ids = owner->second;
        ids.erase(std::remove(ids.begin(), ids.end(), id), ids.end());
        if (ids.empty())
            byObject_.erase(owner);
    }
    timers_.erase(it);
}

bool EpollDispatcher::unregisterTimer(int timerId) {
    const auto it = timers_.find(timerId);
    if (it == timers_.end())
        return false;
    dropTimer(it);
    return true;
}

bool EpollDispatcher::unregisterTimers(QObject* object) {
    const auto owner = byObject_.find(object);
    if (owner == byObject_.end())
        return false;
    const std::vector<int> ids = std::move(owner->second);
    byObject_.erase(owner);
    for (const int id : ids) {
        const auto it = timers_.find(id);
        if (it == timers_.end())
            continue;
        byDue_.erase({it->second.due, id});
        timers_.erase(it);
    }
    return true;
}

QList<QAbstractEventDispatcher::TimerInfo>
EpollDispatcher::registeredTimers(QObject* object) const {
    QList<TimerInfo> list;
    const auto owner = byObject_.find(object);
    if (owner == byObject_.end())
        return list;
    for (const int id : owner->second) {
        const Timer& t = timers_.at(id);
        list.append(TimerInfo(id, int(t.interval), t.type));
    }
    return list;
}

int EpollDispatcher::remainingTime(int timerId) {
    const auto it = timers_.find(timerId);
    if (it == timers_.end())
        return -1;
    const Clock left = it->second.due - now();
    return left <= 0 ? 0 : int((left + kNsPerMs - 1) / kNsPerMs);
}

int EpollDispatcher::activateTimers() {
    if (byDue_.empty())
        return 0;
    const Clock start = now();
    // The timers due now, each fired at most once in this pass; a timer
    // started by one of them waits for the next pass.
    std::vector<std::pair<int, std::uint64_t>> due;
    for (auto it = byDue_.begin(); it != byDue_.end() && it->first <= start; ++it)
        due.emplace_back(it->second, timers_.at(it->second).generation);
    int fired = 0;
    for (const auto& [id, generation] : due) {
        auto it = timers_.find(id);
        if (it == timers_.end() || it->second.generation != generation || it->second.firing)
            continue; // stopped, replaced, or still in its own handler (nested loop)
        Timer& t = it->second;
        byDue_.erase({t.due, id});
        t.due += t.interval * kNsPerMs;
        if (t.due < start)
            t.due = start + t.interval * kNsPerMs; // fell behind: no burst to catch up
        byDue_.emplace(t.due, id);
        t.firing = true;
        QObject* object = t.object;
        QTimerEvent event(id);
        QCoreApplication::sendEvent(object, &event);
        ++fired;
        it = timers_.find(id);
        if (it != timers_.end() && it->second.generation == generation)
            it->second.firing = false;
    }
    return fired;
}

} // namespace kv::net
