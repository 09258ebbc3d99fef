// What every fuzz target shares.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

// A broken property has to end the run the way a sanitizer report does, so
// that libFuzzer keeps the input that broke it; the log says which one it was.
inline void require(bool holds, const char* property)
{
    if (holds)
        return;
    std::fprintf(stderr, "fuzz property broken: %s\n", property);
    std::abort();
}

// True when `part` lies wholly within `whole`: a parser may only hand back
// views into the text it was given.
inline bool isInside(std::string_view part, std::string_view whole)
{
    const auto partStart = reinterpret_cast<std::uintptr_t>(part.data());
    const auto wholeStart = reinterpret_cast<std::uintptr_t>(whole.data());
    return partStart >= wholeStart && partStart - wholeStart <= whole.size() &&
           part.size() <= whole.size() - (partStart - wholeStart);
}
