#include "session/QuotaCharge.h"

#include "session/QuotaKeeper.h"

#include <algorithm>
#include <utility>

#include <sys/stat.h>

namespace kv::session {

QuotaCharge::QuotaCharge(QuotaKeeper& keeper, qint32 accountId, qint64 sizeBefore, qint64 sizeNow)
    : keeper_(keeper), accountId_(accountId), end_(sizeNow) {
    if (sizeBefore < 0) {
        keeper_.addFiles(accountId_, 1);
        counted_ = true;
        // A new file is empty when opened.
        end_ = 0;
        if (sizeNow > 0)
            end_ = keeper_.reserve(accountId_, sizeNow);
    } else if (sizeBefore > sizeNow) {
        freed_ = sizeBefore - sizeNow;
        keeper_.release(accountId_, freed_);
    }
}

qint64 QuotaCharge::admit(qint64 offset, qint64 size) {
    if (size <= 0)
        return 0;
    const qint64 from = offset < 0 ? end_ : offset;
    const qint64 growth = from + size - end_;
    if (growth <= 0)
        return size;
    // Bytes written past the end leave a hole up to it that costs nothing on
    // most file systems, but the file's size counts: the whole growth is taken.
    const qint64 granted = keeper_.reserve(accountId_, growth);
    end_ += granted;
    if (granted < growth) {
        cut_ = true;
        return std::max<qint64>(0, end_ - from);
    }
    return size;
}

bool QuotaCharge::fits(qint64 size) {
    const qint64 left = keeper_.bytesLeft(accountId_);
    return left < 0 || left >= size;
}

void QuotaCharge::settle(qint64 actualSize) {
    if (actualSize >= 0 && actualSize < end_) {
        keeper_.release(accountId_, end_ - actualSize);
        end_ = actualSize;
    }
}

void QuotaCharge::settleFromDescriptor(int fd) {
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0)
        settle(qint64(st.st_size));
}

void QuotaCharge::restoreReplaced() {
    keeper_.release(accountId_, end_);
    end_ = 0;
    if (counted_)
        keeper_.addFiles(accountId_, -1);
    counted_ = false;
    keeper_.restore(accountId_, std::exchange(freed_, 0));
}

} // namespace kv::session
