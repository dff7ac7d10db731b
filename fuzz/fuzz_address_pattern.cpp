// Whatever text an allow or block list holds, the reader answers "no
// pattern" or a pattern that matches the addresses the text names itself:
// an exact address, the network of a block, both ends of a range and the
// lowest and highest address of a wildcard. Spaces around never change the
// answer, and it never crashes.

#include "fuzz/FuzzRule.h"
#include "settings/AddressPattern.h"

#include <QString>

#include <cstdint>

using kv::settings::AddressPattern;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString entry = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<AddressPattern> p = AddressPattern::parse(entry);
    const std::optional<AddressPattern> spaced =
        AddressPattern::parse(QLatin1Char(' ') + entry + QLatin1Char(' '));
    require(bool(p) == bool(spaced), "spaces around do not change the answer");
    if (!p)
        return 0;
    const QString text = entry.trimmed();
    switch (p->kind()) {
    case AddressPattern::Kind::Exact:
        require(p->matches(text), "an address matches itself");
        break;
    case AddressPattern::Kind::Subnet:
        require(p->matches(text.section(QLatin1Char('/'), 0, 0)), "a block holds its address");
        break;
    case AddressPattern::Kind::Range:
        require(p->matches(text.section(QLatin1Char('-'), 0, 0).trimmed()),
                "a range holds its start");
        require(p->matches(text.section(QLatin1Char('-'), 1).trimmed()), "a range holds its end");
        break;
    case AddressPattern::Kind::Wildcard: {
        QString low = text, high = text;
        require(p->matches(low.replace(QLatin1Char('*'), QLatin1Char('0'))), "a wildcard holds .0");
        require(p->matches(high.replace(QLatin1Char('*'), QLatin1String("255"))),
                "a wildcard holds .255");
        break;
    }
    }
    return 0;
}
