#pragma once
// Text given on standard input, such as a public key line: all of it from a
// pipe or a file (so a second line is seen and refused), one line typed or
// pasted on a terminal.

#include <QString>

#include <optional>

namespace kv::cli {

// nullopt when standard input gave nothing.
std::optional<QString> readInputText(const QString& prompt);

} // namespace kv::cli
