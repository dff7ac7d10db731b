#include "ftp/CommandParser.h"

#include "ftp/CommandLog.h"

#include <QStringDecoder>

namespace kv::ftp {

namespace {

constexpr unsigned char kIac = 0xFF;
constexpr int kMaxVerbLength = 8;

} // namespace

QByteArray withoutTelnet(QByteArrayView in) {
    QByteArray out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        const auto c = static_cast<unsigned char>(in[i]);
        if (c != kIac) {
            out.append(char(c));
            continue;
        }
        if (i + 1 >= in.size())
            break;
        const auto cmd = static_cast<unsigned char>(in[i + 1]);
        if (cmd == kIac) {
            out.append(char(kIac));
            ++i;
        } else if (cmd >= 251 && cmd <= 254) {
            i += 2;
        } else {
            ++i;
        }
    }
    return out;
}

namespace {

QString printableVerb(QByteArrayView raw) {
    QString v;
    for (char c : raw.first(std::min<qsizetype>(raw.size(), 32))) {
        const auto u = static_cast<unsigned char>(c);
        v += (u >= 0x20 && u < 0x7F && c != '\'') ? QChar(c) : QChar(u'?');
    }
    return v;
}

} // namespace

ParsedCommand parseCommandLine(QByteArrayView line) {
    ParsedCommand result;
    if (line.endsWith('\r'))
        line.chop(1);
    const QByteArray bytes = line.contains(char(kIac)) ? withoutTelnet(line) : line.toByteArray();

    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7F) {
            result.error = ParseError::ControlChar;
            return result;
        }
    }
    qsizetype start = 0;
    while (start < bytes.size() && bytes[start] == ' ')
        ++start;
    if (start == bytes.size()) {
        result.error = ParseError::Empty;
        return result;
    }
    qsizetype space = bytes.indexOf(' ', start);
    if (space < 0)
        space = bytes.size();
    const QByteArrayView rawVerb = QByteArrayView(bytes).sliced(start, space - start);
    // Letters, then maybe digits ("XSHA256").
    qsizetype letterCount = 0;
    const auto isAsciiLetter = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    };
    while (letterCount < rawVerb.size() && isAsciiLetter(rawVerb[letterCount]))
        ++letterCount;
    bool wellFormed = letterCount > 0 && rawVerb.size() <= kMaxVerbLength;
    for (char c : rawVerb.sliced(letterCount))
        wellFormed = wellFormed && c >= '0' && c <= '9';
    // Only PASS and ACCT themselves: "PASSsecret", "\tPASS secret" are
    // malformed, and their password is echoed no more than logged.
    QString secretVerb;
    const bool secret = startsWithSecretVerb(bytes, &secretVerb);
    if (secret && rawVerb.size() != 4)
        wellFormed = false;
    if (!wellFormed) {
        result.error = ParseError::BadVerb;
        result.verb = secret ? secretVerb + QStringLiteral(" ***") : printableVerb(rawVerb);
        return result;
    }
    result.verb = QString::fromLatin1(rawVerb).toUpper();

    if (space < bytes.size()) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        result.argument = utf8(QByteArrayView(bytes).sliced(space + 1));
        if (utf8.hasError()) {
            result.error = ParseError::BadEncoding;
            result.argument.clear();
        }
    }
    return result;
}

} // namespace kv::ftp
