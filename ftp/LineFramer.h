#pragma once
// Cuts the control connection's byte stream into command lines. Pure: the
// session feeds it what the socket delivered and takes complete lines off
// the front. A line longer than kMaxCommandLine is reported once and skipped
// up to its line end. Telnet sequences pass through untouched; the command
// parser removes them.

#include <QByteArray>
#include <QByteArrayView>

namespace kv::ftp {

class LineFramer {
public:
    enum class Next {
        NeedMore, // no complete line yet
        Line,     // `line` holds the next line, without CR LF
        TooLong,  // an over-long line was dropped
    };

    // How many more bytes it takes now: never more than one line and its
    // line end, so a flooding client cannot grow the buffer.
    qint64 room() const;
    void append(QByteArrayView bytes) { buffer_.append(bytes); }
    // Looks at the front of the buffer. A Line stays there until take().
    Next next(QByteArray& line);
    // Removes the line next() returned.
    void take();
    bool isEmpty() const { return buffer_.isEmpty(); }
    // Frees the buffer of an idle session.
    void squeeze();

private:
    QByteArray buffer_;
    qsizetype lineEnd_ = -1;  // index of the '\n' of the line next() returned
    bool discarding_ = false; // skipping the rest of an over-long line
};

} // namespace kv::ftp
