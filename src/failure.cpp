#include "failure.h"

#include "exitstatus.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Longer than any message of ours; a longer one is cut, never overrun.
static constexpr std::size_t messageSize = 256;

// One formatted write for the whole line, so that nothing else written to
// the same terminal lands inside it.
static void printFailure(const char* format, std::va_list arguments, const char* errorText)
{
    char message[messageSize];
    static_cast<void>(std::vsnprintf(message, sizeof message, format, arguments));
    if (errorText != nullptr)
        std::fprintf(stderr, "vidselect: %s: %s\n", message, errorText);
    else
        std::fprintf(stderr, "vidselect: %s\n", message);
}

// printf's way, as err(3)'s, so that the compiler checks every format
// against its arguments (failure.h).
void fail(const char* format, ...) // NOLINT(cert-dcl50-cpp)
{
    std::va_list arguments;
    va_start(arguments, format);
    printFailure(format, arguments, nullptr);
    va_end(arguments);
    std::exit(exitFailure);
}

void failWithError(const char* format, ...) // NOLINT(cert-dcl50-cpp)
{
    // Taken first: formatting may change errno.
    const char* const errorText = std::strerror(errno);
    std::va_list arguments;
    va_start(arguments, format);
    printFailure(format, arguments, errorText);
    va_end(arguments);
    std::exit(exitFailure);
}

void deny(const char* line)
{
    std::puts(line);
    std::exit(exitFailure);
}

void failWithUsage(const char* usage)
{
    std::fputs(usage, stderr);
    std::exit(exitFailure);
}
