#pragma once
// The one way a fuzz target reports a broken rule: a message and an abort,
// which libFuzzer records as a crash with its reproducer.

#include <cstdio>
#include <cstdlib>

inline void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "broken rule: %s\n", what);
        std::abort();
    }
}
