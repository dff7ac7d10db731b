#include "files/Rights.h"

namespace kv::files {

namespace {

constexpr std::pair<char, Right> kLetters[] = {
    {'R', Right::Read},   {'W', Right::Write},  {'D', Right::Delete},
    {'B', Right::Browse}, {'M', Right::Manage},
};

} // namespace

Rights Rights::fromLetters(QStringView letters) {
    Rights rights;
    for (const QChar c : letters) {
        for (const auto& [letter, right] : kLetters) {
            if (c.toUpper() == QLatin1Char(letter))
                rights.add(right);
        }
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

} // namespace kv::files
