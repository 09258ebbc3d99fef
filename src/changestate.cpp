#include "changestate.h"

#include "refusal.h"
#include "statefiles.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/keyctl.h>
#include <linux/mempolicy.h>
#include <sched.h>
#include <sys/personality.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

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
