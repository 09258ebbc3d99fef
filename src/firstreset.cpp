#include "firstreset.h"

#include "environment.h"
#include "refusal.h"
#include "statefiles.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <span>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

// POSIX leaves this declaration to the program; glibc makes it too, but only
// under _GNU_SOURCE.
extern char** environ; // NOLINT(readability-redundant-declaration)

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
