#pragma once
// The operator's explanation of a failed ACME attempt, in Italian: what
// went wrong, its likely cause and what to do, chosen from the CA's problem
// type (or the transport's failure) and the settings the attempt used.

#include "acme/AcmeMessages.h"

#include <QString>
#include <QStringList>

namespace kv {

struct AcmeAttemptContext {
    QString challengeType; // "http-01" or "tls-alpn-01"
    quint16 challengePort = 0;
    QStringList domains;
    QString caFileOption; // the acme_ca_file as written, empty when none
};

QString explainAcmeProblem(const acme::AcmeProblem& problem, const AcmeAttemptContext& context);

// The challenge listener could not open its port; `reason` is its own
// Italian words (naming the program holding it when the system says).
QString explainChallengePortBusy(const QString& reason, const AcmeAttemptContext& context);

} // namespace kv
