#pragma once
// Why a connection or a transfer ended, in Italian for the log: Qt's socket
// errors and the system's error numbers that end a session's or a
// transfer's stream. Short texts, as they follow "incompleto (...)".

#include <QAbstractSocket>
#include <QString>

namespace kv::ftp {

// The text for a client that closed or reset its connection.
QString clientClosedText();
QString socketErrorText(QAbstractSocket::SocketError error);
// An errno value; one without an Italian text gives its number and the
// system's own words.
QString systemErrorText(int error);

} // namespace kv::ftp
