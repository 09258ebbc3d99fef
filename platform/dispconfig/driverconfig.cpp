#include "driverconfig.h"

#include "textlines.h"

#include <algorithm>
#include <array>

static constexpr std::string_view moduleSuffix = "_drv.so";

static constexpr std::string_view snippetHead =
    "# Written by dispconfig: the default graphics driver for the next X server start.\n"
    "Section \"Device\"\n"
    "\tIdentifier \"Default graphics device\"\n"
    "\tDriver \"";
static constexpr std::string_view snippetTail =
    "\"\n"
    "EndSection\n";

static_assert(snippetHead.size() + maxDriverNameLength + snippetTail.size() <= snippetCapacity);

static bool isDriverNameCharacter(char character)
{
    return (character >= 'a' && character <= 'z') || (character >= 'A' && character <= 'Z')
        || (character >= '0' && character <= '9') || character == '.' || character == '_'
        || character == '-';
}

bool isPlainDriverName(std::string_view name)
{
    // A leading dot would make "." and ".." names, and hidden files modules.
    if (name.empty() || name.size() > maxDriverNameLength || name.front() == '.') {
        return false;
    }
    return std::ranges::all_of(name, isDriverNameCharacter);
}

std::optional<std::string_view> driverFromModuleFileName(std::string_view fileName)
{
    if (!fileName.ends_with(moduleSuffix)) {
        return std::nullopt;
    }
    fileName.remove_suffix(moduleSuffix.size());
    if (!isPlainDriverName(fileName)) {
        return std::nullopt;
    }
    return fileName;
}

static bool isBlank(char character)
{
    return character == ' ' || character == '\t' || character == '\r' || character == '\v'
        || character == '\f';
}

static void skipBlanks(std::string_view& text)
{
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
}

// Locale-independent, as the X server reads its configuration the same way
// whatever the locale.
static char toLowerAscii(char character)
{
    return (character >= 'A' && character <= 'Z') ? static_cast<char>(character - 'A' + 'a') : character;
}

static bool equalsIgnoringCase(std::string_view text, std::string_view keyword)
{
    return std::ranges::equal(text, keyword, [](char left, char right) {
        return toLowerAscii(left) == toLowerAscii(right);
    });
}

static std::string_view takeKeyword(std::string_view& text)
{
    skipBlanks(text);
    std::size_t length = 0;
    while (length < text.size() && !isBlank(text[length]) && text[length] != '"' && text[length] != '#') {
        ++length;
    }
    const std::string_view keyword{text.data(), length};
    text.remove_prefix(length);
    return keyword;
}

// Nothing when either quote is missing.
static std::optional<std::string_view> takeQuoted(std::string_view& text)
{
    skipBlanks(text);
    if (text.empty() || text.front() != '"') {
        return std::nullopt;
    }
    const std::size_t closingQuote = text.find('"', 1);
    if (closingQuote == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view value{text.data() + 1, closingQuote - 1};
    text.remove_prefix(closingQuote + 1);
    return value;
}

// Whether nothing but blanks or a comment is left on the line.
static bool isAtLineEnd(std::string_view text)
{
    skipBlanks(text);
    return text.empty() || text.front() == '#';
}

// The value of a line's `Keyword "value"` entry; nothing when the line does
// not hold exactly that.
static std::optional<std::string_view> takeEntryValue(std::string_view& line)
{
    const std::optional<std::string_view> value = takeQuoted(line);
    if (!value || !isAtLineEnd(line)) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::string_view> readDefaultDriver(std::string_view snippet)
{
    // Other sections, such as "InputDevice", have Driver entries too; they do
    // not choose the graphics driver.
    bool inDeviceSection = false;
    while (!snippet.empty()) {
        std::string_view line = takeLine(snippet);
        const std::string_view keyword = takeKeyword(line);
        if (equalsIgnoringCase(keyword, "Section")) {
            const std::optional<std::string_view> name = takeEntryValue(line);
            inDeviceSection = name && equalsIgnoringCase(*name, "Device");
        } else if (equalsIgnoringCase(keyword, "EndSection")) {
            inDeviceSection = false;
        } else if (inDeviceSection && equalsIgnoringCase(keyword, "Driver")) {
            const std::optional<std::string_view> driver = takeEntryValue(line);
            if (driver && isPlainDriverName(*driver)) {
                return driver;
            }
        }
    }
    return std::nullopt;
}

std::optional<std::size_t> formatSnippet(std::span<char> buffer, std::string_view driver)
{
    // Anything else could close the quotes and add entries of its own.
    if (!isPlainDriverName(driver)) {
        return std::nullopt;
    }
    const std::array pieces{snippetHead, driver, snippetTail};
    std::size_t length = 0;
    for (const std::string_view piece : pieces) {
        length += piece.size();
    }
    if (length > buffer.size()) {
        return std::nullopt;
    }
    char* end = buffer.data();
    for (const std::string_view piece : pieces) {
        end = std::ranges::copy(piece, end).out;
    }
    return length;
}
