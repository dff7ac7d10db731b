#include "access/AddressHelpers.h"

#include "engine/HostAddresses.h"

namespace kv::admin {

QString DefaultLocalIP(const engine::FtpEngine* mainEngine) {
    QString address = engine::primaryIPv4Address();
    if (address.isEmpty() && mainEngine)
        address = mainEngine->LocalAddress();
    return address;
}

} // namespace kv::admin
