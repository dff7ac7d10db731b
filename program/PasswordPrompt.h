#pragma once
// Reads one password line from standard input: asked for without echo when
// standard input is a terminal, read as it comes from a pipe otherwise.

#include <QString>
#include <optional>

namespace kv::cli {

// nullopt at end of input.
std::optional<QString> readPasswordLine(const QString& prompt);

} // namespace kv::cli
