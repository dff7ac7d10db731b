#pragma once

namespace kv::net {

// Raises this process's limit of open descriptors (RLIMIT_NOFILE) to the most
// it may have, since every connection holds one; returns the limit now in
// force, or -1 when it cannot be read (LONG_MAX: no limit).
long raiseDescriptorLimit();

} // namespace kv::net
