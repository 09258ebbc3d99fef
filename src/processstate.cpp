#include "processstate.h"

#include "environment.h"
#include "exitstatus.h"
#include "failure.h"
#include "statefiles.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/keyctl.h>
#include <linux/mempolicy.h>
#include <sched.h>
#include <span>
#include <sys/personality.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

// POSIX leaves this declaration to the program; glibc makes it too, but only
// under _GNU_SOURCE.
extern char** environ; // NOLINT(readability-redundant-declaration)

[[noreturn]] static void failToReset(const char* what)
{
    failWithError(exitUnsafeState, "cannot %s", what);
}

// Check, then insist: a reset that the kernel refused (root without
// CAP_SYS_NICE or CAP_SYS_RESOURCE, as in a container), or a system-call
// filter (a container's or a service manager's), with whatever errno, is no
// failure where the state already is what the reset would make it. Only
// whoever started the session can have installed such a filter: a caller
// cannot without no_new_privs, under which the kernel ignores our
// set-user-ID bit. Called with errno holding the refusal, which names the
// failure when the state differs or cannot be read.
static void insistOn(bool (*alreadyHolds)(), const char* what)
{
    const int refusal = errno;
    if (alreadyHolds())
        return;
    errno = refusal;
    failToReset(what);
}

// Interval timers survive exec (POSIX timers do not). A caller's would end
// us with its signal at a moment of the caller's choosing: half-way through
// a run, or after the switch to root, when the caller may no longer signal
// us itself.
constexpr std::array intervalTimers = {ITIMER_REAL, ITIMER_VIRTUAL, ITIMER_PROF};

static bool intervalTimersDisarmed()
{
    for (const int timer : intervalTimers) {
        itimerval current = {};
        if (getitimer(timer, &current) != 0 || current.it_value.tv_sec != 0 || current.it_value.tv_usec != 0)
            return false;
    }
    return true;
}

static void disarmIntervalTimers()
{
    constexpr itimerval disarmed = {};
    bool refused = false;
    for (const int timer : intervalTimers)
        refused = setitimer(timer, &disarmed, nullptr) != 0 || refused;
    if (refused)
        insistOn(intervalTimersDisarmed, "disarm the interval timers");
}

// A caller may start us with 0, 1 or 2 closed, so that the next file we or
// the configurator open lands there and takes output meant for the terminal.
static void openStandardDescriptors()
{
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) != -1)
            continue;
        // Refused, the call cannot tell us whether the descriptor is open.
        if (errno != EBADF)
            failToReset("tell whether the standard descriptors are open");
        const int opened = open("/dev/null", O_RDWR | O_NOCTTY);
        if (opened != descriptor) {
            if (opened != -1)
                errno = EBADF;
            failToReset("open /dev/null for a closed standard descriptor");
        }
    }
}

static void closeListedDescriptors()
{
    DIR* listing = opendir("/proc/self/fd");
    if (listing == nullptr)
        failToReset("list open descriptors");
    const int listingDescriptor = dirfd(listing);
    while (const dirent* entry = readdir(listing)) {
        char* end = nullptr;
        const long parsed = std::strtol(entry->d_name, &end, 10);
        if (*end != '\0' || parsed <= STDERR_FILENO || parsed == listingDescriptor)
            continue;
        // Linux lets a descriptor go even when close reports an error; one
        // still open after a failed close was refused.
        const int descriptor = static_cast<int>(parsed);
        if (close(descriptor) != 0 && (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF))
            failToReset("close inherited descriptors");
    }
    closedir(listing);
}

// glibc has a close_range wrapper only from 2.34, and the packages must run
// on 2.31, whose headers may know the call only by the kernel's name for it.
#if !defined(SYS_close_range) && defined(__NR_close_range)
#define SYS_close_range __NR_close_range
#endif

// Descriptors the caller left open would reach the root configurator.
// Without close_range (before Linux 5.9, not known to the headers we were
// built with, or refused by a filter with whatever errno, as older
// container profiles answer every call they do not know with EPERM) they
// are closed one by one from /proc's listing.
static void closeInheritedDescriptors()
{
#ifdef SYS_close_range
    constexpr unsigned int firstInherited = STDERR_FILENO + 1;
    constexpr unsigned int lastDescriptor = ~0U;
    if (syscall(SYS_close_range, firstInherited, lastDescriptor, 0U) == 0)
        return;
#endif
    closeListedDescriptors();
}

// The numbers the C library keeps for itself: its sigaction refuses them,
// and whatever the caller left on them stays.
static bool isLibrarySignal(int signalNumber)
{
    return signalNumber >= __SIGRTMIN && signalNumber < SIGRTMIN;
}

// The signal set /proc/self/status shows under `key` (in hexadecimal, bit 0
// for signal 1) holds none but the C library's.
static bool statusShowsNoSignal(const char* key)
{
    char shown[32];
    if (!readStateField("/proc/self/status", key, shown, sizeof shown))
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long signals = std::strtoull(shown, &end, 16);
    if (end == shown || *end != '\0' || errno != 0)
        return false;
    constexpr int shownSignals = 64;
    for (int signalNumber = 1; signalNumber <= shownSignals; ++signalNumber) {
        if (((signals >> (signalNumber - 1)) & 1U) != 0 && !isLibrarySignal(signalNumber))
            return false;
    }
    return true;
}

// Handlers do not survive exec, and the gate's code could only have set one
// with the call that was refused: only an ignored signal can be left.
static bool noSignalIgnored()
{
    return statusShowsNoSignal("SigIgn:");
}

static bool noSignalBlocked()
{
    return statusShowsNoSignal("SigBlk:");
}

// Ignored signals and blocked signals survive exec; a configurator that
// cannot be interrupted, or that ignores SIGCHLD, behaves unlike the one
// its authors tested.
static void resetSignals()
{
    struct sigaction defaultAction = {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    bool refused = false;
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
        if (signalNumber == SIGKILL || signalNumber == SIGSTOP || isLibrarySignal(signalNumber))
            continue;
        refused = sigaction(signalNumber, &defaultAction, nullptr) != 0 || refused;
    }
    if (refused)
        insistOn(noSignalIgnored, "reset the signal dispositions");
    sigset_t emptyMask;
    sigemptyset(&emptyMask);
    if (sigprocmask(SIG_SETMASK, &emptyMask, nullptr) != 0)
        insistOn(noSignalBlocked, "unblock signals");
}

// Files the configurator creates must not be writable by group or others
// because the caller chose a loose umask. A stricter one is kept until a
// change, which sets its own (setChangeProcessState).
static void tightenUmask()
{
    const mode_t callerMask = umask(022);
    umask(callerMask | 022);
}

static void resetEnvironment()
{
    // glibc's clearenv, which the role library may call, leaves no array.
    std::size_t count = 0;
    while (environ != nullptr && environ[count] != nullptr)
        ++count;
    // A fixed array, whatever the size of the caller's environment: the
    // filter runs before the gate, as root. The second reset reads the
    // first's array, so the result is built apart and copied in whole.
    std::array<char*, cleanedEnvironmentSize> cleaned{};
    cleanEnvironment(std::span<char* const>(environ, count), cleaned);
    static std::array<char*, cleanedEnvironmentSize> ownEnvironment{};
    ownEnvironment = cleaned;
    environ = ownEnvironment.data();
}

static bool inRootDirectory()
{
    struct stat here = {};
    struct stat root = {};
    return stat(".", &here) == 0 && stat("/", &root) == 0 && here.st_dev == root.st_dev &&
           here.st_ino == root.st_ino;
}

// The caller's working directory may be one of theirs. A root shell
// started there would resolve relative names in it and hand it on as PWD.
static void leaveWorkingDirectory()
{
    if (chdir("/") != 0)
        insistOn(inRootDirectory, "change to the root directory");
}

void resetProcessState()
{
    disarmIntervalTimers();
    openStandardDescriptors();
    closeInheritedDescriptors();
    resetSignals();
    tightenUmask();
    resetEnvironment();
    leaveWorkingDirectory();
}

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

// A caller's score of 1000 makes the change the first process the kernel
// kills when memory runs short, half-way through its writes.
static bool hasOutOfMemoryScoreZero()
{
    long long score = 0;
    return readStateNumber("/proc/self/oom_score_adj", 10, score) && score == 0;
}

static void resetOutOfMemoryScore()
{
    const int descriptor = open("/proc/self/oom_score_adj", O_WRONLY | O_CLOEXEC);
    const bool written = descriptor != -1 && write(descriptor, "0", 1) == 1;
    const int error = errno;
    if (descriptor != -1)
        close(descriptor);
    if (!written) {
        // Refused with EACCES where a privileged starter set a minimum.
        errno = error;
        insistOn(hasOutOfMemoryScoreZero, "reset the out-of-memory score");
    }
}

static bool hasOrdinarySchedulingPolicy()
{
    // Reset-on-fork changes nothing for the children of an ordinary process.
    const int policy = sched_getscheduler(0);
    return policy != -1 && (policy & ~SCHED_RESET_ON_FORK) == SCHED_OTHER;
}

static bool hasNiceZero()
{
    // -1, not 0, is what getpriority returns when it fails.
    return getpriority(PRIO_PROCESS, 0) == 0;
}

// An I/O priority is its class, shifted, and a level within the class.
constexpr int ioPriorityOfProcess = 1;
constexpr unsigned int ioClassShift = 13;
constexpr long ioClassNone = 0;
constexpr long ioClassBestEffort = 2;
constexpr long ioPriorityNone = ioClassNone << ioClassShift;

// Class none, or what some kernels show for it: best effort at the level of
// nice 0, which is what class none means at the ordinary policy and nice 0,
// both made sure of before. A kernel without a block layer (no
// /proc/partitions) has no I/O priority.
static bool hasDefaultIoPriority()
{
    constexpr long bestEffortAtNiceZero = (ioClassBestEffort << ioClassShift) | 4;
    const long priority = syscall(SYS_ioprio_get, ioPriorityOfProcess, 0);
    return (priority != -1 && (priority >> ioClassShift) == ioClassNone) || priority == bestEffortAtNiceZero ||
           kernelLacks("/proc/partitions");
}

// The call that sets the personality also reads it; a filter that refuses
// one refuses both.
static bool hasLinuxPersonality()
{
    long long persona = -1;
    return readStateNumber("/proc/self/personality", 16, persona) && persona == PER_LINUX;
}

// A caller's timer slack would stretch every sleep of the change, its wait
// for the configurator's lock among them. 0 would not restore the kernel's
// default of 50 us, but the slack the caller handed down.
constexpr unsigned long defaultTimerSlackNanoseconds = 50000;

static bool hasDefaultTimerSlack()
{
    long long slack = 0;
    return readStateNumber("/proc/self/timerslack_ns", 10, slack) &&
           slack == static_cast<long long>(defaultTimerSlackNanoseconds);
}

// Whether `allowed` holds every CPU of `list`, as the kernel writes one
// ("0-3,6").
static bool holdsEveryProcessorOf(const cpu_set_t& allowed, const char* list)
{
    const char* next = list;
    for (;;) {
        char* end = nullptr;
        const long first = std::strtol(next, &end, 10);
        long last = first;
        if (end == next || first < 0)
            return false;
        if (*end == '-') {
            next = end + 1;
            last = std::strtol(next, &end, 10);
            if (end == next)
                return false;
        }
        for (long processor = first; processor <= last; ++processor) {
            if (processor >= CPU_SETSIZE || !CPU_ISSET(static_cast<std::size_t>(processor), &allowed))
                return false;
        }
        if (*end != ',')
            return *end == '\0';
        next = end + 1;
    }
}

// Every CPU online. The cpuset the machine's configuration may keep us in
// is not looked up: where the call that widens the affinity is refused, a
// cpuset narrower than the machine stops the change.
static bool mayUseEveryOnlineProcessor()
{
    cpu_set_t allowed;
    char online[256];
    return sched_getaffinity(0, sizeof allowed, &allowed) == 0 &&
           readStateLine("/sys/devices/system/cpu/online", online, sizeof online) &&
           holdsEveryProcessorOf(allowed, online);
}

// The call that reads the policy back is refused with the one that sets it
// in a container without CAP_SYS_NICE. A kernel without NUMA has no policy.
static bool hasDefaultMemoryPolicy()
{
    char policy[64];
    return kernelLacks("/proc/self/numa_maps") ||
           (readStackMemoryPolicy(policy, sizeof policy) && std::strcmp(policy, "default") == 0);
}

static bool transparentHugePagesAllowed()
{
    char enabled[8];
    return readStateField("/proc/self/status", "THP_enabled:", enabled, sizeof enabled) &&
           std::strcmp(enabled, "1") == 0;
}

// Linux 6.4's name for it; glibc 2.31's headers are older.
#ifndef PR_SET_MEMORY_MERGE
#define PR_SET_MEMORY_MERGE 67
#endif

// A kernel without KSM shows no ksm_stat.
static bool memoryMergingOff()
{
    char merging[8];
    return kernelLacks("/proc/self/ksm_stat") ||
           (readStateField("/proc/self/ksm_stat", "ksm_merge_any:", merging, sizeof merging) &&
            std::strcmp(merging, "no") == 0);
}

// Besides its limits, the caller hands a root change a scheduling state it
// chose: nice 19 and the idle policies to starve it while it holds the
// configurator's lock, so that every other change waits; fewer CPUs, or a
// memory policy bound to a few nodes, to the same end; an out-of-memory
// score that makes it the first process killed half-way; a personality
// under which uname lies to it; a timer slack that stretches its sleeps;
// transparent huge pages turned off; merging of its memory with identical
// pages elsewhere, whose timing would tell a caller with such pages what
// the change's memory holds; and a umask that decides the modes of root's
// files. A change starts from the state a system service gets instead.
void setChangeProcessState()
{
    // Not installed set-user-ID, the change runs as the caller, in the state
    // the caller may choose anyway; lowering nice or the out-of-memory score
    // back would need root, and failing for it would stop a change that
    // crosses no privilege boundary.
    if (geteuid() != 0)
        return;
    umask(022);
    if (sched_param ordinary = {}; sched_setscheduler(0, SCHED_OTHER, &ordinary) != 0)
        insistOn(hasOrdinarySchedulingPolicy, "set the ordinary scheduling policy");
    if (setpriority(PRIO_PROCESS, 0, 0) != 0)
        insistOn(hasNiceZero, "set the scheduling priority");
    // Class none: the I/O priority follows the CPU one, as for any process
    // nobody gave another.
    if (syscall(SYS_ioprio_set, ioPriorityOfProcess, 0, ioPriorityNone) != 0)
        insistOn(hasDefaultIoPriority, "set the default I/O priority");
    // The previous personality, or an error: glibc sets errno for it on
    // 64-bit x86, but on 32-bit x86 hands back the kernel's negated error
    // number and leaves errno alone.
    errno = 0;
    if (const int previous = personality(PER_LINUX); previous < 0) {
        if (errno == 0)
            errno = -previous;
        insistOn(hasLinuxPersonality, "set the Linux personality");
    }
    if (prctl(PR_SET_TIMERSLACK, defaultTimerSlackNanoseconds) != 0)
        insistOn(hasDefaultTimerSlack, "set the default timer slack");
    // Every CPU there is: the kernel keeps those that are online and that
    // the machine's own configuration lets this process use.
    cpu_set_t everyProcessor;
    std::memset(&everyProcessor, 0xff, sizeof everyProcessor);
    if (sched_setaffinity(0, sizeof everyProcessor, &everyProcessor) != 0)
        insistOn(mayUseEveryOnlineProcessor, "allow every CPU");
    // glibc has no wrapper.
    if (syscall(SYS_set_mempolicy, MPOL_DEFAULT, nullptr, 0UL) != 0)
        insistOn(hasDefaultMemoryPolicy, "set the default memory policy");
    // A kernel that does not know an option (before Linux 3.15 for huge
    // pages, 6.4 for merging) cannot have turned it on.
    if (prctl(PR_SET_THP_DISABLE, 0UL, 0UL, 0UL, 0UL) != 0 && errno != EINVAL)
        insistOn(transparentHugePagesAllowed, "allow transparent huge pages");
    if (prctl(PR_SET_MEMORY_MERGE, 0UL, 0UL, 0UL, 0UL) != 0 && errno != EINVAL)
        insistOn(memoryMergingOff, "turn off memory merging");
    resetOutOfMemoryScore();
}

// Whether no keyring call reaches the kernel, so that no process of the
// change can reach a keyring at all: each is made with arguments the kernel
// itself refuses with the one error it names, and any other answer comes
// from a filter (or, ENOSYS, from a kernel without keys). Filters are
// inherited and cannot be removed.
static bool everyKeyringCallRefused()
{
    const char* const noType = "";
    constexpr long noCommand = 0x7fffffff;
    const bool keyctlRefused = syscall(SYS_keyctl, noCommand, 0L, 0L, 0L, 0L) == -1 && errno != EOPNOTSUPP;
    const bool addKeyRefused = syscall(SYS_add_key, noType, noType, nullptr, 0UL, 0L) == -1 && errno != EINVAL;
    const bool requestKeyRefused = syscall(SYS_request_key, noType, noType, nullptr, 0L) == -1 && errno != EINVAL;
    return keyctlRefused && addKeyRefused && requestKeyRefused;
}

// The caller's session keyring would otherwise be the root change's: root's
// tools would use the caller's keys as their own, and leave theirs where the
// caller finds them. A change gets one of its own, as a system service does.
// Only after the switch to root: the kernel makes a new session keyring its
// real user's, and until then that is the caller.
void joinOwnSessionKeyring()
{
    // Not installed set-user-ID, the change runs as the caller, whose
    // keyring it may as well keep.
    if (geteuid() != 0)
        return;
    const char* const anonymous = nullptr;
    if (syscall(SYS_keyctl, KEYCTL_JOIN_SESSION_KEYRING, anonymous) == -1)
        insistOn(everyKeyringCallRefused, "join a session keyring of its own");
}
