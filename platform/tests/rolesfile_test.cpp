// Unit tests of the stand-in role library's roles file parser.
#include "rolesfile.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

using namespace std::string_view_literals;

using Role = std::optional<std::string_view>;

TEST(RolesFileLogin, MatchesOnlyTheWholeLoginExactly)
{
    constexpr std::string_view contents = "tavi:short\ntavik:morle\ntavik2:longer\nTAVIK:upper\n";
    EXPECT_EQ(findRole(contents, "tavik"), Role("morle"));
    EXPECT_EQ(findRole(contents, "tavi"), Role("short"));
    EXPECT_EQ(findRole(contents, "tavik2"), Role("longer"));
    EXPECT_EQ(findRole(contents, "Tavik"), std::nullopt);
    EXPECT_EQ(findRole(contents, "tav"), std::nullopt);
    EXPECT_EQ(findRole(contents, "tavik23"), std::nullopt);
    EXPECT_EQ(findRole(contents, " tavik"), std::nullopt);
}

TEST(RolesFileLogin, EmptyLoginNeverMatches)
{
    EXPECT_EQ(findRole(":morle\n", ""), std::nullopt);
    EXPECT_EQ(findRole("tavik:morle\n", ""), std::nullopt);
    EXPECT_EQ(findRole("", ""), std::nullopt);
}

TEST(RolesFileLogin, LoginEndsAtTheFirstColon)
{
    constexpr std::string_view contents = "tavik:morle:extra\n";
    EXPECT_EQ(findRole(contents, "tavik"), Role("morle:extra"));
    EXPECT_EQ(findRole(contents, "tavik:morle"), std::nullopt);
}

TEST(RolesFileRole, IsTheRestOfTheLineUntrimmed)
{
    EXPECT_EQ(findRole("tavik: morle \t\n", "tavik"), Role(" morle \t"));
    EXPECT_EQ(findRole("tavik :morle\n", "tavik"), std::nullopt);
    EXPECT_EQ(findRole("tavik :morle\n", "tavik "), Role("morle"));
}

TEST(RolesFileRole, LastLineNeedsNoLineEnd)
{
    EXPECT_EQ(findRole("tavik:morle", "tavik"), Role("morle"));
    EXPECT_EQ(findRole("other:x\ntavik:morle", "tavik"), Role("morle"));
}

TEST(RolesFileRole, CarriageReturnBeforeTheLineEndIsDropped)
{
    EXPECT_EQ(findRole("tavik:morle\r\n", "tavik"), Role("morle"));
    EXPECT_EQ(findRole("tavik:morle\r", "tavik"), Role("morle"));
    // Only the one that belongs to the line end.
    EXPECT_EQ(findRole("tavik:morle\r\r\n", "tavik"), Role("morle\r"));
    EXPECT_EQ(findRole("tavik:mo\rrle\n", "tavik"), Role("mo\rrle"));
    EXPECT_EQ(findRole("tavik:\r\n", "tavik"), std::nullopt);
}

TEST(RolesFileLines, CommentsAndBlankLinesAreSkipped)
{
    constexpr std::string_view contents = "# tavik:admin\n\n#tavik:admin\n\r\ntavik:morle\n";
    EXPECT_EQ(findRole(contents, "tavik"), Role("morle"));
    EXPECT_EQ(findRole(contents, "#tavik"), std::nullopt);
    EXPECT_EQ(findRole(contents, "# tavik"), std::nullopt);
    // Only a '#' that starts the line makes a comment.
    EXPECT_EQ(findRole(" #tavik:admin\n", " #tavik"), Role("admin"));
}

TEST(RolesFileLines, FirstMatchingLineWins)
{
    EXPECT_EQ(findRole("tavik:morle\ntavik:admin\n", "tavik"), Role("morle"));
    // A malformed line for the login does not hide a later good one.
    EXPECT_EQ(findRole("tavik:\ntavik\ntavik:morle\n", "tavik"), Role("morle"));
}

TEST(RolesFileLines, MalformedLinesNeverMatch)
{
    EXPECT_EQ(findRole("tavik\n", "tavik"), std::nullopt);
    EXPECT_EQ(findRole("tavikmorle\n", "tavikmorle"), std::nullopt);
    EXPECT_EQ(findRole("tavik:\n", "tavik"), std::nullopt);
    EXPECT_EQ(findRole("tavik:", "tavik"), std::nullopt);
    EXPECT_EQ(findRole(":morle\n", ":morle"), std::nullopt);
}

TEST(RolesFileLines, LineHoldingNulNeverMatches)
{
    EXPECT_EQ(findRole("tavik:morle\0junk\n"sv, "tavik"), std::nullopt);
    EXPECT_EQ(findRole("tavik:\0\n"sv, "tavik"), std::nullopt);
    EXPECT_EQ(findRole("tavik\0x:morle\n"sv, "tavik\0x"sv), std::nullopt);
    EXPECT_EQ(findRole("tavik:morle\0"sv, "tavik"), std::nullopt);
    // The NUL spoils only its own line.
    EXPECT_EQ(findRole("other:\0\ntavik:morle\n"sv, "tavik"), Role("morle"));
}

TEST(RolesFileLines, LongLinesAreHandledWhole)
{
    const std::string longRole(100000, 'r');
    const std::string longLogin(100000, 'l');
    const std::string contents = std::string(100000, 'x') + "\ntavik:" + longRole + "\n" + longLogin + ":morle\n";
    EXPECT_EQ(findRole(contents, "tavik"), Role(longRole));
    EXPECT_EQ(findRole(contents, longLogin), Role("morle"));
    EXPECT_EQ(findRole(contents, std::string(99999, 'l')), std::nullopt);
}

// The property the fuzzer checks, over every short text from the characters
// that matter to the format: a role returned sits inside the text, right
// after "login:" at the start of a line, and runs to that line's end.
static bool isRoleOnLineOfLogin(std::string_view contents, std::string_view loginName, std::string_view role)
{
    if (role.empty() || role.data() < contents.data() || role.data() + role.size() > contents.data() + contents.size()) {
        return false;
    }
    const std::size_t roleStart = static_cast<std::size_t>(role.data() - contents.data());
    const std::size_t roleEnd = roleStart + role.size();
    if (roleStart < loginName.size() + 1) {
        return false;
    }
    const std::size_t lineStart = roleStart - loginName.size() - 1;
    const bool startsLine = lineStart == 0 || contents[lineStart - 1] == '\n';
    const bool holdsLogin = contents.substr(lineStart, loginName.size()) == loginName && contents[roleStart - 1] == ':';
    const std::string_view rest = contents.substr(roleEnd);
    const bool endsLine = rest.empty() || rest.starts_with('\n') || rest == "\r" || rest.starts_with("\r\n");
    const std::string_view line = contents.substr(lineStart, roleEnd - lineStart);
    return startsLine && holdsLogin && endsLine && line.find('\n') == std::string_view::npos
        && line.find('\0') == std::string_view::npos;
}

TEST(RolesFileProperty, ReturnsOnlyRolesOnLinesForThatLogin)
{
    constexpr std::string_view alphabet = "a:\n\r#\0"sv;
    constexpr std::size_t maxLength = 7;
    std::string contents;
    std::size_t matches = 0;
    // Counts through every text up to maxLength characters like an odometer.
    for (std::size_t length = 0; length <= maxLength; ++length) {
        std::string digits(length, 0);
        for (;;) {
            contents.resize(length);
            for (std::size_t index = 0; index < length; ++index) {
                contents[index] = alphabet[static_cast<unsigned char>(digits[index])];
            }
            for (const std::string_view loginName : {"a"sv, "aa"sv, "a:"sv}) {
                const Role role = findRole(contents, loginName);
                if (role) {
                    ++matches;
                    ASSERT_TRUE(isRoleOnLineOfLogin(contents, loginName, *role))
                        << "login " << testing::PrintToString(std::string(loginName)) << " in "
                        << testing::PrintToString(contents);
                }
            }
            std::size_t position = 0;
            while (position < length && ++digits[position] == static_cast<char>(alphabet.size())) {
                digits[position++] = 0;
            }
            if (position == length) {
                break;
            }
        }
    }
    EXPECT_GT(matches, 0u);
}
