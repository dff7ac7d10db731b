#pragma once
// Work that takes turns with the event loop: posted items run in short
// slices, one slice per pass, after the sockets that became ready meanwhile
// were served.
// The engine queues login verdicts here, so a crowd of clients whose
// passwords are being hashed cannot hold back a NOOP of another session
// for longer than one verification. Items whose owner is gone are dropped.

#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>

namespace kv::ftp {

class TurnQueue : public QObject {
    Q_OBJECT
public:
    explicit TurnQueue(QObject* parent = nullptr);

    void post(QObject* owner, std::function<void()> work);
    qsizetype waiting() const { return items_.size(); }

private:
    void runSlice();

    struct Item {
        QPointer<QObject> owner;
        std::function<void()> work;
    };
    QList<Item> items_;
    QTimer turn_;
};

} // namespace kv::ftp
