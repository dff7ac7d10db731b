#include "monitor/ActivityLog.h"

#include "access/DataFileMode.h"
#include "files/FileSizeSignal.h"
#include "session/LogText.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kv::monitor {

namespace {

// Only spaces are trimmed, as the line format asks; other characters stay.
QString trimSpaces(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == u' ')
        ++begin;
    while (end > begin && text.at(end - 1) == u' ')
        --end;
    return text.mid(begin, end - begin);
}

// Appends the bytes in one write. A write cut short (a full disk, a size
// limit) is taken back, so no torn line stays at the end of the file. The file
// is opened for each line, so a log moved or removed by another program is
// made again; plain calls keep that to open, write and close.
int openRetrying(const QByteArray& name, int flags, mode_t mode = 0) {
    int fd = -1;
    do
        fd = ::open(name.constData(), flags, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// Opens the log for appending. A log made here gets the data folder's file
// mode (it holds addresses and logins), whatever the umask; an existing one
// keeps the mode it has.
int openLog(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    constexpr int kAppend = O_WRONLY | O_APPEND | O_CLOEXEC;
    int fd = openRetrying(name, kAppend);
    if (fd >= 0 || errno != ENOENT)
        return fd;
    const mode_t mode = access::dataFileMode(QFileInfo(path).absolutePath());
    fd = openRetrying(name, kAppend | O_CREAT | O_EXCL, mode);
    if (fd >= 0) {
        ::fchmod(fd, mode);
        return fd;
    }
    return errno == EEXIST ? openRetrying(name, kAppend) : fd; // made meanwhile
}

bool appendWhole(const QString& path, const QByteArray& bytes, QString& error) {
    const int fd = openLog(path);
    if (fd < 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = QString::fromLocal8Bit(std::strerror(n < 0 ? errno : ENOSPC));
            break;
        }
        done += n;
    }
    const bool whole = done == bytes.size();
    struct stat info {};
    if (!whole && done > 0 && ::fstat(fd, &info) == 0 && info.st_size >= done &&
        ::ftruncate(fd, info.st_size - done) != 0)
        error += QStringLiteral("; parte della riga resta nel file");
    ::close(fd);
    return whole;
}

// "hh:mm:ss", written out by hand: QTime::toString goes through the locale's
// formatter, which costs more than the rest of the line.
QString clockText(const QTime& time) {
    const int parts[3] = {time.hour(), time.minute(), time.second()};
    char text[8];
    for (int i = 0; i < 3; ++i) {
        text[i * 3] = char('0' + parts[i] / 10);
        text[i * 3 + 1] = char('0' + parts[i] % 10);
        if (i < 2)
            text[i * 3 + 2] = ':';
    }
    return QString::fromLatin1(text, 8);
}

QString stamp(const QDateTime& when) {
    return when.toString(QStringLiteral("dd-MM-yyyy HH:mm:ss"));
}

} // namespace

QString EngineLogLine(const QTime& time, const QString& address, const QString& text) {
    QString body = text;
    while (body.endsWith(QLatin1Char('\n')) || body.endsWith(QLatin1Char('\r')))
        body.chop(1);
    body.replace(QLatin1String("\r\n"), QLatin1String(" "));
    body.replace(QLatin1Char('\r'), QLatin1Char(' '));
    body.replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QString inside = trimSpaces((time.isValid() ? clockText(time) : QString()) +
                                      QLatin1Char(' ') + session::escapedForLog(address));
    return QLatin1Char('[') + inside + QStringLiteral("] ") + session::escapedForLog(body);
}

QString StartLogLine(const QDateTime& when, const QString& localAddress) {
    return QLatin1Char('[') + stamp(when) + QStringLiteral("] SERVER START ON IP ") + localAddress;
}

QString StopLogLine(const QDateTime& when) {
    return QLatin1Char('[') + stamp(when) + QStringLiteral("] SERVER STOP");
}

QString StartFailedLogLine(const QDateTime& when, const QString& reason) {
    QString body = reason;
    body.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return QLatin1Char('[') + stamp(when) + QStringLiteral("] SERVER START FAILED: ") + body;
}

QString ReloadLogLine(const QDateTime& when, const QString& localAddress, quint16 port) {
    return QLatin1Char('[') + stamp(when) + QStringLiteral("] SERVER RELOAD ON IP ") +
           localAddress + QStringLiteral(" PORT ") + QString::number(port);
}

QString ReloadFailedLogLine(const QDateTime& when, const QString& reason) {
    QString body = reason;
    body.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return QLatin1Char('[') + stamp(when) + QStringLiteral("] SERVER RELOAD FAILED: ") + body;
}

void WarnOnStandardError(const QString& text) {
    std::fputs((text + QLatin1Char('\n')).toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

ActivityLog::ActivityLog(LogScreen& screen, Switch logToFile, QString filePath, Warn warn)
    : screen_(screen), logToFile_(std::move(logToFile)), filePath_(std::move(filePath)),
      warn_(std::move(warn)) {
    // A file-size limit must fail a write, not end the program.
    files::keepRunningPastFileSizeLimit();
}

ActivityLog::FileOutcome ActivityLog::WriteLog(const QString& text) {
    screen_.ShowLogLine(text);
    return append(text);
}

void ActivityLog::record(const events::LogLine& line) {
    if (line.forFile)
        append(line.line);
}

ActivityLog::FileOutcome ActivityLog::append(const QString& text) {
    if (!logToFile_ || !logToFile_())
        return FileOutcome::NotLogging;

    // Append only: an existing file is never truncated or rewritten. A failed
    // rotation leaves the file where it is and the line goes there.
    const QByteArray bytes = text.toLocal8Bit() + QByteArrayLiteral("\r\n");
    if (!rotateBeforeAppend(filePath_, bytes.size(), rotation_) && !rotationFailureShown_) {
        rotationFailureShown_ = true;
        screen_.ShowLogLine(QStringLiteral("Impossibile ruotare il file di log ") + filePath_ +
                            QStringLiteral(": le righe continuano a esservi aggiunte"));
    }
    // After a failure the note of what was lost goes in front of the line,
    // in the same write.
    const QString note = fileFailing_ ? QStringLiteral("Scrittura nel file di log %1 ripresa: "
                                                       "%2 righe non registrate")
                                            .arg(filePath_)
                                            .arg(linesLost_)
                                      : QString();
    QString error;
    if (appendWhole(filePath_, note.isEmpty() ? bytes : note.toLocal8Bit() + "\r\n" + bytes,
                    error)) {
        if (fileFailing_) {
            fileFailing_ = false;
            linesLost_ = 0;
            tell(note);
        }
        return FileOutcome::Written;
    }
    ++linesLost_;
    if (!fileFailing_) {
        fileFailing_ = true;
        tell(QStringLiteral("Impossibile scrivere nel file di log %1 (%2): le righe seguenti "
                            "non vi vengono registrate")
                 .arg(filePath_, error));
    }
    return FileOutcome::Failed;
}

void ActivityLog::tell(const QString& text) {
    screen_.ShowLogLine(text);
    if (warn_)
        warn_(text);
}

Clock localTimeBySecond() {
    return [second = qint64(-1), local = QDateTime()]() mutable {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        if (now != second) {
            second = now;
            local = QDateTime::fromSecsSinceEpoch(now);
        }
        return local;
    };
}

std::function<QString(const QString&, const QString&)> sessionLineStamp(Clock clock) {
    return [clock = std::move(clock)](const QString& address, const QString& text) {
        const QTime now = clock ? clock().time() : QTime::currentTime();
        return EngineLogLine(now, address, text);
    };
}

events::LogLine serverLogLine(const QString& line) {
    events::LogLine made;
    made.line = line;
    made.text = line;
    return made;
}

} // namespace kv::monitor
