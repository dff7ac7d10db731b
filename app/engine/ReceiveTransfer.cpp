#include "app/engine/LineEndings.h"
#include "app/engine/Transfer.h"

#include <QFile>
#include <QTcpSocket>

namespace kv::engine {

namespace {
// Bytes taken from the socket per read while uploading.
constexpr qint64 kReadChunk = 512 * 1024;
} // namespace

ReceiveTransfer::ReceiveTransfer(QTcpSocket* socket, std::unique_ptr<QFile> file, bool ascii,
                                 int lingerSeconds, QObject* parent)
    : Transfer(socket, lingerSeconds, parent), file_(std::move(file)), ascii_(ascii) {}

ReceiveTransfer::~ReceiveTransfer() {
    if (file_)
        file_->close();
}

void ReceiveTransfer::start() {
    buffer_.resize(kReadChunk);
    if (ascii_)
        decoder_ = std::make_unique<AsciiDecoder>();
    connect(socket_, &QTcpSocket::readyRead, this, &ReceiveTransfer::drain);
    connect(socket_, &QTcpSocket::disconnected, this, &ReceiveTransfer::onSocketClosed);
    connect(socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (e == QAbstractSocket::RemoteHostClosedError)
            onSocketClosed();
        else if (!done_)
            finish(TransferResult::Outcome::ConnectionLost, socket_->errorString());
    });
    // The client may have sent everything and closed before we got here.
    drain();
    if (!done_ && socket_->state() == QAbstractSocket::UnconnectedState)
        onSocketClosed();
}

bool ReceiveTransfer::store(const char* data, qint64 size) {
    if (size <= 0)
        return true;
    if (file_->write(data, size) != size) {
        finish(TransferResult::Outcome::WriteFailed, file_->errorString());
        return false;
    }
    return true;
}

void ReceiveTransfer::drain() {
    while (!done_ && socket_->bytesAvailable() > 0) {
        const qint64 n = socket_->read(buffer_.data(), buffer_.size());
        if (n <= 0)
            break;
        bytes_ += n;
        if (decoder_) {
            const QByteArray text = decoder_->convert(QByteArrayView(buffer_.constData(), n));
            if (!store(text.constData(), text.size()))
                return;
        } else if (!store(buffer_.constData(), n)) {
            return;
        }
    }
}

void ReceiveTransfer::onSocketClosed() {
    if (done_)
        return;
    drain();
    if (done_)
        return;
    if (decoder_) {
        const QByteArray tail = decoder_->finish();
        if (!store(tail.constData(), tail.size()))
            return;
    }
    if (!file_->flush()) {
        finish(TransferResult::Outcome::WriteFailed, file_->errorString());
        return;
    }
    file_->close();
    if (file_->error() != QFileDevice::NoError) {
        finish(TransferResult::Outcome::WriteFailed, file_->errorString());
        return;
    }
    finish(TransferResult::Outcome::Complete);
}

} // namespace kv::engine
