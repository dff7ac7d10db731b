#pragma once
// The one check fuzz targets make: a broken rule is named on standard error
// and the run stops, so libFuzzer keeps the input as a reproducer.

#include <cstdio>
#include <cstdlib>

inline void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "broken rule: %s\n", what);
        std::abort();
    }
}
