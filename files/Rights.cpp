#include "files/Rights.h"

namespace kv::files {

namespace {

constexpr std::pair<char, Right> kLetters[] = {
    {'R', Right::Read},   {'W', Right::Write},  {'D', Right::Delete},
    {'B', Right::Browse}, {'M', Right::Manage},
};

} // namespace

std::optional<Rights> Rights::parse(QStringView letters, OtherLetters others) {
    Rights rights;
    for (const QChar c : letters) {
        bool known = false;
        for (const auto& [letter, right] : kLetters) {
            if (c.toUpper() == QLatin1Char(letter)) {
                rights.add(right);
                known = true;
            }
        }
        if (!known && others == OtherLetters::Refuse)
            return std::nullopt;
    }
    return rights;
}

QString Rights::letters() const {
    QString text;
    for (const auto& [letter, right] : kLetters) {
        if (has(right))
            text += QLatin1Char(letter);
    }
    return text;
}

QString Rights::mask() const {
    QString text;
    for (const auto& [letter, right] : kLetters)
        text += has(right) ? QChar(QLatin1Char(letter)).toLower() : QChar(u'-');
    return text;
}

} // namespace kv::files
