// Stand-in for the machine's display configurator: lists the graphics drivers
// the X server has modules for, and reads or sets the one it uses by default
// through a configuration snippet of its own. Its directories and its lock
// file are fixed when it is built, never taken from the environment, because
// it runs as root.

#include "driverconfig.h"
#include "wholefile.h"

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <span>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

static constexpr int exitSuccess = 0;
static constexpr int exitFailure = 1;
static constexpr int exitUsage = 2;

static constexpr char moduleDirectory[] = DISPCONFIG_MODULE_DIR;
static constexpr char configDirectory[] = DISPCONFIG_CONFIG_DIR;
static constexpr char snippetPath[] = DISPCONFIG_CONFIG_DIR "/20-dispconfig.conf";
// Past the directory and its '/': written through the directory's own
// descriptor, once that is checked.
static constexpr const char* snippetName = &snippetPath[sizeof configDirectory];
// Not in the configuration directory, which anyone may open and lock.
static constexpr char lockPath[] = DISPCONFIG_LOCK_FILE;
// In the same directory, so the rename that puts it in place is atomic; its
// name does not end in ".conf", so the X server never reads it half-written.
static constexpr char tempSnippetTemplate[] = DISPCONFIG_CONFIG_DIR "/.20-dispconfig.conf.XXXXXX";
// Named, and swept when stale, by the template's own file name (past the
// directory and its '/'), of which the last six characters are made unique.
static constexpr std::string_view tempSnippetName =
    std::string_view(tempSnippetTemplate).substr(sizeof configDirectory);
static constexpr std::size_t tempSnippetUniqueLength = 6;
static constexpr std::string_view tempSnippetPrefix =
    tempSnippetName.substr(0, tempSnippetName.size() - tempSnippetUniqueLength);

// A change takes milliseconds; a lock held for longer than this is held by
// something that is not about to let go, and waiting on would hang the
// caller.
static constexpr time_t lockWaitSeconds = 3;
static constexpr long lockPollNanoseconds = 10L * 1000 * 1000;

static constexpr std::size_t maxListedDrivers = 256;
// Far more than any snippet of ours; anything bigger is not worth reading.
static constexpr std::size_t maxSnippetFileSize = std::size_t{64} * 1024;
// Static, not on the stack: a caller's small stack limit reaches a query.
static char snippetContents[maxSnippetFileSize + 1];

enum class Operation { none, list, query, modify };

struct CommandLine {
    Operation operation = Operation::none;
    const char* driver = nullptr;
};

static int reportUsage()
{
    std::fputs("usage: dispconfig -o l | -o q | -o m -d DRIVER\n", stderr);
    return exitUsage;
}

static void reportError(const char* action, const char* path, int error)
{
    std::fprintf(stderr, "dispconfig: %s %s: %s\n", action, path, std::strerror(error));
}

// A full disk or a closed pipe behind stdout must not pass for success.
static int finishOutput()
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        reportError("cannot write", "standard output", errno);
        return exitFailure;
    }
    return exitSuccess;
}

// Started by another program, possibly with a standard descriptor closed, the
// next file opened would take its place and messages would land in the
// configuration.
static bool ensureStandardDescriptorsOpen()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && open("/dev/null", O_RDWR | O_NOCTTY) != fd) {
            return false;
        }
    }
    return true;
}

static Operation operationFromName(std::string_view name)
{
    if (name == "l") {
        return Operation::list;
    }
    if (name == "q") {
        return Operation::query;
    }
    if (name == "m") {
        return Operation::modify;
    }
    return Operation::none;
}

static std::optional<CommandLine> parseCommandLine(int argc, char* argv[])
{
    CommandLine commandLine;
    opterr = 0;
    int option;
    // '+': operands end the options instead of being moved aside, so any
    // operand at all leaves optind short of argc.
    while ((option = getopt(argc, argv, "+o:d:")) != -1) {
        if (option == 'o' && commandLine.operation == Operation::none) {
            // getopt sets optarg for every option declared with ':'; the
            // analyzer cannot know that.
            commandLine.operation = operationFromName(optarg); // NOLINT(clang-analyzer-core.NonNullParamChecker)
            if (commandLine.operation == Operation::none) {
                return std::nullopt;
            }
        } else if (option == 'd' && commandLine.driver == nullptr) {
            commandLine.driver = optarg;
        } else {
            return std::nullopt;
        }
    }
    if (optind != argc || commandLine.operation == Operation::none) {
        return std::nullopt;
    }
    if ((commandLine.operation == Operation::modify) != (commandLine.driver != nullptr)) {
        return std::nullopt;
    }
    return commandLine;
}

// Follows symbolic links, as the X server does when it loads the module.
static bool hasModuleFile(int moduleDirectoryFd, std::string_view driver)
{
    char fileName[maxDriverNameLength + sizeof "_drv.so"];
    const int length = std::snprintf(fileName, sizeof fileName, "%.*s_drv.so",
                                     static_cast<int>(driver.size()), driver.data());
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof fileName) {
        return false;
    }
    struct stat status;
    return fstatat(moduleDirectoryFd, fileName, &status, 0) == 0 && S_ISREG(status.st_mode);
}

static int compareDriverNames(const void* left, const void* right)
{
    return std::strcmp(static_cast<const char*>(left), static_cast<const char*>(right));
}

static int listDrivers()
{
    DIR* directory = opendir(moduleDirectory);
    if (directory == nullptr) {
        reportError("cannot read", moduleDirectory, errno);
        return exitFailure;
    }
    static char drivers[maxListedDrivers][maxDriverNameLength + 1];
    std::size_t driverCount = 0;
    int error = 0;
    while (driverCount < maxListedDrivers) {
        errno = 0;
        const dirent* entry = readdir(directory);
        if (entry == nullptr) {
            error = errno;
            break;
        }
        const std::optional<std::string_view> driver = driverFromModuleFileName(entry->d_name);
        if (driver && hasModuleFile(dirfd(directory), *driver)) {
            std::memcpy(drivers[driverCount], driver->data(), driver->size());
            drivers[driverCount][driver->size()] = '\0';
            ++driverCount;
        }
    }
    closedir(directory);
    if (error != 0) {
        reportError("cannot read", moduleDirectory, error);
        return exitFailure;
    }
    std::qsort(drivers, driverCount, sizeof drivers[0], compareDriverNames);
    for (std::size_t index = 0; index < driverCount; ++index) {
        std::printf("%s\n", drivers[index]);
    }
    return finishOutput();
}

static int showDefaultDriver()
{
    std::size_t length = 0;
    const int error = readWholeFile(snippetPath, snippetContents, length);
    if (error != 0 && error != ENOENT) {
        reportError("cannot read", snippetPath, error);
        return exitFailure;
    }
    // No snippet yet: no default driver either.
    std::optional<std::string_view> driver;
    if (error == 0) {
        driver = readDefaultDriver({snippetContents, length});
    }
    if (driver) {
        std::printf("Default graphics driver: %.*s\n", static_cast<int>(driver->size()), driver->data());
    } else {
        std::puts("No default graphics driver is set; the X server chooses one when it starts.");
    }
    return finishOutput();
}

static bool isSupportedDriver(std::string_view driver)
{
    const int moduleDirectoryFd = open(moduleDirectory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (moduleDirectoryFd < 0) {
        return false;
    }
    const bool supported = hasModuleFile(moduleDirectoryFd, driver);
    close(moduleDirectoryFd);
    return supported;
}

// What openConfigDirectory gives in place of an error number for a
// directory it refuses.
static constexpr int unsafeConfigDirectory = -1;

// Gives the configuration directory's descriptor, or -1 with `error` set to
// the error number or unsafeConfigDirectory. Root writes its snippet there,
// and the X server reads what is there as root: a directory another account
// may write to, or one reached through a symbolic link, is refused. It is checked through the descriptor used
// after, so nothing can be put in its place in between.
static int openConfigDirectory(int& error)
{
    // Made with its final mode at once: made under the caller's umask and
    // widened after, a kill in between, which no signal mask holds off,
    // would leave it unreadable to the X server and to every query for good.
    const mode_t callerUmask = umask(0);
    const int made = mkdir(configDirectory, 0755);
    const int mkdirError = errno;
    umask(callerUmask);
    if (made != 0 && mkdirError != EEXIST) {
        error = mkdirError;
        return -1;
    }
    // A symbolic link fails as something else than a directory does, or
    // as a loop, depending on the kernel.
    const int fd = open(configDirectory, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno != ENOTDIR && errno != ELOOP) {
        error = errno;
        return -1;
    }
    struct stat status {};
    if (fd >= 0 && fstat(fd, &status) != 0) {
        error = errno;
        close(fd);
        return -1;
    }
    if (fd < 0 || status.st_uid != 0 || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        error = unsafeConfigDirectory;
        if (fd >= 0) {
            close(fd);
        }
        return -1;
    }
    return fd;
}

// The following steps give the error number on failure, 0 on success.

static int writeFully(int fd, std::span<const char> data)
{
    // Under a file-size limit the kernel would kill us mid-write with
    // SIGXFSZ; ignored, the limit shows up as EFBIG and the temp file is
    // removed instead of left behind.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    struct sigaction previous {};
    sigaction(SIGXFSZ, &ignore, &previous);
    int error = 0;
    while (!data.empty()) {
        const ssize_t written = write(fd, data.data(), data.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0) {
            error = errno;
            break;
        }
        if (written == 0) {
            error = EIO;
            break;
        }
        data = data.subspan(static_cast<std::size_t>(written));
    }
    sigaction(SIGXFSZ, &previous, nullptr);
    return error;
}

static int writeAndClose(int fd, std::span<const char> snippet)
{
    // The temp file is created 0600; the X server's configuration is
    // readable by all, whatever our umask.
    int error = fchmod(fd, 0644) == 0 ? 0 : errno;
    if (error == 0) {
        error = writeFully(fd, snippet);
    }
    if (error == 0 && fsync(fd) != 0) {
        error = errno;
    }
    if (close(fd) != 0 && error == 0) {
        error = errno;
    }
    return error;
}

// A change killed outright, which no signal mask stops, leaves its
// temporary file behind. Under the lock no other change is writing one, so
// every such file is stale.
static int removeStaleTempSnippets(int configDirectoryFd)
{
    const int listingFd = openat(configDirectoryFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* directory = listingFd < 0 ? nullptr : fdopendir(listingFd);
    if (directory == nullptr) {
        const int error = errno;
        if (listingFd >= 0) {
            close(listingFd);
        }
        return error;
    }
    int error = 0;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(directory);
        if (entry == nullptr) {
            error = errno;
            break;
        }
        const std::string_view name = entry->d_name;
        if (!name.starts_with(tempSnippetPrefix) || name.size() != tempSnippetName.size()) {
            continue;
        }
        // Only what createTempSnippet makes: anything else is not ours to
        // remove.
        struct stat status;
        if (fstatat(configDirectoryFd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode)
            && unlinkat(configDirectoryFd, entry->d_name, 0) != 0 && errno != ENOENT) {
            error = errno;
            break;
        }
    }
    closedir(directory);
    return error;
}

// Creates a temporary file as mkostemp does, but in the directory behind
// the descriptor, the one that was checked, whatever its path leads to now.
// Gives the descriptor, with the name in tempName, or -1 with errno set.
static int createTempSnippet(int configDirectoryFd, std::span<char, tempSnippetName.size() + 1> tempName)
{
    static constexpr std::string_view characters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static constexpr int maxAttempts = 100;
    std::memcpy(tempName.data(), tempSnippetPrefix.data(), tempSnippetPrefix.size());
    tempName.back() = '\0';
    for (int attempt = 0; attempt < maxAttempts; ++attempt) {
        unsigned char randomBytes[tempSnippetUniqueLength];
        if (getrandom(randomBytes, sizeof randomBytes, 0) != static_cast<ssize_t>(sizeof randomBytes)) {
            return -1;
        }
        for (std::size_t index = 0; index < tempSnippetUniqueLength; ++index) {
            tempName[tempSnippetPrefix.size() + index] = characters[randomBytes[index] % characters.size()];
        }
        const int fd = openat(configDirectoryFd, tempName.data(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

// Replaces the snippet all at once: a crash or a full disk leaves either the
// old one or the new one, never a mix.
static int publishSnippet(int configDirectoryFd, std::span<const char> snippet)
{
    char tempName[tempSnippetName.size() + 1];
    const int fd = createTempSnippet(configDirectoryFd, tempName);
    int error = fd < 0 ? errno : writeAndClose(fd, snippet);
    if (fd >= 0 && error == 0 && renameat(configDirectoryFd, tempName, configDirectoryFd, snippetName) != 0) {
        error = errno;
    }
    if (fd >= 0 && error != 0) {
        unlinkat(configDirectoryFd, tempName, 0);
    }
    return error;
}

// Gives 0 once the snippet is replaced, or what openConfigDirectory would
// give for why not, which the caller says after it lets the lock go. Ctrl-C,
// Ctrl-\ or a hang-up from the caller's terminal, or a kill, would otherwise
// stop us half-way through changing the configuration directory, and leave
// a temporary file behind. They are held from creating the directory until
// the snippet is renamed into place or the temporary file removed, and
// still end the change after it. SIGXFSZ stays out: the write ignores it,
// and held it would stay pending and kill us after.
static int replaceSnippet(std::span<const char> snippet)
{
    sigset_t held;
    sigfillset(&held);
    sigdelset(&held, SIGXFSZ);
    sigset_t previous;
    if (sigprocmask(SIG_BLOCK, &held, &previous) != 0) {
        return errno;
    }
    int error = 0;
    const int configDirectoryFd = openConfigDirectory(error);
    if (configDirectoryFd >= 0) {
        error = removeStaleTempSnippets(configDirectoryFd);
    }
    if (configDirectoryFd >= 0 && error == 0) {
        error = publishSnippet(configDirectoryFd, snippet);
    }
    if (sigprocmask(SIG_SETMASK, &previous, nullptr) != 0 && error == 0) {
        error = errno;
    }
    if (configDirectoryFd < 0) {
        return error;
    }
    // Only then does the rename itself survive a power cut.
    if (error == 0 && fsync(configDirectoryFd) != 0) {
        error = errno;
    }
    close(configDirectoryFd);
    return error;
}

static void reportSnippetError(int error)
{
    if (error == unsafeConfigDirectory) {
        std::fprintf(stderr, "dispconfig: %s is not a directory only root may write to\n", configDirectory);
    } else {
        reportError("cannot write", snippetPath, error);
    }
}

static bool isPast(const timespec& deadline)
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec > deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
}

// Two changes at the same time would otherwise race to the rename; the lock
// makes the second wait for the first, for a while. Anyone who can open a
// file can lock it, so the lock file must be one only root may open: if it
// is anything else, another account could stall every change for as long as
// it liked. Gives the locked descriptor, or -1 after saying why.
static int takeChangeLock()
{
    const int fd = open(lockPath, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0) {
        reportError("cannot open", lockPath, errno);
        return -1;
    }
    struct stat status;
    if (fstat(fd, &status) != 0) {
        reportError("cannot check", lockPath, errno);
        close(fd);
        return -1;
    }
    if (!S_ISREG(status.st_mode) || status.st_uid != 0 || (status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        std::fprintf(stderr, "dispconfig: %s is not a regular file only root may open\n", lockPath);
        close(fd);
        return -1;
    }
    // Polled: a blocking wait has no time limit of its own.
    timespec deadline {};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += lockWaitSeconds;
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            reportError("cannot lock", lockPath, errno);
            close(fd);
            return -1;
        }
        if (isPast(deadline)) {
            std::fputs("dispconfig: another change is in progress; try again later\n", stderr);
            close(fd);
            return -1;
        }
        const timespec pause = {0, lockPollNanoseconds};
        nanosleep(&pause, nullptr);
    }
    return fd;
}

static int setDefaultDriver(const char* driverArgument)
{
    const std::string_view driver = driverArgument;
    if (!isPlainDriverName(driver)) {
        // Not echoed: it could hold anything, terminal control sequences too.
        std::fputs("dispconfig: the driver name is not a supported graphics driver\n", stderr);
        return exitFailure;
    }
    if (!isSupportedDriver(driver)) {
        std::fprintf(stderr, "dispconfig: %s is not a supported graphics driver\n", driverArgument);
        return exitFailure;
    }
    char snippet[snippetCapacity];
    const std::optional<std::size_t> length = formatSnippet(snippet, driver);
    if (!length) {
        reportError("cannot write", snippetPath, EOVERFLOW);
        return exitFailure;
    }
    // A change runs in the caller's process group, so Ctrl-Z, or the
    // terminal when we read or write it from a job in the background, can
    // stop us; stopped while holding the lock, we would hold up every later
    // change until someone let us go on. Those signals are held until the
    // lock is released, and stop us only after it.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTSTP);
    sigaddset(&stopSignals, SIGTTIN);
    sigaddset(&stopSignals, SIGTTOU);
    sigset_t previous;
    if (sigprocmask(SIG_BLOCK, &stopSignals, &previous) != 0) {
        reportError("cannot write", snippetPath, errno);
        return exitFailure;
    }
    const int lockFd = takeChangeLock();
    const int error = lockFd >= 0 ? replaceSnippet({snippet, *length}) : 0;
    if (lockFd >= 0) {
        close(lockFd);
    }
    // Cannot fail with these arguments; if it did, the stop signals would
    // only stay held until we exit, moments later.
    static_cast<void>(sigprocmask(SIG_SETMASK, &previous, nullptr));
    if (lockFd < 0) {
        return exitFailure;
    }
    // Said only now: a write to a full pipe nobody reads, or to a terminal
    // stopped with Ctrl-S, waits for as long as the caller likes, and under
    // the lock it would stall every change, root's too.
    if (error != 0) {
        reportSnippetError(error);
        return exitFailure;
    }
    std::printf("Default graphics driver set to %s.\n", driverArgument);
    std::puts("It takes effect when the X server restarts (<ctrl><alt><Backspace> or a reboot).");
    return finishOutput();
}

int main(int argc, char* argv[])
{
    if (!ensureStandardDescriptorsOpen()) {
        return exitFailure;
    }
    const std::optional<CommandLine> commandLine = parseCommandLine(argc, argv);
    if (!commandLine) {
        return reportUsage();
    }
    switch (commandLine->operation) {
    case Operation::list:
        return listDrivers();
    case Operation::query:
        return showDefaultDriver();
    case Operation::modify:
        return setDefaultDriver(commandLine->driver);
    case Operation::none:
        break;
    }
    return reportUsage();
}
