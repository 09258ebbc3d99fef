// The display configurator's path and the command lines that run it: the
// path is written here alone, and every command line is made from it when
// the tool is compiled.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

// Fixed at build time: no search path, environment or file is consulted.
constexpr std::string_view configuratorPath = "/opt/qtr/bin/dispconfig";

// The path followed by `options`, zero-terminated as the shell takes it.
template <std::size_t OptionsSize>
consteval std::array<char, configuratorPath.size() + OptionsSize>
configuratorCommand(const char (&options)[OptionsSize])
{
    std::array<char, configuratorPath.size() + OptionsSize> command{};
    std::size_t next = 0;
    for (const char character : configuratorPath)
        command.at(next++) = character;
    for (const char character : options)
        command.at(next++) = character;
    return command;
}

constexpr auto listCommand = configuratorCommand(" -o l");
constexpr auto queryCommand = configuratorCommand(" -o q");

// The change command up to the driver name, which follows it directly.
constexpr auto changeCommandStart = configuratorCommand(" -o m -d ");
constexpr std::string_view changeCommandPrefix(changeCommandStart.data(),
                                               changeCommandStart.size() - 1);
