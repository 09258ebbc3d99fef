// A role library that misbehaves the way a real one, or a name-service
// module behind getpwuid, might: it leaves a descriptor open, changes the
// signal state and the umask, and plants environment entries. The tool
// must not let any of it reach the configurator. It knows one account,
// tavik, with the service role.
//
// First it records what it was started with in /opt/qtr/record/role-library,
// as the recorder does: its open descriptors ("fds") and its environment
// ("env", one line each). The gate runs it as root, so nothing of the
// caller's may reach it either.
#include <vorn.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ; // NOLINT(readability-redundant-declaration)

static void recordStartingState()
{
    const int record =
        open("/opt/qtr/record/role-library", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (record == -1)
        return;
    dprintf(record, "fds");
    if (DIR* listing = opendir("/proc/self/fd")) {
        // The kernel lists descriptors in ascending order.
        while (const dirent* entry = readdir(listing)) {
            const int descriptor = std::atoi(entry->d_name);
            if (entry->d_name[0] != '.' && descriptor != dirfd(listing) && descriptor != record)
                dprintf(record, " %d", descriptor);
        }
        closedir(listing);
    }
    dprintf(record, "\n");
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry)
        dprintf(record, "env %s\n", *entry);
    close(record);
}

const char* GetRole(const char* loginName)
{
    recordStartingState();
    open("/etc/passwd", O_RDONLY);
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigprocmask(SIG_BLOCK, &blocked, nullptr);
    umask(0);
    setenv("BASH_ENV", "/tmp/planted", 1);
    setenv("LD_LIBRARY_PATH", "/tmp", 1);
    return std::string_view(loginName) == "tavik" ? "morle" : nullptr;
}
