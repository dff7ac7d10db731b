#pragma once
// Hard limits every protocol's sessions keep alike.

namespace kv::session {

// Longest password passed to the login check.
inline constexpr int kMaxPasswordLength = 1024;
// How long a refused login waits for its answer while bans are on.
inline constexpr int kFailedLoginDelayMs = 1000;
// Checksums (FTP's HASH, SFTP's check-file...) computed at the same time,
// over all sessions; more wait their turn.
inline constexpr int kHashesAtOnce = 2;

} // namespace kv::session
