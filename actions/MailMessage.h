#pragma once
// The e-mail of one batch: plain text, UTF-8, in Italian, listing each
// event (time, account, address, path, size; for an account's own event the
// account and what happened) under a subject such as
// "Kestrova Vellim: 3 file ricevuti da mario" or
// "Kestrova Vellim: 1 quota quasi esaurita per mario".

#include "actions/ActionEvent.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

namespace kv::actions {

QString batchSubject(const QList<ActionEvent>& events);
QString batchBody(const QList<ActionEvent>& events);

// The whole message (headers and body) as it goes to the server.
QByteArray composeMessage(const QString& from, const QStringList& to, const QString& subject,
                          const QString& body, const QDateTime& date);

} // namespace kv::actions
