#pragma once
// The keeper's challenge listener backed by the acme layer's ChallengeServer:
// what a real server's attempt opens on the configured port.

#include "core/AcmeAttempt.h"

#include <memory>

namespace kv {

std::unique_ptr<AcmeChallengeListener> makeChallengeServerListener();

} // namespace kv
