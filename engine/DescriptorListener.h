#pragma once
// A listening socket that hands each accepted connection on as a bare
// descriptor, so the engine makes the socket itself (and may choose its type).

#include <QTcpServer>

namespace kv::engine {

class DescriptorListener : public QTcpServer {
    Q_OBJECT
public:
    using QTcpServer::QTcpServer;
Q_SIGNALS:
    void descriptorReady(qintptr descriptor);

protected:
    void incomingConnection(qintptr descriptor) override { Q_EMIT descriptorReady(descriptor); }
};

} // namespace kv::engine
