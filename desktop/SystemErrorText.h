#pragma once
// The operating system's and Qt's English error texts (strerror, socket
// errors) said in Italian where they reach the operator; the log keeps the
// original text. Every place that shows such a text to the operator passes it
// through here.

#include <QString>

namespace kv::shell {

// `text` with each known English error phrase replaced by its Italian one.
QString italianSystemErrors(const QString& text);

} // namespace kv::shell
