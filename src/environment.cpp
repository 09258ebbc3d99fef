#include "environment.h"

#include <algorithm>
#include <array>
#include <cassert>

// Views are cut by hand rather than with substr, whose range check would
// pull the C++ runtime library into a root process.
static std::string_view entryName(std::string_view entry)
{
    return {entry.data(), std::min(entry.find('='), entry.size())};
}

static bool isKeptName(std::string_view name)
{
    static constexpr std::array keptNames = {std::string_view("TERM"), std::string_view("LANG"),
                                             std::string_view("LANGUAGE")};
    if (std::find(keptNames.begin(), keptNames.end(), name) != keptNames.end())
        return true;
    if (!name.starts_with("LC_"))
        return false;
    return std::all_of(name.begin(), name.end(), [](char character) {
        return (character >= 'A' && character <= 'Z') || (character >= 'a' && character <= 'z') ||
               (character >= '0' && character <= '9') || character == '_';
    });
}

bool keepEnvironmentEntry(std::string_view entry)
{
    const std::size_t equals = entry.find('=');
    if (equals == std::string_view::npos)
        return false;
    std::string_view value = entry;
    value.remove_prefix(equals + 1);
    return isKeptName(entryName(entry)) && value.find_first_of("/%") == std::string_view::npos;
}

// The configurator's environment is fixed text the tool owns, apart from
// the caller's own entries it chose to keep.
static auto pathEntry = [] {
    std::array<char, safePathEntry.size() + 1> entry{};
    std::copy(safePathEntry.begin(), safePathEntry.end(), entry.begin());
    return entry;
}();

std::size_t cleanEnvironment(std::span<char* const> original, std::span<char*> cleaned)
{
    assert(cleaned.size() >= original.size() + 2);
    std::size_t kept = 0;
    cleaned[kept++] = pathEntry.data();
    for (char* entry : original) {
        if (!keepEnvironmentEntry(entry))
            continue;
        const std::string_view name = entryName(entry);
        const auto sameName = [name](const char* keptEntry) { return entryName(keptEntry) == name; };
        if (std::ranges::none_of(cleaned.first(kept), sameName))
            cleaned[kept++] = entry;
    }
    cleaned[kept] = nullptr;
    return kept;
}
