// What a fuzz target does when a property does not hold: says which, and ends
// the run as a crash would, so that libFuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>

inline void Require(bool holds, const char* property) {
    if (!holds) {
        fprintf(stderr, "property broken: %s\n", property);
        abort();
    }
}
