#pragma once
// What one upload adds to its account's quota, the same for FTP and SFTP:
// made when the file is opened (a new file counts one more, a truncation
// frees what it cut), asked before every write for the bytes that fit, and
// settled when the transfer ends against what the file really holds. Only
// growth past the file's end is charged, so a resume or an append pays for
// what it adds and a write inside the file costs nothing.

#include <QtGlobal>

namespace kv::session {

class QuotaKeeper;

class QuotaCharge {
public:
    // The file held `sizeBefore` bytes (-1: it is new) and holds `sizeNow`
    // once opened (a truncation to a resume offset, or emptied).
    QuotaCharge(QuotaKeeper& keeper, qint32 accountId, qint64 sizeBefore, qint64 sizeNow);
    QuotaCharge(const QuotaCharge&) = delete;
    QuotaCharge& operator=(const QuotaCharge&) = delete;

    // How many of `size` bytes written at `offset` (-1: the end) fit; the
    // bytes past the end they take are the account's from now on.
    qint64 admit(qint64 offset, qint64 size);
    // Whether `size` more bytes at the end would fit, taking nothing.
    bool fits(qint64 size);
    // Whether a write was cut short by the quota.
    bool cut() const { return cut_; }
    // The file's end as charged.
    qint64 end() const { return end_; }
    // The file holds `actualSize` bytes now: what was charged and not written
    // goes back (a failed write).
    void settle(qint64 actualSize);
    // Reads the size from the open descriptor `fd`, then settles.
    void settleFromDescriptor(int fd);
    // The file never became the account's (written beside and dropped):
    // what it took goes back, and the file it was to replace counts again.
    void restoreReplaced();

    qint32 accountId() const { return accountId_; }

private:
    QuotaKeeper& keeper_;
    qint32 accountId_;
    qint64 end_ = 0;
    qint64 freed_ = 0;     // of the file it replaces, freed when opened
    bool counted_ = false; // this charge added the file to the account's number of files
    bool cut_ = false;
};

} // namespace kv::session
