#include "acme/AcmeMessages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kv::acme {

namespace {
const QString kErrorPrefix = QStringLiteral("urn:ietf:params:acme:error:");
}

QString AcmeProblem::shortType() const {
    return type.startsWith(kErrorPrefix) ? type.mid(kErrorPrefix.size()) : type;
}

AcmeProblem problemFromResponse(const QString& step, const AcmeResponse& response) {
    AcmeProblem problem;
    problem.step = step;
    problem.httpStatus = response.status;
    if (response.status == 0) {
        problem.source = AcmeProblem::Source::Transport;
        problem.detail = response.transportError;
        return problem;
    }
    const QJsonObject document = QJsonDocument::fromJson(response.body).object();
    problem.type = document.value(QStringLiteral("type")).toString();
    problem.detail = document.value(QStringLiteral("detail")).toString();
    if (problem.type.isEmpty()) {
        problem.source = AcmeProblem::Source::Answer;
        problem.detail =
            QStringLiteral("risposta HTTP %1 senza descrizione del problema").arg(response.status);
    }
    const QJsonArray subproblems = document.value(QStringLiteral("subproblems")).toArray();
    for (const QJsonValue& value : subproblems) {
        const QJsonObject sub = value.toObject();
        const QString name = sub.value(QStringLiteral("identifier"))
                                 .toObject()
                                 .value(QStringLiteral("value"))
                                 .toString();
        problem.subproblems << name + QStringLiteral(": ") +
                                   sub.value(QStringLiteral("detail")).toString();
    }
    return problem;
}

} // namespace kv::acme
