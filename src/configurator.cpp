#include "configurator.h"

#include "drivername.h"
#include "exitstatus.h"
#include "processstate.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

static constexpr const char* listCommand = "/opt/qtr/bin/dispconfig -o l";
static constexpr const char* queryCommand = "/opt/qtr/bin/dispconfig -o q";

// True when the real, effective and saved ids are `user` and `group`, all
// three.
static bool holdsOnlyIds(uid_t user, gid_t group)
{
    uid_t realUser = 0, effectiveUser = 0, savedUser = 0;
    gid_t realGroup = 0, effectiveGroup = 0, savedGroup = 0;
    if (getresuid(&realUser, &effectiveUser, &savedUser) != 0 ||
        getresgid(&realGroup, &effectiveGroup, &savedGroup) != 0)
        return false;
    return realUser == user && effectiveUser == user && savedUser == user && realGroup == group &&
           effectiveGroup == group && savedGroup == group;
}

static int runCommand(const char* command)
{
    // Anything we buffered must reach the terminal before the configurator
    // writes to it.
    std::fflush(nullptr);
    // The shell is the configurator's documented interface. Every command is
    // fixed text of ours or holds only a driver name checkDriverName let
    // through, and the environment was replaced before we got here.
    return std::system(command); // NOLINT(cert-env33-c)
}

// Installed set-user-ID root, we run with root's effective user id but the
// caller's real ids and groups. The change must run wholly as the
// superuser: drop the caller's supplementary groups and take group 0 while
// we still may, then user 0, which makes real, effective and saved ids 0 for
// the rest of the run. Without set-user-ID root every call fails with EPERM
// and the configurator runs as the caller, which is what an uninstalled
// build should do.
static void becomeSuperuser()
{
    const bool startedAsRoot = geteuid() == 0;
    int failedCalls = 0;
    failedCalls += static_cast<int>(setgroups(0, nullptr) != 0);
    failedCalls += static_cast<int>(setgid(0) != 0);
    failedCalls += static_cast<int>(setuid(0) != 0);
    // The calls' results are not enough: a root process whose capabilities
    // were trimmed by whoever started it can see setuid(0) succeed and
    // change the effective id alone. It must not run anything half-switched.
    if (startedAsRoot && (failedCalls != 0 || !holdsOnlyIds(0, 0) || getgroups(0, nullptr) != 0)) {
        std::fputs("vidselect: cannot become the superuser completely\n", stderr);
        std::exit(exitUnsafeState);
    }
}

void becomeCaller()
{
    const uid_t user = getuid();
    const gid_t group = getgid();
    // Group first, while root's effective id still lets us set the saved
    // one; then the user ids, which gives up root's for good. Installed
    // without set-user-ID the ids are the caller's already, and both calls
    // change nothing.
    int failedCalls = 0;
    failedCalls += static_cast<int>(setresgid(group, group, group) != 0);
    failedCalls += static_cast<int>(setresuid(user, user, user) != 0);
    // As for the switch to root, the calls' results are not proof enough.
    if (failedCalls != 0 || !holdsOnlyIds(user, group)) {
        std::fputs("vidselect: cannot give up the superuser's rights completely\n", stderr);
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
    // Before anything runs as root for the change: the caller's limits must
    // not cut it short, nor let a crashing root configurator dump core, and
    // the scheduling state the caller chose must not starve it.
    setChangeLimits();
    setChangeProcessState();
    becomeSuperuser();
    joinOwnSessionKeyring();
    return runCommand(command.data());
}

bool commandSucceeded(int status)
{
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
