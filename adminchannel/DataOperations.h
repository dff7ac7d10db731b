#pragma once
// The administration channel's operations on what accounts.dat holds, for
// a window or a command line that edits a copy of it (access/MirrorDatabase):
// "snapshot" (every administered table, secrets masked), "apply" (the
// changes made to the copy, judged row by row with the panels' own checks
// and written in one transaction, or refused whole with the reason) and
// "browse" (the server's folders, for the folder choosers).

#include "adminchannel/AdminProtocol.h"

#include <QJsonObject>
#include <QObject>

namespace kv {

class ProgramCore;

class DataOperations : public QObject {
    Q_OBJECT
public:
    explicit DataOperations(ProgramCore& core, QObject* parent = nullptr);

    // Whether `op` is one of these operations.
    static bool handles(const QString& op);
    QJsonObject answer(const AdminRequest& request);

Q_SIGNALS:
    // accounts.dat changed through "apply": subscribers are told ("dataChanged").
    void dataChanged();

private:
    ProgramCore& core_;
};

} // namespace kv
