// The files in which the kernel shows a process its own state, /proc/self
// above all: where a system-call filter refuses a reset, it often refuses
// the call that would read the state back too (glibc reads and sets limits
// with the same call, prlimit64), but it cannot close these without closing
// open and read, which every run needs. Each function returns false when
// the file cannot be read or does not hold what it should.
#pragma once

#include <cstddef>
#include <string_view>
#include <sys/resource.h>

// The one number the file at `path` holds, in `base`.
bool readStateNumber(const char* path, int base, long long& value);

// The value of the line of the file at `path` that starts with `key` (as
// "SigIgn:" in /proc/self/status), without the blanks after the key.
bool readStateField(const char* path, std::string_view key, char* value, std::size_t size);

// The first line of the file at `path`, without its line end.
bool readStateLine(const char* path, char* line, std::size_t size);

// The soft and hard values of `resource`, from /proc/self/limits.
bool readOwnLimit(int resource, rlimit& limit);

// The memory policy /proc/self/numa_maps shows for the process's stack, a
// mapping no policy of its own can have been given since the exec
// ("default", "bind:0").
bool readStackMemoryPolicy(char* policy, std::size_t size);

// True when /proc is there but shows no file at `path`: the kernel was
// built without what that file would show.
bool kernelLacks(const char* path);
