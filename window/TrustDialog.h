#pragma once
// The questions a remote window puts to the operator about the server it
// connects to: a first connection's fingerprint (and where to read it on
// the server to compare), a certificate that changed (both fingerprints,
// nothing done until the operator decides), and a password the server refused.

#include "adminchannel/RemoteAdmin.h"

#include <optional>

class QWidget;

namespace kv::ui {

// Where the operator reads the fingerprint on the server.
QString whereToReadFingerprint();
QString firstTrustText(const RemoteServerAddress& server, const QString& seen);
QString changedTrustText(const RemoteServerAddress& server, const QString& known,
                         const QString& seen);

// True when the operator trusts `seen` for `server`.
bool askTrustFirst(QWidget* parent, const RemoteServerAddress& server, const QString& seen);
// True when the operator chose "Fidati del nuovo certificato".
bool askTrustChanged(QWidget* parent, const RemoteServerAddress& server, const QString& known,
                     const QString& seen);
// A new password after `reason`; nullopt when the operator gave up.
std::optional<QString> askPasswordAgain(QWidget* parent, const RemoteServerAddress& server,
                                        const QString& reason);

} // namespace kv::ui
