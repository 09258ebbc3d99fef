#include "identity.h"

#include "failure.h"

#include <algorithm>
#include <array>
#include <grp.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

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

// Installed set-user-ID root, we run with root's effective user id but the
// caller's real ids and groups. The change must run wholly as the
// superuser: drop the caller's supplementary groups and take group 0 while
// we still may, then user 0, which makes real, effective and saved ids 0 for
// the rest of the run. Without set-user-ID root every call fails with EPERM
// and the configurator runs as the caller, which is what an uninstalled
// build should do.
void becomeSuperuser()
{
    const bool startedAsRoot = geteuid() == 0;
    int failedCalls = 0;
    failedCalls += static_cast<int>(setgroups(0, nullptr) != 0);
    failedCalls += static_cast<int>(setgid(0) != 0);
    failedCalls += static_cast<int>(setuid(0) != 0);
    // The calls' results are not enough: a root process whose capabilities
    // were trimmed by whoever started it can see setuid(0) succeed and
    // change the effective id alone. It must not run anything half-switched.
    if (startedAsRoot && (failedCalls != 0 || !holdsOnlyIds(0, 0) || getgroups(0, nullptr) != 0))
        fail("cannot become the superuser completely");
}

// True when no capability is permitted, and so none is effective or
// ambient: the kernel keeps both within the permitted set.
static bool holdsNoCapability()
{
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> sets = {};
    if (syscall(SYS_capget, &header, sets.data()) != 0)
        return false;
    return std::ranges::all_of(sets, [](const __user_cap_data_struct& set) { return set.permitted == 0; });
}

void becomeCaller()
{
    const bool startedAsRoot = geteuid() == 0;
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
    // Nor are the ids: under SECBIT_NO_SETUID_FIXUP, which a root starter
    // may set, root's capabilities outlast the drop. The capabilities of a
    // caller who started us without root are the caller's own to keep.
    if (failedCalls != 0 || !holdsOnlyIds(user, group) || (startedAsRoot && !holdsNoCapability()))
        fail("cannot give up the superuser's rights completely");
}
