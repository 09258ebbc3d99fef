#include "access.h"

#include "failure.h"

#include <vorn.h>

#include <pwd.h>
#include <string_view>
#include <unistd.h>

static constexpr std::string_view serviceAccount = "tavik";
static constexpr std::string_view serviceRole = "morle";

static constexpr const char* roleUnknown = "Access denied, unable to determine user's role!";
static constexpr const char* insufficientPrivileges = "Access denied, Insufficient privileges!";

[[noreturn]] static void denyAccess(const char* reason)
{
    deny(reason);
}

void checkAccess()
{
    // The real user id names whoever started us: installed set-user-ID, the
    // effective one is always root's. getpwuid's shared result is safe to
    // use: the tool never starts a second thread.
    // cppcheck-suppress getpwuidCalled
    const passwd* entry = getpwuid(getuid());
    if (entry == nullptr || entry->pw_name == nullptr)
        denyAccess(roleUnknown);
    if (std::string_view(entry->pw_name) != serviceAccount)
        denyAccess(insufficientPrivileges);

    const char* role = GetRole(entry->pw_name);
    if (role == nullptr)
        denyAccess(roleUnknown);
    if (std::string_view(role) != serviceRole)
        denyAccess(insufficientPrivileges);
}
