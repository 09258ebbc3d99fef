#include "changelimits.h"

#include "refusal.h"
#include "statefiles.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <sys/resource.h>

namespace {

struct LimitSetting {
    int resource;
    rlimit limit;
    const char* what;
};

// The limits a root change runs under, whatever the caller's were. A caller
// could otherwise stop a root change half-way through its writes by running
// it out of time, memory, stack, descriptors, processes, locks or signals,
// have a crashing root configurator leave its memory on disk as often as it
// likes, or starve a change that holds the configurator's lock. The values
// are those the kernel gives the first process, from which a system's
// defaults start (an 8 MiB stack, 1024 open files of at most 4096, 8 MiB of
// locked memory, 800 KiB of message queues, no nice or real-time priority
// above the ordinary), but that core dumps are off for good: hard limit 0
// as well.
//
// The kernel sizes two limits at boot instead, processes and pending
// signals, to half the number of threads the machine's memory allows; no
// fixed number matches that. Both are counted over every process of the
// real user, which for the change is root, so any fixed number could be
// used up by root's other work and fail the change for no fault of its
// own. No limit is what root may take in any case: the kernel still bounds
// both by its thread maximum and its memory.
constexpr rlimit unlimited = {RLIM_INFINITY, RLIM_INFINITY};
constexpr rlimit kernelMemoryLockLimit = {rlim_t{8} << 20U, rlim_t{8} << 20U};
constexpr rlimit kernelMessageQueueLimit = {819200, 819200};
constexpr std::array changeLimits = {
    LimitSetting{RLIMIT_CORE, {0, 0}, "turn off core dumps"},
    LimitSetting{RLIMIT_CPU, unlimited, "raise the CPU time limit"},
    LimitSetting{RLIMIT_FSIZE, unlimited, "raise the file-size limit"},
    LimitSetting{RLIMIT_DATA, unlimited, "raise the data limit"},
    LimitSetting{RLIMIT_STACK, {rlim_t{8} << 20U, RLIM_INFINITY}, "set the stack limit"},
    LimitSetting{RLIMIT_RSS, unlimited, "raise the resident-memory limit"},
    LimitSetting{RLIMIT_NPROC, unlimited, "raise the process limit"},
    LimitSetting{RLIMIT_NOFILE, {1024, 4096}, "set the open-file limit"},
    LimitSetting{RLIMIT_MEMLOCK, kernelMemoryLockLimit, "set the locked-memory limit"},
    LimitSetting{RLIMIT_AS, unlimited, "raise the address-space limit"},
    LimitSetting{RLIMIT_LOCKS, unlimited, "raise the file-lock limit"},
    LimitSetting{RLIMIT_SIGPENDING, unlimited, "raise the pending-signal limit"},
    LimitSetting{RLIMIT_MSGQUEUE, kernelMessageQueueLimit, "set the message-queue limit"},
    LimitSetting{RLIMIT_NICE, {0, 0}, "set the nice limit"},
    LimitSetting{RLIMIT_RTPRIO, {0, 0}, "set the real-time priority limit"},
    LimitSetting{RLIMIT_RTTIME, unlimited, "raise the real-time CPU time limit"},
};

// Every limit the kernel has, each once: a limit left out of the table is
// one the caller still chooses.
constexpr bool coversEveryLimitOnce()
{
    std::array<int, RLIM_NLIMITS> times{};
    for (const LimitSetting& setting : changeLimits) {
        if (setting.resource < 0 || setting.resource >= RLIM_NLIMITS)
            return false;
        ++times.at(static_cast<std::size_t>(setting.resource));
    }
    return std::ranges::all_of(times, [](int count) { return count == 1; });
}
static_assert(changeLimits.size() == RLIM_NLIMITS && coversEveryLimitOnce());

} // namespace

// Whether `current` gives the change what the table's `wanted` is for: a 0
// is a ceiling (no core dumps, no priority above the ordinary), any other
// value a floor, met when the soft limit reaches it or all that the hard
// limit allows.
static bool servesChange(rlimit wanted, rlimit current)
{
    if (wanted.rlim_cur == 0)
        return current.rlim_cur == 0;
    return current.rlim_cur >= std::min(wanted.rlim_cur, current.rlim_max);
}

// Sets the table's limit, or as much of it as a hard limit we may not raise
// allows: root without CAP_SYS_RESOURCE, as in some containers, may only go
// as far as the hard limit it was given. Where a filter refuses the call
// itself (glibc makes setrlimit and getrlimit both with prlimit64), the
// limit it already has may serve.
static void setLimit(const LimitSetting& setting)
{
    if (setrlimit(setting.resource, &setting.limit) == 0)
        return;
    const int refusal = errno;
    rlimit current = {};
    if (readOwnLimit(setting.resource, current)) {
        rlimit reachable = setting.limit;
        reachable.rlim_max = std::min(reachable.rlim_max, current.rlim_max);
        reachable.rlim_cur = std::min(reachable.rlim_cur, reachable.rlim_max);
        if (setrlimit(setting.resource, &reachable) == 0 || servesChange(setting.limit, current))
            return;
    }
    errno = refusal;
    failToReset(setting.what);
}

void setChangeLimits()
{
    for (const LimitSetting& setting : changeLimits)
        setLimit(setting);
}
