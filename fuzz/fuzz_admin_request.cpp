// Whatever bytes a client of the administration channel sends, local or
// remote, the line reader never holds more than a line's limit, every line
// is a request or a named error, and a remote client's first line gives a
// password only when it is a login with a text password.

#include "adminchannel/AdminProtocol.h"
#include "fuzz/FuzzRule.h"

#include <cstdint>

using namespace kv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    AdminLineReader reader(256);
    // Fed in two pieces, as a socket may hand them over.
    const bool fits = reader.append(bytes.left(qsizetype(size / 2))) &&
                      reader.append(bytes.mid(qsizetype(size / 2)));
    while (const auto line = reader.takeLine()) {
        require(line->size() <= 256 + 1, "no line past the limit");
        const AdminParse parsed = parseAdminRequest(*line);
        require(parsed.request.has_value() != !parsed.error.isEmpty(), "a request or a reason");
        if (!parsed.request)
            continue;
        const auto password = adminLoginPassword(*parsed.request);
        require(!password || parsed.request->op == QLatin1String("login"),
                "a password only from a login");
        require(!parsed.request->remote, "remote only as the channel says");
    }
    require(fits || reader.overflowed(), "a refused piece is an overflow");
    return 0;
}
