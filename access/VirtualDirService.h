#pragma once
// The one way virtual folders are changed, for the command line and the
// folder editor alike: each entry judged by access/EntryChecks.h before it is
// written, the Italian reason when refused.

#include "access/EntryChecks.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <optional>
#include <variant>

namespace kv::access {

// Owner numbers: an account's ID, or the anonymous account's.
inline constexpr qint64 kAnonymousOwnerId = 0;

struct VirtualDirRow {
    qint64 rowid = -1;
    QString owner; // the owner's login ("anonymous" for the anonymous account)
    VirtualDirEntry entry;
};

// The fields of a stored folder, in the order the editor shows them.
enum class VirtualDirField { Name, Position, Destination };

class VirtualDirService {
public:
    explicit VirtualDirService(QSqlDatabase db);

    // The owner number of `name`: an account's ID, 0 for "anonymous" (in
    // any letter case); nullopt when there is no such account.
    std::optional<qint64> ownerOf(const QString& name) const;

    // The owner's folders in the order they were stored; every owner's, by
    // owner and name, without one. Empty when the file cannot be read
    // (`error` then says why).
    QList<VirtualDirRow> folders(std::optional<qint64> owner = std::nullopt,
                                 QString* error = nullptr) const;
    // The row of the owner's folder called `name`; nullopt when there is none.
    std::optional<qint64> find(qint64 owner, const QString& name) const;

    // Adds a folder judged by virtualDirProblem(), its fields as given (an
    // empty one as empty text); the new row's number, or the reason.
    std::variant<qint64, QString> add(qint64 owner, const VirtualDirEntry& entry);
    // Changes one field of a stored folder, judged with the others.
    std::optional<QString> change(qint64 owner, qint64 rowid, VirtualDirField field,
                                  const QString& value);
    std::optional<QString> remove(qint64 owner, qint64 rowid);
    // Every folder of the owner (an account being deleted).
    std::optional<QString> removeAll(qint64 owner);

    // Why `value` would be refused for `field` of the folder `current`
    // (rowid -1: not stored yet).
    std::optional<QString> fieldProblem(qint64 owner, qint64 rowid, const VirtualDirEntry& current,
                                        VirtualDirField field, const QString& value) const;

private:
    QSqlDatabase db_;
};

} // namespace kv::access
