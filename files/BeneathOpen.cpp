// openat2 with RESOLVE_BENEATH, called through syscall(2): the C library
// of Debian 12 has no wrapper for it.
#include "files/BeneathOpen.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kv::files {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

UniqueFd::~UniqueFd() {
    if (fd_ >= 0)
        ::close(fd_);
}

int UniqueFd::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

UniqueFd openBeneath(int dirFd, const QByteArray& relative, int flags, bool followLinks,
                     mode_t mode) {
    if (dirFd < 0) {
        errno = EBADF;
        return UniqueFd();
    }
    struct open_how how = {};
    how.flags = quint64(flags | O_CLOEXEC);
    how.mode = (flags & O_CREAT) ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    if (!followLinks)
        how.resolve |= RESOLVE_NO_SYMLINKS;
    const char* path = relative.isEmpty() ? "." : relative.constData();
    for (int tries = 0; tries < 8; ++tries) {
        const long fd = ::syscall(SYS_openat2, dirFd, path, &how, sizeof how);
        if (fd >= 0)
            return UniqueFd(int(fd));
        // EAGAIN: a rename elsewhere raced the lookup; the kernel asks to retry.
        if (errno != EAGAIN && errno != EINTR)
            break;
    }
    return UniqueFd();
}

AreaFd openArea(const QByteArray& diskPath, bool lastMayBeLink) {
    if (diskPath.isEmpty() || diskPath.contains('\0'))
        return {};
    const int flags = O_PATH | O_DIRECTORY | O_CLOEXEC | (lastMayBeLink ? 0 : O_NOFOLLOW);
    const int fd = ::open(diskPath.constData(), flags);
    if (fd < 0)
        return {};
    return std::make_shared<const UniqueFd>(fd);
}

bool beneathOpeningWorks() {
    const UniqueFd probe = openBeneath(AT_FDCWD, ".", O_PATH | O_DIRECTORY, false);
    return probe.valid() || (errno != ENOSYS && errno != EPERM);
}

} // namespace kv::files
