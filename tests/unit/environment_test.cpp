#include "environment.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace {

std::vector<std::string> cleaned(std::vector<std::string> original)
{
    std::vector<char*> pointers;
    for (std::string& entry : original)
        pointers.push_back(entry.data());
    std::array<char*, cleanedEnvironmentSize> result{};
    const std::size_t count = cleanEnvironment(pointers, result);
    EXPECT_LT(count, result.size());
    EXPECT_EQ(result.at(count), nullptr);
    return {result.begin(), result.begin() + static_cast<std::ptrdiff_t>(count)};
}

const std::string longestValue(maxKeptValueLength, 'x');

TEST(EnvironmentEntry, KeepsTerminalAndLocaleWithHarmlessValues)
{
    for (std::string_view entry :
         {"TERM=xterm-256color", "LANG=de_DE.UTF-8", "LANGUAGE=de:en", "LC_ALL=C", "LC_MESSAGES=fr_FR.UTF-8",
          "LC_CTYPE=", "TERM=", "LC_IDENTIFICATION=C", "LC_TELEPHONE=sv_SE"})
        EXPECT_TRUE(keepEnvironmentEntry(entry)) << entry;
    EXPECT_TRUE(keepEnvironmentEntry("LC_ALL=" + longestValue));
}

TEST(EnvironmentEntry, DropsEverythingElse)
{
    for (std::string_view entry :
         {"PATH=/tmp", "LD_PRELOAD=x.so", "IFS= ", "ENV=x", "BASH_ENV=x", "SHELLOPTS=xtrace", "HOME=x",
          "POSIXLY_CORRECT=1", "TERMINFO=x", "TERMCAP=x", "LANGX=C", "XLANG=C", "lc_all=C",
          "LC_A LL=C", "TERM", "LC_ALL", "=C", "LC_=C", "LC_X1=C", "LC_ALLX=C", "LC_ALL =C"})
        EXPECT_FALSE(keepEnvironmentEntry(entry)) << entry;
}

TEST(EnvironmentEntry, DropsValuesThatNameFilesHoldFormatsOrRunLong)
{
    for (std::string_view entry : {"TERM=../../tmp/evil", "LANG=/tmp/locale", "LC_ALL=C/x",
                                   "LANGUAGE=%n%n", "LC_TIME=%s"})
        EXPECT_FALSE(keepEnvironmentEntry(entry)) << entry;
    EXPECT_FALSE(keepEnvironmentEntry("LC_IDENTIFICATION=" + longestValue + "x"));
}

TEST(CleanEnvironment, StartsWithTheFixedPathAndKeepsOrder)
{
    EXPECT_EQ(cleaned({"PATH=/home/u/bin", "TERM=vt100", "HOME=/home/u", "LANG=C.UTF-8"}),
              (std::vector<std::string>{"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "TERM=vt100", "LANG=C.UTF-8"}));
    EXPECT_EQ(cleaned({}), (std::vector<std::string>{"PATH=/usr/sbin:/usr/bin:/sbin:/bin"}));
}

TEST(CleanEnvironment, KeepsOnlyTheFirstEntryOfAName)
{
    // A second TERM must not reach a child that reads the last one.
    EXPECT_EQ(cleaned({"TERM=vt100", "TERM=xterm", "LANG=C", "LANG=/tmp/x"}),
              (std::vector<std::string>{"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "TERM=vt100", "LANG=C"}));
    // The caller's PATH never comes through, however often it is given.
    EXPECT_EQ(cleaned({"PATH=/tmp", "PATH=/usr/bin"}),
              (std::vector<std::string>{"PATH=/usr/sbin:/usr/bin:/sbin:/bin"}));
    // A refused entry does not take its name's place.
    EXPECT_EQ(cleaned({"LANG=" + longestValue + "x", "LANG=C"}),
              (std::vector<std::string>{"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LANG=C"}));
}

// The filter reads an entry no further than one byte past the longest kept
// entry could reach: the longest kept name with a value at the cap. Cut any
// shorter, a value a byte or two over the cap, or one whose last byte is
// refused, would look harmless and be kept whole.
TEST(CleanEnvironment, ReadsTheLongestKeptNameFarEnoughToRefuseIt)
{
    const std::string name = "LC_IDENTIFICATION=";
    const std::string shorter(maxKeptValueLength - 1, 'x');
    const std::vector<std::string> pathOnly = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"};
    EXPECT_EQ(cleaned({name + longestValue}),
              (std::vector<std::string>{"PATH=/usr/sbin:/usr/bin:/sbin:/bin", name + longestValue}));
    EXPECT_EQ(cleaned({name + longestValue + "x"}), pathOnly);
    EXPECT_EQ(cleaned({name + longestValue + "xx"}), pathOnly);
    EXPECT_EQ(cleaned({name + shorter + "/"}), pathOnly);
    EXPECT_EQ(cleaned({name + shorter + "%"}), pathOnly);
}

// Whatever the caller piles up, the result fits the fixed array: made-up
// locale names and repeats of real ones are all dropped.
TEST(CleanEnvironment, KeepsAtMostOneEntryOfEachKeptName)
{
    const std::vector<std::string> keptNames = {
        "TERM",        "LANG",         "LANGUAGE",       "LC_ALL",
        "LC_CTYPE",    "LC_NUMERIC",   "LC_TIME",        "LC_COLLATE",
        "LC_MONETARY", "LC_MESSAGES",  "LC_PAPER",       "LC_NAME",
        "LC_ADDRESS",  "LC_TELEPHONE", "LC_MEASUREMENT", "LC_IDENTIFICATION"};
    std::vector<std::string> original;
    std::vector<std::string> expected = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"};
    for (int round = 0; round < 3; ++round)
        for (const std::string& name : keptNames) {
            for (int index = 0; index < 100; ++index)
                original.push_back("LC_X" + std::to_string(original.size()) + "=x");
            original.push_back(name + "=C" + std::to_string(round));
            if (round == 0)
                expected.push_back(name + "=C0");
        }
    EXPECT_EQ(cleaned(original), expected);
}

} // namespace
