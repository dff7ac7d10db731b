#include "window/DisruptionQuestion.h"

#include "session/LoginDecision.h"

namespace kv::ui {

ClientActivity countActivity(const QList<session::ConnectionObject*>& connections) {
    ClientActivity activity;
    for (const session::ConnectionObject* connection : connections) {
        if (!connection)
            continue;
        ++activity.clients;
        if (connection->Activity().direction != session::TransferActivity::Direction::None)
            ++activity.transfers;
    }
    return activity;
}

QString disruptionQuestion(Disruption kind, const ClientActivity& activity) {
    if (activity.clients <= 0)
        return {};
    const QString clients =
        activity.clients == 1 ? QStringLiteral("C'è 1 client connesso")
                              : QStringLiteral("Ci sono %1 client connessi").arg(activity.clients);
    QString transfers;
    if (activity.transfers == 1)
        transfers = QStringLiteral(", con 1 trasferimento in corso");
    else if (activity.transfers > 1)
        transfers = QStringLiteral(", con %1 trasferimenti in corso").arg(activity.transfers);
    const QString cut = activity.transfers > 0
                            ? QStringLiteral("i client verranno disconnessi e i trasferimenti "
                                             "interrotti")
                            : QStringLiteral("i client verranno disconnessi");
    const QString action =
        kind == Disruption::StopServer
            ? QStringLiteral("Arrestando il server %1.\n\nArrestare il server?").arg(cut)
            : QStringLiteral("Chiudendo il programma il server si arresta e %1.\n\n"
                             "Chiudere il programma?")
                  .arg(cut);
    return clients + transfers + QStringLiteral(".\n") + action;
}

} // namespace kv::ui
