#pragma once
// Forward declarations of the program core, for headers that only hold
// references to it.

namespace kv {
class Messages;
class ProgramCore;
} // namespace kv
