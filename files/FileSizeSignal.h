#pragma once
// A process past its file-size limit (RLIMIT_FSIZE) is killed by SIGXFSZ
// unless it ignores the signal; ignored, the write fails with EFBIG like on
// a full disk, and the server answers instead of ending.

namespace kv::files {

// Ignores SIGXFSZ unless the host program handles it itself. Idempotent.
void keepRunningPastFileSizeLimit();

} // namespace kv::files
