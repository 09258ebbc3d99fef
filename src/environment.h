// The environment the display configurator starts from.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

// The one search path a root shell of ours may use, whatever the caller had.
constexpr std::string_view safePathEntry = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";

// The caller's names that may come through: TERM, LANG, LANGUAGE, LC_ALL
// and the twelve locale categories glibc knows.
constexpr std::size_t keptNameCount = 16;

// Every value names a locale or a terminal description, which are looked up
// as single file names; no real one is longer than a file name may be
// (NAME_MAX), and LANGUAGE's list of such names is in practice far shorter.
// The cap bounds what each kept entry costs us and the configurator.
constexpr std::size_t maxKeptValueLength = 255;

// The fixed PATH, at most one entry of each kept name, and the null pointer.
constexpr std::size_t cleanedEnvironmentSize = 1 + keptNameCount + 1;

// True for the caller's entries worth keeping: a kept name, and a value of
// at most maxKeptValueLength bytes that names no file ('/') and holds no
// format directive ('%'), since both have been used to make root processes
// read files of the caller's choosing.
bool keepEnvironmentEntry(std::string_view entry);

// Fills `cleaned` with safePathEntry followed by the entries of `original`
// that keepEnvironmentEntry accepts, each name once (its first entry worth
// keeping, as getenv would see it), then a null pointer. Reads no more of an
// entry than the longest kept entry could be, so the work grows with the
// number of entries alone. Returns the number of entries written, not
// counting the null pointer.
std::size_t cleanEnvironment(std::span<char* const> original,
                             std::span<char*, cleanedEnvironmentSize> cleaned);
