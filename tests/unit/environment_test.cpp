#include "environment.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> cleaned(std::vector<std::string> original)
{
    std::vector<char*> pointers;
    for (std::string& entry : original)
        pointers.push_back(entry.data());
    std::vector<char*> result(pointers.size() + 2, nullptr);
    const std::size_t count = cleanEnvironment(pointers, result);
    EXPECT_EQ(result[count], nullptr);
    return {result.begin(), result.begin() + static_cast<std::ptrdiff_t>(count)};
}

TEST(EnvironmentEntry, KeepsTerminalAndLocaleWithHarmlessValues)
{
    for (std::string_view entry : {"TERM=xterm-256color", "LANG=de_DE.UTF-8", "LANGUAGE=de:en",
                                   "LC_ALL=C", "LC_MESSAGES=fr_FR.UTF-8", "LC_CTYPE=", "TERM="})
        EXPECT_TRUE(keepEnvironmentEntry(entry)) << entry;
}

TEST(EnvironmentEntry, DropsEverythingElse)
{
    for (std::string_view entry :
         {"PATH=/tmp", "LD_PRELOAD=x.so", "IFS= ", "ENV=x", "BASH_ENV=x", "SHELLOPTS=xtrace", "HOME=x",
          "POSIXLY_CORRECT=1", "TERMINFO=x", "TERMCAP=x", "LANGX=C", "XLANG=C", "lc_all=C",
          "LC_A LL=C", "TERM", "LC_ALL", "=C"})
        EXPECT_FALSE(keepEnvironmentEntry(entry)) << entry;
}

TEST(EnvironmentEntry, DropsValuesThatNameFilesOrHoldFormats)
{
    for (std::string_view entry : {"TERM=../../tmp/evil", "LANG=/tmp/locale", "LC_ALL=C/x",
                                   "LANGUAGE=%n%n", "LC_TIME=%s"})
        EXPECT_FALSE(keepEnvironmentEntry(entry)) << entry;
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
}

} // namespace
