#pragma once
// What the operator is asked before an action that cuts connected clients
// off: how many are connected and how many of them are moving a file.

#include <QList>
#include <QString>

namespace kv::session {
class ConnectionObject;
}

namespace kv::ui {

enum class Disruption { StopServer, CloseProgram };

struct ClientActivity {
    int clients = 0;
    int transfers = 0;
};

ClientActivity countActivity(const QList<session::ConnectionObject*>& connections);

// The question for `kind`; empty when no client is connected (nothing to ask).
QString disruptionQuestion(Disruption kind, const ClientActivity& activity);

} // namespace kv::ui
