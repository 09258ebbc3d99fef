// What the stand-in display configurator knows about driver names and about
// its X server configuration snippet. It does no I/O, so the unit tests and
// the fuzzer can feed it any text at all.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

// Longer names are not offered, so every name dispconfig accepts also shows
// up in its list of drivers.
inline constexpr std::size_t maxDriverNameLength = 63;

// Big enough for the snippet of any plain driver name.
inline constexpr std::size_t snippetCapacity = 256;

// Whether `name` is safe to use as a file name part, inside quotes in the X
// server configuration and in messages: 1 to maxDriverNameLength ASCII
// letters, digits, '.', '_' or '-', not starting with '.'.
bool isPlainDriverName(std::string_view name);

// The driver NAME that the X server module file `NAME_drv.so` provides;
// nothing for other files and for names that are not plain.
std::optional<std::string_view> driverFromModuleFileName(std::string_view fileName);

// The driver named by `Driver "NAME"` in a `Section "Device"` of an X server
// configuration snippet, or nothing when there is no such plain name. The
// first one wins. The result points into `snippet`.
std::optional<std::string_view> readDefaultDriver(std::string_view snippet);

// Writes the configuration snippet that makes `driver` the default into
// `buffer` and gives its length; nothing when `driver` is not a plain name or
// the snippet does not fit. No NUL is appended.
std::optional<std::size_t> formatSnippet(std::span<char> buffer, std::string_view driver);
