// How a run ends before its operations are done: one line, then the exit
// status the caller decided (exitstatus.h), as err(3) and errx(3) end a
// program. Nothing else in the tool prints a diagnostic or exits early.
#pragma once

// "vidselect: " and the formatted message, as one line on standard error.
[[noreturn]] void fail(int status, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The same, followed by ": " and the text of the error errno holds.
[[noreturn]] void failWithError(int status, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// `line` alone on standard output, with no name before it: the access
// gate's denials, which callers read there.
[[noreturn]] void deny(int status, const char* line);
