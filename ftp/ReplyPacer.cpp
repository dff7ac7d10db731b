// One timerfd for the whole server, armed for the earliest work queued.
#include "ftp/ReplyPacer.h"

#include <QSocketNotifier>

#include <ctime>
#include <sys/timerfd.h>
#include <unistd.h>
#include <vector>

namespace kv::ftp {

namespace {
// A bound for what strangers can make the server remember; past it the
// memory starts again (a client then stalls once more before it is paced).
constexpr qsizetype kMaxLateLookers = 1024;
} // namespace

ReplyPacer::~ReplyPacer() {
    delete notifier_; // before the descriptor it watches
    if (timer_ >= 0)
        ::close(timer_);
}

qint64 ReplyPacer::now() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

bool ReplyPacer::makeTimer() {
    if (timer_ >= 0)
        return true;
    if (broken_)
        return false;
    timer_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (timer_ < 0) {
        broken_ = true;
        return false;
    }
    notifier_ = new QSocketNotifier(timer_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &ReplyPacer::onTimer);
    return true;
}

bool ReplyPacer::runAt(qint64 due, QObject* owner, std::function<void()> work) {
    if (due <= now() || !makeTimer())
        return false;
    const bool earliest = items_.empty() || due < items_.begin()->first;
    items_.emplace(due, Item{owner, std::move(work)});
    if (earliest)
        arm();
    return true;
}

void ReplyPacer::noteLateLooker(const QHostAddress& address) {
    if (lateLookers_.size() >= kMaxLateLookers)
        lateLookers_.clear();
    lateLookers_.insert(address);
}

void ReplyPacer::arm() {
    // Absolute, so the time spent getting here does not count twice; a
    // moment already past fires at once. Nothing left: disarmed.
    itimerspec when{};
    if (!items_.empty()) {
        const qint64 due = items_.begin()->first;
        when.it_value.tv_sec = time_t(due / 1'000'000'000);
        when.it_value.tv_nsec = long(due % 1'000'000'000);
    }
    ::timerfd_settime(timer_, TFD_TIMER_ABSTIME, &when, nullptr);
}

void ReplyPacer::onTimer() {
    quint64 expirations = 0;
    [[maybe_unused]] const ssize_t n = ::read(timer_, &expirations, sizeof expirations);
    // The items due now leave the queue before any runs: work may queue more.
    const qint64 at = now();
    std::vector<Item> due;
    while (!items_.empty() && items_.begin()->first <= at) {
        due.push_back(std::move(items_.begin()->second));
        items_.erase(items_.begin());
    }
    arm();
    for (Item& item : due)
        if (item.owner)
            item.work();
}

} // namespace kv::ftp
