// What every fuzz target shares.
#pragma once

#include <cstdio>
#include <cstdlib>

// A broken property has to end the run the way a sanitizer report does, so
// that libFuzzer keeps the input that broke it; the log says which one it was.
inline void require(bool holds, const char* property)
{
    if (holds)
        return;
    std::fprintf(stderr, "fuzz property broken: %s\n", property);
    std::abort();
}
