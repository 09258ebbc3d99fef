// Unit tests of the stand-in display configurator's driver names and
// configuration snippet.
#include "driverconfig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

using namespace std::string_view_literals;

using Driver = std::optional<std::string_view>;

TEST(DriverName, AcceptsPlainNames)
{
    for (const std::string_view name : {"vesa"sv, "modesetting"sv, "nv-legacy_2.1"sv, "A"sv, "9"sv, "-x"sv}) {
        EXPECT_TRUE(isPlainDriverName(name)) << name;
    }
    EXPECT_TRUE(isPlainDriverName(std::string(maxDriverNameLength, 'v')));
}

TEST(DriverName, RejectsNamesThatAreNotPlain)
{
    for (const std::string_view name : {""sv, "."sv, ".."sv, ".hidden"sv, "../vesa"sv, "a/b"sv, "a b"sv,
                                        "a\"b"sv, "a\nb"sv, "a\0b"sv, "vesa\0"sv, "caf\xc3\xa9"sv, "a:b"sv}) {
        EXPECT_FALSE(isPlainDriverName(name)) << testing::PrintToString(std::string(name));
    }
    EXPECT_FALSE(isPlainDriverName(std::string(maxDriverNameLength + 1, 'v')));
}

TEST(ModuleFileName, GivesTheDriverOfEachModule)
{
    EXPECT_EQ(driverFromModuleFileName("vesa_drv.so"), Driver("vesa"));
    EXPECT_EQ(driverFromModuleFileName("nv-legacy_2.1_drv.so"), Driver("nv-legacy_2.1"));
    EXPECT_EQ(driverFromModuleFileName("a_drv.so_drv.so"), Driver("a_drv.so"));
}

TEST(ModuleFileName, IgnoresOtherFiles)
{
    for (const std::string_view fileName :
         {""sv, "_drv.so"sv, "vesa.so"sv, "vesa_drv.so.1"sv, "vesa_drv.so~"sv, "vesa_drv.a"sv, "VESA_DRV.SO"sv,
          "vesa_drv"sv, "drv.so"sv, ".hidden_drv.so"sv, "a b_drv.so"sv, "a\0b_drv.so"sv, "libvesa.so"sv}) {
        EXPECT_EQ(driverFromModuleFileName(fileName), std::nullopt) << testing::PrintToString(std::string(fileName));
    }
    EXPECT_EQ(driverFromModuleFileName(std::string(maxDriverNameLength + 1, 'v') + "_drv.so"), std::nullopt);
}

static std::string formattedSnippet(std::string_view driver)
{
    std::array<char, snippetCapacity> buffer{};
    const std::optional<std::size_t> length = formatSnippet(buffer, driver);
    return length ? std::string(buffer.data(), *length) : std::string("<does not fit>");
}

TEST(Snippet, IsTheDeviceSectionTheXServerReads)
{
    EXPECT_EQ(formattedSnippet("vesa"),
              "# Written by dispconfig: the default graphics driver for the next X server start.\n"
              "Section \"Device\"\n"
              "\tIdentifier \"Default graphics device\"\n"
              "\tDriver \"vesa\"\n"
              "EndSection\n");
}

TEST(Snippet, ReadsBackTheDriverItWasWrittenFor)
{
    const std::string longest(maxDriverNameLength, 'v');
    for (const std::string_view driver : {"vesa"sv, "nv-legacy_2.1"sv, "x"sv, std::string_view(longest)}) {
        EXPECT_EQ(readDefaultDriver(formattedSnippet(driver)), Driver(driver));
    }
}

TEST(Snippet, RefusesNamesThatAreNotPlain)
{
    std::array<char, snippetCapacity> buffer{};
    for (const std::string_view driver : {""sv, "vesa\"\n\tDriver \"evil"sv, "a b"sv, ".x"sv}) {
        EXPECT_EQ(formatSnippet(buffer, driver), std::nullopt) << driver;
    }
}

TEST(Snippet, NeverWritesPastASmallBuffer)
{
    const std::string expected = formattedSnippet("vesa");
    constexpr char untouched = '\x7f';
    std::array<char, snippetCapacity + 1> buffer{};
    for (std::size_t size = 0; size < expected.size(); ++size) {
        buffer.fill(untouched);
        EXPECT_EQ(formatSnippet(std::span(buffer).first(size), "vesa"), std::nullopt) << size;
        EXPECT_TRUE(std::ranges::all_of(std::span(buffer).subspan(size), [](char c) { return c == untouched; }))
            << size;
    }
    buffer.fill(untouched);
    EXPECT_EQ(formatSnippet(std::span(buffer).first(expected.size()), "vesa"), expected.size());
    EXPECT_EQ(std::string_view(buffer.data(), expected.size()), expected);
    EXPECT_EQ(buffer[expected.size()], untouched);
}

TEST(DefaultDriver, KeywordsIgnoreCaseAndLeadingBlanks)
{
    EXPECT_EQ(readDefaultDriver("section \"device\"\n driver \"vesa\"\nendsection\n"), Driver("vesa"));
    EXPECT_EQ(readDefaultDriver("SECTION \"DEVICE\"\n\t\tDRIVER \"vesa\"\nENDSECTION\n"), Driver("vesa"));
    EXPECT_EQ(readDefaultDriver("  \tSection   \"Device\"\n  Driver\t\"vesa\"\n  EndSection"), Driver("vesa"));
}

TEST(DefaultDriver, DriverNameKeepsItsCase)
{
    EXPECT_EQ(readDefaultDriver("Section \"Device\"\nDriver \"VeSa\"\nEndSection\n"), Driver("VeSa"));
}

TEST(DefaultDriver, AcceptsCrlfAndTrailingComments)
{
    EXPECT_EQ(readDefaultDriver("Section \"Device\"\r\n\tDriver \"vesa\"\r\nEndSection\r\n"), Driver("vesa"));
    EXPECT_EQ(readDefaultDriver("Section \"Device\" # main card\nDriver \"vesa\" # safe\nEndSection\n"),
              Driver("vesa"));
}

TEST(DefaultDriver, DriverOutsideADeviceSectionIsIgnored)
{
    EXPECT_EQ(readDefaultDriver("Driver \"vesa\"\n"), std::nullopt);
    EXPECT_EQ(readDefaultDriver("Section \"Device\"\nEndSection\nDriver \"vesa\"\n"), std::nullopt);
    EXPECT_EQ(readDefaultDriver("Section \"InputDevice\"\nDriver \"libinput\"\nEndSection\n"), std::nullopt);
    EXPECT_EQ(readDefaultDriver("Section \"Devices\"\nDriver \"vesa\"\nEndSection\n"), std::nullopt);
    EXPECT_EQ(readDefaultDriver("Section Device\nDriver \"vesa\"\nEndSection\n"), std::nullopt);
    EXPECT_EQ(readDefaultDriver("Section \"InputDevice\"\nDriver \"libinput\"\nEndSection\n"
                                "Section \"Device\"\nDriver \"vesa\"\nEndSection\n"),
              Driver("vesa"));
}

TEST(DefaultDriver, CommentedOutDriverIsIgnored)
{
    EXPECT_EQ(readDefaultDriver("Section \"Device\"\n# Driver \"nv\"\n#Driver \"nv\"\nDriver \"vesa\"\nEndSection\n"),
              Driver("vesa"));
    EXPECT_EQ(readDefaultDriver("Section \"Device\"\n\t# Driver \"nv\"\nEndSection\n"), std::nullopt);
}

TEST(DefaultDriver, DriverWithoutBothQuotesIsIgnored)
{
    for (const std::string_view entry : {"Driver vesa"sv, "Driver \"vesa"sv, "Driver vesa\""sv, "Driver"sv,
                                         "Driver \"\""sv}) {
        const std::string snippet = "Section \"Device\"\n" + std::string(entry) + "\nEndSection\n";
        EXPECT_EQ(readDefaultDriver(snippet), std::nullopt) << entry;
    }
}

TEST(DefaultDriver, OnlyAPlainNameIsReturned)
{
    for (const std::string_view entry : {"Driver \"../vesa\""sv, "Driver \"a b\""sv, "Driver \"vesa\" \"nv\""sv,
                                         "Driver \"vesa\" junk"sv, "Driver \"ve\0sa\""sv, "DriverX \"vesa\""sv}) {
        const std::string snippet = "Section \"Device\"\n" + std::string(entry) + "\nEndSection\n";
        EXPECT_EQ(readDefaultDriver(snippet), std::nullopt) << testing::PrintToString(std::string(entry));
    }
}

TEST(DefaultDriver, FirstPlainDriverWins)
{
    EXPECT_EQ(readDefaultDriver("Section \"Device\"\nDriver \"vesa\"\nDriver \"nv\"\nEndSection\n"), Driver("vesa"));
    EXPECT_EQ(readDefaultDriver("Section \"Device\"\nDriver \"vesa\"\nEndSection\n"
                                "Section \"Device\"\nDriver \"nv\"\nEndSection\n"),
              Driver("vesa"));
    EXPECT_EQ(readDefaultDriver("Section \"Device\"\nDriver \"bad name\"\nDriver \"nv\"\nEndSection\n"),
              Driver("nv"));
}

TEST(DefaultDriver, NothingInTextWithoutDriver)
{
    EXPECT_EQ(readDefaultDriver(""), std::nullopt);
    EXPECT_EQ(readDefaultDriver("\n\n"), std::nullopt);
    EXPECT_EQ(readDefaultDriver("Section \"Device\"\n\tIdentifier \"card\"\nEndSection\n"), std::nullopt);
    EXPECT_EQ(readDefaultDriver("Section \"Device\"\nDriver \""), std::nullopt);
}

TEST(DefaultDriver, ResultPointsIntoTheText)
{
    const std::string snippet = formattedSnippet("vesa");
    const Driver driver = readDefaultDriver(snippet);
    ASSERT_TRUE(driver);
    EXPECT_GE(driver->data(), snippet.data());
    EXPECT_LE(driver->data() + driver->size(), snippet.data() + snippet.size());
}
