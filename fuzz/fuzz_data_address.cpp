// Whatever a client sends after PORT, EPRT or EPSV, the readers answer with
// an address the data channel can use (port 1-65535, the protocol asked
// for) or a named error, and never crash.

#include "ftp/DataAddress.h"
#include "fuzz/FuzzRule.h"

#include <QString>

#include <cstdint>

using namespace kv::ftp;

namespace {

void checkAddress(const DataAddress& a, bool ipv4Only) {
    if (!a.ok()) {
        require(a.port == 0, "no port with an error");
        return;
    }
    require(a.port != 0, "port 1 to 65535");
    require(!a.host.isNull(), "a host with every address");
    if (ipv4Only)
        require(a.host.protocol() == QAbstractSocket::IPv4Protocol, "PORT gives IPv4");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString arg = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    checkAddress(parsePortArgument(arg), true);
    const DataAddress eprt = parseEprtArgument(arg);
    checkAddress(eprt, false);
    if (eprt.ok())
        require(arg.contains(eprt.host.protocol() == QAbstractSocket::IPv4Protocol ? u"1" : u"2"),
                "EPRT host of the protocol named");
    const EpsvRequest v4 = parseEpsvArgument(arg, true);
    require(v4 != EpsvRequest::Listen || arg.trimmed().isEmpty() || arg.trimmed() == u"1",
            "EPSV listens only for no argument or its own protocol");
    return 0;
}
