#include "environment.h"

#include <algorithm>
#include <array>
#include <cstring>

static constexpr auto keptNames = std::to_array<std::string_view>({
    "TERM",        "LANG",         "LANGUAGE",       "LC_ALL",
    "LC_CTYPE",    "LC_NUMERIC",   "LC_TIME",        "LC_COLLATE",
    "LC_MONETARY", "LC_MESSAGES",  "LC_PAPER",       "LC_NAME",
    "LC_ADDRESS",  "LC_TELEPHONE", "LC_MEASUREMENT", "LC_IDENTIFICATION",
});
static_assert(keptNames.size() == keptNameCount);

static constexpr std::size_t longestKeptEntry = [] {
    std::size_t longestName = 0;
    for (const std::string_view name : keptNames)
        longestName = std::max(longestName, name.size());
    return longestName + 1 + maxKeptValueLength;
}();

// The entry's place in keptNames, or keptNames.size() for an entry not worth
// keeping. Views are cut by hand rather than with substr, whose range check
// would pull the C++ runtime library into a root process.
static std::size_t keptNamePosition(std::string_view entry)
{
    const std::size_t equals = entry.find('=');
    if (equals == std::string_view::npos)
        return keptNames.size();
    std::string_view value = entry;
    value.remove_prefix(equals + 1);
    if (value.size() > maxKeptValueLength || value.find_first_of("/%") != std::string_view::npos)
        return keptNames.size();
    const std::string_view name(entry.data(), equals);
    return static_cast<std::size_t>(std::ranges::find(keptNames, name) - keptNames.begin());
}

bool keepEnvironmentEntry(std::string_view entry)
{
    return keptNamePosition(entry) < keptNames.size();
}

// The configurator's environment is fixed text the tool owns, apart from
// the caller's own entries it chose to keep.
static auto pathEntry = [] {
    std::array<char, safePathEntry.size() + 1> entry{};
    std::copy(safePathEntry.begin(), safePathEntry.end(), entry.begin());
    return entry;
}();

std::size_t cleanEnvironment(std::span<char* const> original,
                             std::span<char*, cleanedEnvironmentSize> cleaned)
{
    // One flag a name, rather than a look at every entry kept so far: the
    // caller chooses how many entries there are, and we may be root.
    std::array<bool, keptNames.size()> seen{};
    std::size_t kept = 0;
    cleaned[kept++] = pathEntry.data();
    for (char* entry : original) {
        // An entry cut off one byte past the longest kept one is refused
        // like the whole would be, without reading the rest of it.
        const std::size_t position =
            keptNamePosition({entry, strnlen(entry, longestKeptEntry + 1)});
        if (position == keptNames.size() || seen[position])
            continue;
        seen[position] = true;
        cleaned[kept++] = entry;
    }
    cleaned[kept] = nullptr;
    return kept;
}
