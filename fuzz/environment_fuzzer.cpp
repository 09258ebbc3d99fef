// The caller's environment is the other way caller text reaches the root
// configurator. The fuzzer plays the caller: its input is the environment,
// one entry after another, separated by NULs.
#include "environment.h"
#include "fuzzcheck.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string_view>
#include <vector>

// The rule the manual states, written out again here rather than taken from
// the tool, so that a slip in the tool's own filter cannot hide itself.
static bool isTerminalOrLocaleName(std::string_view name)
{
    static const std::set<std::string_view> names = {
        "TERM",        "LANG",         "LANGUAGE",       "LC_ALL",
        "LC_CTYPE",    "LC_NUMERIC",   "LC_TIME",        "LC_COLLATE",
        "LC_MONETARY", "LC_MESSAGES",  "LC_PAPER",       "LC_NAME",
        "LC_ADDRESS",  "LC_TELEPHONE", "LC_MEASUREMENT", "LC_IDENTIFICATION"};
    return names.contains(name);
}

static bool deservesKeeping(std::string_view entry)
{
    const std::size_t equals = entry.find('=');
    if (equals == std::string_view::npos)
        return false;
    const std::string_view value = entry.substr(equals + 1);
    return isTerminalOrLocaleName(entry.substr(0, equals)) && value.size() <= 255 &&
           value.find('/') == std::string_view::npos && value.find('%') == std::string_view::npos;
}

static std::string_view nameOf(std::string_view entry)
{
    return entry.substr(0, entry.find('='));
}

// Each entry gets a heap block of its own, exactly as long as the entry and
// its NUL, so reading past an entry is an AddressSanitizer report instead of
// a quiet look at the next one.
static std::vector<std::unique_ptr<char[]>> splitEntries(std::string_view input)
{
    std::vector<std::unique_ptr<char[]>> entries;
    while (true) {
        const std::size_t end = std::min(input.find('\0'), input.size());
        std::unique_ptr<char[]> entry(new char[end + 1]);
        std::copy_n(input.data(), end, entry.get());
        entry[end] = '\0';
        entries.push_back(std::move(entry));
        if (end == input.size())
            return entries;
        input.remove_prefix(end + 1);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    require(keepEnvironmentEntry(input) == deservesKeeping(input),
            "keepEnvironmentEntry keeps exactly the terminal and locale names, with short values "
            "without '/' or '%'");

    const std::vector<std::unique_ptr<char[]>> entries = splitEntries(input);
    const std::unique_ptr<char*[]> original(new char*[entries.size()]);
    for (std::size_t index = 0; index < entries.size(); ++index)
        original[index] = entries[index].get();

    // Where each name's entry has to come from: its first entry worth keeping.
    std::map<std::string_view, std::size_t> firstKeptOfName;
    for (std::size_t index = 0; index < entries.size(); ++index) {
        const std::string_view entry = original[index];
        const bool kept = keepEnvironmentEntry(entry);
        require(kept == deservesKeeping(entry),
                "keepEnvironmentEntry keeps exactly the terminal and locale names, with short values "
            "without '/' or '%'");
        if (kept)
            firstKeptOfName.emplace(nameOf(entry), index);
    }

    // Exactly the room the header asks for, and an address no entry has, so
    // that a slot the tool forgot to write shows.
    static char unwritten;
    std::array<char*, cleanedEnvironmentSize> cleaned{};
    cleaned.fill(&unwritten);

    const std::size_t count = cleanEnvironment({original.get(), entries.size()}, cleaned);

    require(count >= 1 && count <= entries.size() + 1 && count < cleaned.size(),
            "at most one entry more than the caller gave, and room for the null pointer");
    require(cleaned[count] == nullptr, "the environment ends in a null pointer");
    require(cleaned[0] != nullptr && cleaned[0] != &unwritten && std::string_view(cleaned[0]) == safePathEntry,
            "the environment starts with the fixed PATH");
    require(std::none_of(original.get(), original.get() + entries.size(),
                         [&](const char* entry) { return entry == cleaned[0]; }),
            "the PATH entry is the tool's own text, never the caller's");
    require(count - 1 == firstKeptOfName.size(), "every name worth keeping comes through, once");

    std::set<std::string_view> names{nameOf(cleaned[0])};
    std::size_t previousIndex = 0;
    for (std::size_t position = 1; position < count; ++position) {
        char* const* found =
            std::find(original.get(), original.get() + entries.size(), cleaned[position]);
        require(found != original.get() + entries.size(), "every other entry is one of the caller's own");
        const auto index = static_cast<std::size_t>(found - original.get());
        require(position == 1 || index > previousIndex, "the caller's order is kept");
        previousIndex = index;

        const std::string_view entry = cleaned[position];
        require(keepEnvironmentEntry(entry) && deservesKeeping(entry), "only entries worth keeping are kept");
        require(entry.substr(entry.find('=') + 1).find_first_of("/%") == std::string_view::npos,
                "no value holds '/' or '%'");
        require(names.insert(nameOf(entry)).second, "no two entries share a name");
        const auto first = firstKeptOfName.find(nameOf(entry));
        require(first != firstKeptOfName.end() && first->second == index,
                "a name's entry is its first one worth keeping");
    }
    return 0;
}
