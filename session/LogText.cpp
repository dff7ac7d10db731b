#include "session/LogText.h"

#include <algorithm>

namespace kv::session {

namespace {

bool needsEscape(char32_t c) {
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F))
        return true;
    if (c == 0x2028 || c == 0x2029)
        return true;
    return QChar::category(c) == QChar::Other_Format;
}

void appendEscape(QString& out, char32_t c) {
    if (c < 0x100)
        out += QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
    else if (c < 0x10000)
        out += QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
    else
        out += QStringLiteral("\\U%1").arg(uint(c), 8, 16, QLatin1Char('0'));
}

void appendCodePoint(QString& out, char32_t c) {
    if (needsEscape(c))
        appendEscape(out, c);
    else
        out += QString::fromUcs4(&c, 1);
}

// The length of the well-formed UTF-8 sequence at `i` and its code point, or
// 0 when the byte there does not start one (overlong forms, surrogates and
// values past U+10FFFF included).
int utf8Sequence(QByteArrayView s, qsizetype i, char32_t& c) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    int len = 0;
    char32_t min = 0;
    if (b0 < 0x80) {
        c = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        len = 2, c = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, c = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, c = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > s.size())
        return 0;
    for (int k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (b & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    return len;
}

} // namespace

// Printable ASCII is shown as it is: lines are mostly made of it, and it
// needs no look at each character's category.
bool printableAscii(char16_t c) {
    return c >= 0x20 && c <= 0x7E;
}
bool printableAscii(QStringView text) {
    return std::all_of(text.begin(), text.end(),
                       [](QChar c) { return printableAscii(c.unicode()); });
}
bool printableAscii(QByteArrayView bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) {
        return printableAscii(char16_t(static_cast<unsigned char>(c)));
    });
}

QString escapedForLog(QStringView text) {
    if (printableAscii(text))
        return text.toString();
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (ch.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            appendCodePoint(out, QChar::surrogateToUcs4(ch, text[i + 1]));
            ++i;
        } else if (ch.isSurrogate()) {
            appendEscape(out, ch.unicode());
        } else if (needsEscape(ch.unicode())) {
            appendEscape(out, ch.unicode());
        } else {
            out += ch;
        }
    }
    return out;
}

QString bytesForLog(QByteArrayView bytes) {
    if (printableAscii(bytes))
        return QString::fromLatin1(bytes);
    QString out;
    out.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        char32_t c = 0;
        const int len = utf8Sequence(bytes, i, c);
        if (len == 0) {
            appendEscape(out, static_cast<unsigned char>(bytes[i]));
            ++i;
            continue;
        }
        appendCodePoint(out, c);
        i += len;
    }
    return out;
}

} // namespace kv::session
