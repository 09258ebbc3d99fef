#include "drivername.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

std::string formatted(std::string_view name, bool* accepted = nullptr)
{
    std::array<char, changeCommandSize> command;
    command.fill('X');
    const bool result = formatChangeCommand(command, name);
    if (accepted != nullptr)
        *accepted = result;
    return command.data();
}

TEST(DriverName, AcceptsPlainNamesUpToTheLimit)
{
    for (std::string_view name : {"vesa", "fbdev", "nvidia-470.xx", "Intel_HD", "-l", "..", ""})
        EXPECT_EQ(checkDriverName(name), DriverNameProblem::none) << name;
    EXPECT_EQ(checkDriverName(std::string(31, 'a')), DriverNameProblem::none);
}

// Each allowed range reaches to its ends and not a character past them.
TEST(DriverName, AcceptsEachRangeToItsEndsAndNotPast)
{
    for (const char character : {'A', 'Z', 'a', 'z', '0', '9', '.', '_', '-'})
        EXPECT_EQ(checkDriverName(std::string("vesa") + character), DriverNameProblem::none) << character;
    for (const char character : {'@', '[', '`', '{', '/', ':', ',', '^'})
        EXPECT_EQ(checkDriverName(std::string("vesa") + character), DriverNameProblem::forbiddenCharacter)
            << character;
}

TEST(DriverName, RefusesOverlongNamesBeforeLookingAtCharacters)
{
    EXPECT_EQ(checkDriverName(std::string(32, 'a')), DriverNameProblem::tooLong);
    EXPECT_EQ(checkDriverName(std::string(40, ';')), DriverNameProblem::tooLong);
    EXPECT_NE(describeDriverNameProblem(DriverNameProblem::tooLong).find("31 characters"),
              std::string_view::npos);
}

TEST(DriverName, RefusesEveryCharacterTheShellOrTerminalCouldActOn)
{
    for (std::string_view name : {"a b", "a;reboot", "$(id)", "`id`", "a|b", "a&", "a>b", "a<b", "'a'",
                                  "\"a\"", "a\\b", "a*", "a?", "~root", "a/b", "a\tb", "a\nb", "\x1b[2J",
                                  "a#b", "a=b", "{a,b}", "a!", "caf\xc3\xa9"})
        EXPECT_EQ(checkDriverName(name), DriverNameProblem::forbiddenCharacter) << name;
    EXPECT_EQ(checkDriverName(std::string_view("ve\0sa", 5)), DriverNameProblem::forbiddenCharacter);
}

TEST(ChangeCommand, IsTheFixedTextFollowedByTheName)
{
    EXPECT_EQ(formatted("fbdev"), "/opt/qtr/bin/dispconfig -o m -d fbdev");
    EXPECT_EQ(formatted("-l"), "/opt/qtr/bin/dispconfig -o m -d -l");
    EXPECT_EQ(formatted(""), "/opt/qtr/bin/dispconfig -o m -d ");
}

TEST(ChangeCommand, ALongestNameFillsTheBufferExactly)
{
    const std::string command = formatted(std::string(31, 'z'));
    EXPECT_EQ(command.size(), 63u);
    EXPECT_EQ(command, "/opt/qtr/bin/dispconfig -o m -d " + std::string(31, 'z'));
}

TEST(ChangeCommand, ARefusedNameYieldsNoCommand)
{
    bool accepted = true;
    EXPECT_EQ(formatted(std::string(32, 'z'), &accepted), "");
    EXPECT_FALSE(accepted);
    EXPECT_EQ(formatted("vesa; reboot", &accepted), "");
    EXPECT_FALSE(accepted);
}

} // namespace
