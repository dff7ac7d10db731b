#pragma once
// The administration channel's operations on what accounts.dat holds, for
// a window or a command line that edits a copy of it (access/MirrorDatabase):
// "snapshot" (every administered table, secrets masked), "apply" (the
// changes made to the copy, judged row by row with the panels' own checks
// and written in one transaction, or refused whole with the reason) and
// "browse" (the server's folders, and files when asked, for the choosers).

#include "adminchannel/AdminProtocol.h"

#include <QJsonObject>
#include <QObject>
#include <functional>

namespace kv {

class ProgramCore;

class DataOperations : public QObject {
    Q_OBJECT
public:
    // Rereads the settings as the channel's "reload" does and gives its
    // answer ("applied", and "reason" when not).
    using ReloadFn = std::function<QJsonObject()>;

    DataOperations(ProgramCore& core, ReloadFn reload, QObject* parent = nullptr);

    // Whether `op` is one of these operations.
    static bool handles(const QString& op);
    QJsonObject answer(const AdminRequest& request);

    QJsonObject snapshot() const;
    // {"changes": [...], "wholeDisk": bool}; a remote request may not touch
    // rules that run a program unless the server allows it.
    QJsonObject apply(const QJsonObject& body, bool remote);
    // {"path": "/srv"}: the folders in that folder of the server's disk.
    QJsonObject browse(const QJsonObject& body) const;

Q_SIGNALS:
    // accounts.dat changed through "apply": subscribers are told ("dataChanged").
    void dataChanged();

private:
    ProgramCore& core_;
    ReloadFn reload_;
};

} // namespace kv
