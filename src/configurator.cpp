#include "configurator.h"

#include "drivername.h"
#include "exitstatus.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

static constexpr const char* listCommand = "/opt/qtr/bin/dispconfig -o l";
static constexpr const char* queryCommand = "/opt/qtr/bin/dispconfig -o q";

static int runCommand(const char* command)
{
    // Anything we buffered must reach the terminal before the configurator
    // writes to it.
    std::fflush(nullptr);
    return std::system(command);
}

// Installed set-user-ID root, we run with root's effective user id but the
// caller's real ids and groups. The change must run wholly as the
// superuser: drop the caller's supplementary groups and take group 0 while
// we still may, then user 0, which makes real, effective and saved ids 0 for
// the rest of the run. Without set-user-ID root every call fails with EPERM
// and the configurator runs as the caller, which is what an uninstalled
// build should do. A root process that cannot finish the switch must not
// run anything half-switched.
static void becomeSuperuser()
{
    const bool startedAsRoot = geteuid() == 0;
    bool switched = setgroups(0, nullptr) == 0;
    switched = setgid(0) == 0 && switched;
    switched = setuid(0) == 0 && switched;
    if (startedAsRoot && !switched) {
        std::fprintf(stderr, "vidselect: cannot become the superuser: %s\n", std::strerror(errno));
        std::exit(exitUnsafeState);
    }
}

int listAllX()
{
    return runCommand(listCommand);
}

int listCurX()
{
    return runCommand(queryCommand);
}

int changeX(const char* drivername)
{
    std::array<char, changeCommandSize> command;
    if (!formatChangeCommand(command, drivername))
        return -1;
    becomeSuperuser();
    return runCommand(command.data());
}

bool commandSucceeded(int status)
{
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
