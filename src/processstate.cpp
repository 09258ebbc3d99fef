#include "processstate.h"

#include "environment.h"
#include "exitstatus.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <span>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

// POSIX leaves this declaration to the program; glibc makes it too, but only
// under _GNU_SOURCE.
extern char** environ; // NOLINT(readability-redundant-declaration)

[[noreturn]] static void failToReset(const char* what)
{
    std::fprintf(stderr, "vidselect: cannot %s: %s\n", what, std::strerror(errno));
    std::exit(exitUnsafeState);
}

// A caller may start us with 0, 1 or 2 closed, so that the next file we or
// the configurator open lands there and takes output meant for the terminal.
static void openStandardDescriptors()
{
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF)
            continue;
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
        const long descriptor = std::strtol(entry->d_name, &end, 10);
        if (*end == '\0' && descriptor > STDERR_FILENO && descriptor != listingDescriptor)
            close(static_cast<int>(descriptor));
    }
    closedir(listing);
}

// Descriptors the caller left open would reach the root configurator.
static void closeInheritedDescriptors()
{
    if (close_range(STDERR_FILENO + 1, ~0U, 0) == 0)
        return;
    if (errno != ENOSYS && errno != EINVAL)
        failToReset("close inherited descriptors");
    closeListedDescriptors();
}

// Ignored signals and blocked signals survive exec; a configurator that
// cannot be interrupted, or that ignores SIGCHLD, behaves unlike the one
// its authors tested.
static void resetSignals()
{
    struct sigaction defaultAction = {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
        if (signalNumber == SIGKILL || signalNumber == SIGSTOP)
            continue;
        // Fails only for the numbers the C library keeps for itself.
        sigaction(signalNumber, &defaultAction, nullptr);
    }
    sigset_t emptyMask;
    sigemptyset(&emptyMask);
    if (sigprocmask(SIG_SETMASK, &emptyMask, nullptr) != 0)
        failToReset("unblock signals");
}

// Files the root configurator creates must not be writable by group or
// others because the caller chose a loose umask; a stricter one is kept.
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

// A caller's file-size limit would cut the configurator's writes short and
// could leave the X server's configuration truncated.
static void raiseFileSizeLimit()
{
    rlimit limit = {RLIM_INFINITY, RLIM_INFINITY};
    if (setrlimit(RLIMIT_FSIZE, &limit) == 0)
        return;
    // Without root we may still go as far as the hard limit.
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0)
        failToReset("read the file-size limit");
    limit.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
        failToReset("raise the file-size limit");
}

// The caller's working directory may be one of theirs. A root shell
// started there would resolve relative names in it and hand it on as PWD.
static void leaveWorkingDirectory()
{
    if (chdir("/") != 0)
        failToReset("change to the root directory");
}

void resetProcessState()
{
    openStandardDescriptors();
    closeInheritedDescriptors();
    resetSignals();
    tightenUmask();
    resetEnvironment();
    raiseFileSizeLimit();
    leaveWorkingDirectory();
}
