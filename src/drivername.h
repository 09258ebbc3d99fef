// Driver names and the change command built from them.
#pragma once

#include "configuratorcommands.h"

#include <cstddef>
#include <span>
#include <string_view>

constexpr std::size_t changeCommandSize = 64;

// The command and its terminating zero must fit changeCommandSize bytes.
constexpr std::size_t maxDriverNameLength = changeCommandSize - 1 - changeCommandPrefix.size();
static_assert(maxDriverNameLength == 31);

enum class DriverNameProblem { none, tooLong, forbiddenCharacter };

// The name reaches a root shell unquoted, so only characters that mean
// nothing to the shell or the terminal are let through.
DriverNameProblem checkDriverName(std::string_view name);

// One line for the user; it never repeats the name, which may hold
// terminal control sequences.
std::string_view describeDriverNameProblem(DriverNameProblem problem);

// Writes the change command for `name` into `command`, zero-terminated.
// Returns false, leaving an empty text, for a name checkDriverName refuses.
bool formatChangeCommand(std::span<char, changeCommandSize> command, std::string_view name);
