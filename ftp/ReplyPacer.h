#pragma once
// Runs work at a moment given to the microsecond, for replies that must not
// reach a client sooner than it looks for them (see
// ControlSession::replyNotBefore). Qt's timers count whole milliseconds; one
// timerfd, made on first use, serves every session of the server.

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QSet>

#include <functional>
#include <map>

class QSocketNotifier;

namespace kv::ftp {

class ReplyPacer : public QObject {
    Q_OBJECT
public:
    explicit ReplyPacer(QObject* parent = nullptr) : QObject(parent) {}
    ~ReplyPacer() override;

    // The monotonic clock, in nanoseconds, that due times are given in.
    static qint64 now();

    // Runs `work` from the event loop at `due`, unless `owner` is gone by
    // then. False, and nothing queued, when that moment has come already or
    // no timer can be had: the caller then does the work at once.
    bool runAt(qint64 due, QObject* owner, std::function<void()> work);
    qsizetype waiting() const { return items_.size(); }

    // Addresses whose client connected to a passive port about a second
    // after the answer, as curl does when the answer was there before it
    // looked: their answers are paced from then on (see
    // EngineLimits::passiveReplyDelayUs). Others are answered at once.
    void noteLateLooker(const QHostAddress& address);
    bool isLateLooker(const QHostAddress& address) const { return lateLookers_.contains(address); }

private:
    bool makeTimer();
    void arm();
    void onTimer();

    struct Item {
        QPointer<QObject> owner;
        std::function<void()> work;
    };
    std::multimap<qint64, Item> items_; // by due time, in the order queued
    QSet<QHostAddress> lateLookers_;
    int timer_ = -1;
    bool broken_ = false; // the kernel refused the timer: no pacing
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace kv::ftp
