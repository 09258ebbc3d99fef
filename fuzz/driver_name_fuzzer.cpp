// The driver name is the one piece of caller text that reaches a root shell,
// unquoted, through the change command.
#include "drivername.h"
#include "fuzzcheck.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

// What the manual promises users, written out again here rather than taken
// from the tool, so that a slip in the tool's own check cannot hide itself.
constexpr std::size_t longestHarmlessName = 31;
constexpr std::string_view harmlessNameCharacters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-";

static bool isHarmlessNameCharacter(char character)
{
    return harmlessNameCharacters.find(character) != std::string_view::npos;
}

static bool isHarmlessName(std::string_view name)
{
    return name.size() <= longestHarmlessName && std::ranges::all_of(name, isHarmlessNameCharacter);
}

// A byte the tool never writes on its own, so a command that was not
// terminated, or not cleared, still shows it.
constexpr char untouchedByte = '\x7f';

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view name(reinterpret_cast<const char*>(data), size);

    // Exactly changeCommandSize bytes on the heap: a write past the end is an
    // AddressSanitizer report, not a silently overwritten neighbour.
    const std::unique_ptr<char[]> commandBuffer(new char[changeCommandSize]);
    std::fill_n(commandBuffer.get(), changeCommandSize, untouchedByte);
    const std::span<char, changeCommandSize> command(commandBuffer.get(), changeCommandSize);

    const DriverNameProblem problem = checkDriverName(name);
    const bool accepted = formatChangeCommand(command, name);

    require(accepted == (problem == DriverNameProblem::none),
            "formatChangeCommand accepts exactly the names checkDriverName accepts");
    require(accepted == isHarmlessName(name),
            "a name is accepted exactly when it is at most 31 letters, digits, '.', '_' or '-'");
    require(!describeDriverNameProblem(problem).empty(), "every verdict has a message");

    if (!accepted) {
        require(command[0] == '\0', "a refused name leaves an empty command");
        require(problem != DriverNameProblem::tooLong || name.size() > longestHarmlessName,
                "only a name over 31 characters is too long");
        require(problem != DriverNameProblem::forbiddenCharacter ||
                    !std::ranges::all_of(name, isHarmlessNameCharacter),
                "only a name with a forbidden character is told so");
        return 0;
    }

    require(name.size() <= maxDriverNameLength && maxDriverNameLength == longestHarmlessName,
            "an accepted name is at most 31 characters");
    const std::size_t length = strnlen(commandBuffer.get(), changeCommandSize);
    require(length < changeCommandSize, "the command is zero-terminated inside its buffer");
    require(length == changeCommandPrefix.size() + name.size(),
            "the command is the prefix and the name, and nothing else");
    const std::string_view text(commandBuffer.get(), length);
    require(text.starts_with(changeCommandPrefix), "the command starts with the fixed prefix");
    require(text.substr(changeCommandPrefix.size()) == name, "the name follows the prefix unchanged");
    return 0;
}
