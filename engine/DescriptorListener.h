#pragma once
// A listening socket that hands each accepted connection on as a bare
// descriptor, so the engine makes the socket itself (and may choose its type).

#include <QTcpServer>
#include <QTimer>

namespace kv::engine {

class DescriptorListener : public QTcpServer {
    Q_OBJECT
public:
    explicit DescriptorListener(QObject* parent = nullptr) : QTcpServer(parent) {
        // Out of descriptors, QTcpServer stops accepting for good. The
        // clients wait in the queue instead, and accepting resumes shortly,
        // when sessions may have ended.
        connect(this, &QTcpServer::acceptError, this,
                [this] { QTimer::singleShot(kRetryAfterMs, this, [this] { resumeAccepting(); }); });
    }
Q_SIGNALS:
    void descriptorReady(qintptr descriptor);

protected:
    void incomingConnection(qintptr descriptor) override { Q_EMIT descriptorReady(descriptor); }

private:
    static constexpr int kRetryAfterMs = 100;
};

} // namespace kv::engine
