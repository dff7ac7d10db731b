// Cuts the control connection's byte stream into command lines.

#include "ftp/LineFramer.h"

#include "ftp/EngineLimits.h"

namespace kv::ftp {

qint64 LineFramer::room() const {
    return kMaxCommandLine + 2 - buffer_.size();
}

LineFramer::Next LineFramer::next(QByteArray& line) {
    lineEnd_ = -1;
    if (discarding_) {
        const qsizetype nl = buffer_.indexOf('\n');
        if (nl < 0) {
            buffer_.clear();
            return Next::NeedMore;
        }
        buffer_.remove(0, nl + 1);
        discarding_ = false;
    }
    const qsizetype nl = buffer_.indexOf('\n');
    if (nl < 0) {
        if (buffer_.size() > kMaxCommandLine + 1) {
            buffer_.clear();
            discarding_ = true;
            return Next::TooLong;
        }
        return Next::NeedMore;
    }
    line = buffer_.left(nl);
    if (line.endsWith('\r'))
        line.chop(1);
    if (line.size() > kMaxCommandLine) {
        buffer_.remove(0, nl + 1);
        return Next::TooLong;
    }
    lineEnd_ = nl;
    return Next::Line;
}

void LineFramer::take() {
    if (lineEnd_ >= 0)
        buffer_.remove(0, lineEnd_ + 1);
    lineEnd_ = -1;
}

void LineFramer::squeeze() {
    if (buffer_.isEmpty())
        buffer_ = QByteArray();
}

} // namespace kv::ftp
