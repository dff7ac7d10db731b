#include "monitor/ActivityLog.h"

#include <QFile>
#include <utility>

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
    const QString inside =
        trimSpaces(time.toString(QStringLiteral("HH:mm:ss")) + QLatin1Char(' ') + address);
    return QLatin1Char('[') + inside + QStringLiteral("] ") + body;
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

ActivityLog::ActivityLog(LogScreen& screen, Switch logToFile, QString filePath)
    : screen_(screen), logToFile_(std::move(logToFile)), filePath_(std::move(filePath)) {}

ActivityLog::FileOutcome ActivityLog::WriteLog(const QString& text) {
    screen_.ShowLogLine(text);
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
    QFile file(filePath_);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return FileOutcome::Failed;
    const bool written = file.write(bytes) == bytes.size();
    const bool flushed = file.flush();
    file.close();
    return written && flushed ? FileOutcome::Written : FileOutcome::Failed;
}

EngineLineLogger::EngineLineLogger(ActivityLog& log, Clock clock)
    : log_(log), clock_(std::move(clock)) {}

void EngineLineLogger::LogLine(const engine::ConnectionObject& connection, const QString& text) {
    const QString address = connection.LoginAddress();
    const QTime now = clock_ ? clock_().time() : QTime::currentTime();
    log_.WriteLog(EngineLogLine(now, address, text));
}

} // namespace kv::monitor
