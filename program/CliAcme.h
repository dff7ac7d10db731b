#pragma once
// kestrova acme renew, and the certificate lines of kestrova status.

#include <QJsonValue>
#include <QTextStream>

namespace kv::cli {

struct Run;

// `acme` as the status answer gives it (null when ACME is off: nothing printed).
void printAcmeStatus(QTextStream& out, const QJsonValue& acme);

// acme renew [--json]: asks the server for a renewal now and waits for the
// outcome; 0 when the certificate was renewed, 1 with the reason otherwise.
int acmeCommand(Run& r);

} // namespace kv::cli
