#pragma once
// Opening disk objects so that they cannot leave a folder, whatever is
// renamed or linked on disk meanwhile: every client path is opened relative
// to a descriptor of the folder it must stay in (the root or a virtual
// folder's destination) with openat2 and RESOLVE_BENEATH, so the kernel
// refuses a ".." or a link that leads out at the moment of the open, not at
// some earlier check. Links are refused outright unless they are to be
// followed; "magic" /proc links never are. Absolute links always lead out.

#include <QByteArray>

#include <memory>
#include <sys/types.h>

namespace kv::files {

// A file descriptor closed with its owner.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd();

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();

private:
    int fd_ = -1;
};

// A folder every path of one area is opened beneath, shared by the copies
// of a session's file system and closed with the last of them.
using AreaFd = std::shared_ptr<const UniqueFd>;

// Opens `relative` ("" or "." for the folder itself; never absolute) below
// the folder `dirFd` with open(2) `flags` (O_CLOEXEC is added); `mode` is
// used with O_CREAT. Fails (errno set, an invalid descriptor) when the path
// would leave the folder (EXDEV), or meets a link while `followLinks` is off
// (ELOOP).
UniqueFd openBeneath(int dirFd, const QByteArray& relative, int flags, bool followLinks,
                     mode_t mode = 0);

// Opens an operator-configured folder as an area (O_PATH). With `lastMayBeLink`
// off the folder itself must not be a link, so a link put in its place later
// is not taken for it.
AreaFd openArea(const QByteArray& diskPath, bool lastMayBeLink);

// Whether this system opens files beneath a folder (Linux 5.6 and later);
// asked once when the server starts, which refuses to serve without it.
bool beneathOpeningWorks();

} // namespace kv::files
