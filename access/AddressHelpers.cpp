#include "access/AddressHelpers.h"

#include "engine/HostAddresses.h"

namespace kv::admin {

QString DefaultLocalIP() {
    return engine::mainAddress();
}

} // namespace kv::admin
