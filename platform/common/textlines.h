// Line-by-line reading of a text held in memory, shared by the stand-ins'
// parsers.
#pragma once

#include <cstddef>
#include <string_view>

// Splits the first line off `text`, without its '\n'.
inline std::string_view takeLine(std::string_view& text)
{
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) {
        const std::string_view line = text;
        text = {};
        return line;
    }
    const std::string_view line{text.data(), end};
    text.remove_prefix(end + 1);
    return line;
}
