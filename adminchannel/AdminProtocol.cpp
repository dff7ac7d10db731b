// Reading and writing the administration channel's JSON lines.
#include "adminchannel/AdminProtocol.h"

#include <QJsonDocument>
#include <QJsonParseError>

namespace kv {

AdminParse parseAdminRequest(const QByteArray& line) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return {std::nullopt,
                QStringLiteral("Richiesta non leggibile: serve un oggetto JSON per riga")};
    const QJsonObject body = doc.object();
    const QJsonValue version = body.value(QStringLiteral("v"));
    if (!version.isUndefined() && version.toInt(-1) != kAdminProtocolVersion)
        return {std::nullopt,
                QStringLiteral("Versione del protocollo non supportata (questa è la %1)")
                    .arg(kAdminProtocolVersion)};
    const QJsonValue op = body.value(QStringLiteral("op"));
    if (!op.isString() || op.toString().isEmpty())
        return {std::nullopt, QStringLiteral("Richiesta senza operazione (\"op\")")};
    return {AdminRequest{op.toString(), body}, {}};
}

std::optional<QString> adminLoginPassword(const AdminRequest& request) {
    const QJsonValue password = request.body.value(QStringLiteral("password"));
    if (request.op != QLatin1String("login") || !password.isString())
        return std::nullopt;
    return password.toString();
}

QByteArray adminLine(QJsonObject message) {
    message.insert(QStringLiteral("v"), kAdminProtocolVersion);
    return QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray adminError(const QString& reason) {
    return adminLine({{QStringLiteral("ok"), false}, {QStringLiteral("error"), reason}});
}

QString adminReplyTooLong() {
    return QStringLiteral("Risposta del server troppo lunga: canale di amministrazione chiuso");
}

bool AdminLineReader::append(const QByteArray& bytes) {
    if (overflowed_)
        return false;
    buffer_.append(bytes);
    // Only the part after the last line end is a line still being read.
    const qsizetype lastEnd = buffer_.lastIndexOf('\n');
    if (buffer_.size() - (lastEnd + 1) > limit_) {
        overflowed_ = true;
        buffer_.clear();
        return false;
    }
    return true;
}

std::optional<QByteArray> AdminLineReader::takeLine() {
    const qsizetype end = buffer_.indexOf('\n');
    if (end < 0)
        return std::nullopt;
    QByteArray line = buffer_.left(end);
    buffer_.remove(0, end + 1);
    if (line.endsWith('\r'))
        line.chop(1);
    if (line.size() > limit_) {
        overflowed_ = true;
        buffer_.clear();
        return std::nullopt;
    }
    return line;
}

} // namespace kv
