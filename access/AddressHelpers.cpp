#include "access/AddressHelpers.h"

#include "net/HostAddresses.h"

namespace kv::admin {

QString DefaultLocalIP() {
    return net::mainAddress();
}

} // namespace kv::admin
