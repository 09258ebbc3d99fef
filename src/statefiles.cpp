#include "statefiles.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace {

// Longer than any line read whole here; longer lines (file names in
// numa_maps, CPU masks of large machines in status) come in pieces, and only
// the piece that starts a line is looked at.
constexpr std::size_t lineSize = 512;

// The column where /proc/self/limits starts a limit's soft value: the
// kernel writes each line as "%-25s %-20s %-20s %-10s".
constexpr std::size_t softLimitColumn = 26;

} // namespace

// Calls `matches` on the start of each line of the file at `path` until it
// returns true; false when none does or the file cannot be read.
template <typename LineTest> static bool findLine(const char* path, LineTest matches)
{
    std::FILE* file = std::fopen(path, "re");
    if (file == nullptr)
        return false;
    char line[lineSize];
    bool atLineStart = true;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, file) != nullptr) {
        const bool startsLine = atLineStart;
        atLineStart = std::strchr(line, '\n') != nullptr;
        line[std::strcspn(line, "\n")] = '\0';
        found = startsLine && matches(static_cast<const char*>(line));
    }
    static_cast<void>(std::fclose(file));
    return found;
}

// Copies `text` into `value` of `size`; false when it does not fit.
static bool copyValue(const char* text, char* value, std::size_t size)
{
    const std::size_t length = std::strlen(text);
    if (length >= size)
        return false;
    std::memcpy(value, text, length + 1);
    return true;
}

bool readStateLine(const char* path, char* line, std::size_t size)
{
    return findLine(path, [&](const char* text) { return copyValue(text, line, size); });
}

bool readStateNumber(const char* path, int base, long long& value)
{
    char line[32];
    if (!readStateLine(path, line, sizeof line))
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(line, &end, base);
    return end != line && *end == '\0' && errno == 0;
}

bool readStateField(const char* path, std::string_view key, char* value, std::size_t size)
{
    return findLine(path, [&](const char* text) {
        if (std::strncmp(text, key.data(), key.size()) != 0)
            return false;
        const char* const afterKey = text + key.size();
        return copyValue(afterKey + std::strspn(afterKey, " \t"), value, size);
    });
}

// "unlimited", or a number.
static bool parseLimitValue(const char* text, rlim_t& value)
{
    if (std::strcmp(text, "unlimited") == 0) {
        value = RLIM_INFINITY;
        return true;
    }
    char* end = nullptr;
    errno = 0;
    value = std::strtoull(text, &end, 10);
    return end != text && *end == '\0' && errno == 0;
}

bool readOwnLimit(int resource, rlimit& limit)
{
    // A heading, then one line per limit in the order of their numbers.
    int lineNumber = -1;
    return findLine("/proc/self/limits", [&](const char* text) {
        if (lineNumber++ != resource || std::strlen(text) <= softLimitColumn)
            return false;
        char soft[24];
        char hard[24];
        return std::sscanf(text + softLimitColumn, "%23s %23s", soft, hard) == 2 &&
               parseLimitValue(soft, limit.rlim_cur) && parseLimitValue(hard, limit.rlim_max);
    });
}

bool readStackMemoryPolicy(char* policy, std::size_t size)
{
    // "ADDRESS POLICY stack ..." for the stack: what the kernel shows for a
    // mapping without a policy of its own is the process's.
    return findLine("/proc/self/numa_maps", [&](const char* text) {
        char shown[64];
        char kind[8];
        return std::sscanf(text, "%*s %63s %7s", shown, kind) == 2 && std::strcmp(kind, "stack") == 0 &&
               copyValue(shown, policy, size);
    });
}

bool kernelLacks(const char* path)
{
    struct stat status = {};
    return stat(path, &status) != 0 && errno == ENOENT && stat("/proc/self/stat", &status) == 0;
}
