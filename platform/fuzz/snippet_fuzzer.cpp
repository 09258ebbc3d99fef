// The stand-in configurator reads back, as root, a snippet anyone with write
// access to the configuration directory may have edited, and writes the
// snippet for a name that arrived on its command line.
#include "driverconfig.h"
#include "fuzzcheck.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

// The rule the header states, written out again here rather than taken from
// the stand-in, so that a slip in its own check cannot hide itself.
constexpr std::size_t longestPlainName = 63;
constexpr std::string_view plainNameCharacters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-";

static bool isPlainName(std::string_view name)
{
    return !name.empty() && name.size() <= longestPlainName && name.front() != '.' &&
           std::ranges::all_of(name, [](char character) {
               return plainNameCharacters.find(character) != std::string_view::npos;
           });
}

static void checkReadDriver(std::string_view snippet)
{
    const std::optional<std::string_view> driver = readDefaultDriver(snippet);
    if (!driver)
        return;
    require(isInside(*driver, snippet), "the driver read points into the snippet");
    require(isPlainDriverName(*driver) && isPlainName(*driver), "only a plain driver name is read");
    const auto start = static_cast<std::size_t>(driver->data() - snippet.data());
    require(start > 0 && snippet[start - 1] == '"' && start + driver->size() < snippet.size() &&
                snippet[start + driver->size()] == '"',
            "the driver read stood between quotes");
}

// Each buffer is a heap block of exactly the size handed over, so a write past
// it is an AddressSanitizer report.
static void checkFormatting(std::string_view driver)
{
    const std::unique_ptr<char[]> roomy(new char[snippetCapacity]);
    const std::optional<std::size_t> length = formatSnippet({roomy.get(), snippetCapacity}, driver);
    require(length.has_value() == isPlainName(driver),
            "every plain name and nothing else makes a snippet of at most snippetCapacity");
    if (!length)
        return;
    require(*length <= snippetCapacity, "the snippet fits the buffer");
    const std::string_view snippet(roomy.get(), *length);
    require(readDefaultDriver(snippet) == driver, "the snippet written reads back as the same driver");

    const std::unique_ptr<char[]> exact(new char[*length]);
    require(formatSnippet({exact.get(), *length}, driver) == length &&
                std::string_view(exact.get(), *length) == snippet,
            "a buffer of exactly the snippet's size takes the same snippet");
    const std::unique_ptr<char[]> tooSmall(new char[*length - 1]);
    require(!formatSnippet({tooSmall.get(), *length - 1}, driver), "a snippet that does not fit is refused");
}

// Most inputs are no plain name at all; this turns any input into one, so the
// round trip sees plain names of every length and character.
static std::string_view plainNameFrom(std::string_view input, std::span<char, longestPlainName> room)
{
    const std::size_t length = 1 + static_cast<unsigned char>(input.front()) % longestPlainName;
    for (std::size_t index = 0; index < length; ++index) {
        const auto byte = static_cast<unsigned char>(input[(index + 1) % input.size()]);
        room[index] = plainNameCharacters[byte % plainNameCharacters.size()];
    }
    if (room[0] == '.')
        room[0] = '_';
    return {room.data(), length};
}

// A snippet of ours in front of the input: the input starts on a fresh line,
// with no section open, as if the prefix had not been there.
static std::optional<std::string_view> readDriverAfter(std::string_view prefix, std::string_view snippet)
{
    const std::unique_ptr<char[]> joined(new char[prefix.size() + snippet.size()]);
    std::copy(snippet.begin(), snippet.end(), std::copy(prefix.begin(), prefix.end(), joined.get()));
    const std::optional<std::string_view> driver = readDefaultDriver({joined.get(), prefix.size() + snippet.size()});
    if (!driver)
        return std::nullopt;
    // The joined text goes when this returns, so the same text is handed back
    // as a view into the caller's own.
    const auto start = static_cast<std::size_t>(driver->data() - joined.get());
    if (start >= prefix.size())
        return snippet.substr(start - prefix.size(), driver->size());
    return prefix.substr(start, driver->size());
}

static void checkSections(std::string_view snippet)
{
    const std::optional<std::string_view> driver = readDefaultDriver(snippet);
    constexpr std::string_view driversOutsideDevices = "Driver \"planted\"\n"
                                                       "Section \"InputDevice\"\n\tDriver \"planted\"\nEndSection\n"
                                                       "Section \"Device\"\nEndSection\n\tDriver \"planted\"\n";
    require(readDriverAfter(driversOutsideDevices, snippet) == driver,
            "a Driver entry outside a Device section chooses nothing");
    require(readDriverAfter("Section \"Device\"\n\tDriver \"planted\"\nEndSection\n", snippet) == "planted",
            "the first Device section's driver wins");
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    require(isPlainDriverName(input) == isPlainName(input),
            "a plain name is 1 to 63 letters, digits, '.', '_' or '-', not starting with '.'");
    if (const std::optional<std::string_view> driver = driverFromModuleFileName(input)) {
        require(isPlainName(*driver) && input.size() == driver->size() + 7 && input.data() == driver->data() &&
                    input.ends_with("_drv.so"),
                "a module file NAME_drv.so gives the plain driver NAME");
    }

    checkReadDriver(input);
    checkSections(input);
    checkFormatting(input);
    if (!input.empty()) {
        char room[longestPlainName];
        checkFormatting(plainNameFrom(input, room));
    }
    return 0;
}
