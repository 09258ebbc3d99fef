// The role the roles file gives an account decides who may change the X
// server's driver as root. The fuzzer's first line is the login asked about,
// the rest is the roles file.
#include "fuzzcheck.h"
#include "rolesfile.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

// Login and file each get a heap block of exactly their size, so reading past
// either is an AddressSanitizer report instead of a quiet look at the other.
static std::string_view copyToOwnBlock(std::string_view text, std::unique_ptr<char[]>& block)
{
    block.reset(new char[text.size()]);
    std::copy(text.begin(), text.end(), block.get());
    return {block.get(), text.size()};
}

// A login that can be written as the login of a roles file line at all.
static bool isWritableLogin(std::string_view login)
{
    return !login.empty() && login.front() != '#' && login.find(':') == std::string_view::npos &&
           login.find('\0') == std::string_view::npos;
}

static void checkFoundRole(std::string_view contents, std::string_view login, std::string_view role)
{
    require(isInside(role, contents), "the role points into the roles file");
    require(!role.empty(), "a role is never empty");
    require(role.find('\n') == std::string_view::npos, "a role holds no line break");
    require(role.find('\0') == std::string_view::npos, "a role holds no NUL");
    require(isWritableLogin(login), "only a login a line can name has a role");

    const auto roleStart = static_cast<std::size_t>(role.data() - contents.data());
    const std::size_t previousBreak = contents.substr(0, roleStart).rfind('\n');
    const std::size_t lineStart = previousBreak == std::string_view::npos ? 0 : previousBreak + 1;
    require(roleStart == lineStart + login.size() + 1 && contents.substr(lineStart, login.size()) == login &&
                contents[lineStart + login.size()] == ':',
            "the role's line starts with exactly the login and a colon");

    // Lines from other systems end in "\r\n"; that '\r' is no part of the role.
    const std::size_t lineEnd = std::min(contents.find('\n', roleStart), contents.size());
    const std::string_view line = contents.substr(lineStart, lineEnd - lineStart);
    const std::size_t roleEnd = lineEnd - (line.ends_with('\r') ? 1 : 0);
    require(roleStart + role.size() == roleEnd, "the role runs to the end of its line, less a final '\\r'");
    require(!findRole(contents.substr(0, lineStart), login), "the first line for a login wins");
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t loginEnd = std::min(input.find('\n'), input.size());
    std::unique_ptr<char[]> loginBlock;
    std::unique_ptr<char[]> contentsBlock;
    const std::string_view login = copyToOwnBlock(input.substr(0, loginEnd), loginBlock);
    const std::string_view contents =
        copyToOwnBlock(loginEnd == input.size() ? std::string_view() : input.substr(loginEnd + 1), contentsBlock);

    require(!findRole(contents, ""), "an empty login never matches");

    if (const std::optional<std::string_view> role = findRole(contents, login))
        checkFoundRole(contents, login, *role);

    // Asking for '#' and the login asks for a commented-out line, which gives
    // nobody a role; an administrator comments a line out to take it away.
    std::unique_ptr<char[]> commentedBlock(new char[login.size() + 1]);
    commentedBlock[0] = '#';
    std::copy(login.begin(), login.end(), commentedBlock.get() + 1);
    require(!findRole(contents, {commentedBlock.get(), login.size() + 1}), "a comment line gives no role");

    // A well-formed line put in front wins over whatever the file says.
    if (isWritableLogin(login)) {
        constexpr std::string_view plantedRole = "planted";
        std::unique_ptr<char[]> plantedBlock(new char[login.size() + 1 + plantedRole.size() + 1 + contents.size()]);
        char* end = std::copy(login.begin(), login.end(), plantedBlock.get());
        *end++ = ':';
        end = std::copy(plantedRole.begin(), plantedRole.end(), end);
        *end++ = '\n';
        end = std::copy(contents.begin(), contents.end(), end);
        const std::string_view planted(plantedBlock.get(), static_cast<std::size_t>(end - plantedBlock.get()));
        const std::optional<std::string_view> role = findRole(planted, login);
        require(role && *role == plantedRole && role->data() == planted.data() + login.size() + 1,
                "a login's first well-formed line gives its role");
    }
    return 0;
}
