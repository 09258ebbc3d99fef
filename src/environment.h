// The environment the display configurator starts from.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

// The one search path a root shell of ours may use, whatever the caller had.
constexpr std::string_view safePathEntry = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";

// True for the caller's entries worth keeping: the terminal type and the
// locale (TERM, LANG, LANGUAGE, LC_*), and only when the value names no file
// ('/') and holds no format directive ('%'), since both have been used to
// make root processes read files of the caller's choosing.
bool keepEnvironmentEntry(std::string_view entry);

// Fills `cleaned` with safePathEntry followed by the entries of `original`
// that keepEnvironmentEntry accepts, each name once (its first entry, as
// getenv would see it), then a null pointer. `cleaned` must have room for
// original.size() + 2 pointers. Returns the number of entries written, not
// counting the null pointer.
std::size_t cleanEnvironment(std::span<char* const> original, std::span<char*> cleaned);
