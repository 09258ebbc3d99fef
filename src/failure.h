// How a run ends before its operations are done: one line or the usage
// text, then exitFailure, as err(3) and errx(3) end a program. Nothing else
// in the tool prints a diagnostic or exits early.
#pragma once

// "vidselect: " and the formatted message, as one line on standard error.
[[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The same, followed by ": " and the text of the error errno holds.
[[noreturn]] void failWithError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// `line` alone on standard output, with no name before it: the access
// gate's denials, which callers read there.
[[noreturn]] void deny(const char* line);

// The usage text on standard error, as it stands: misuse of the command
// line.
[[noreturn]] void failWithUsage(const char* usage);
