// Stand-in for the machine's role library: roles come from a plain text file
// whose path is fixed when the library is built, never from the environment,
// because the caller runs set-user-ID root.

// GetRole is the library's only export; everything else stays hidden.
#pragma GCC visibility push(default)
#include "vorn.h"
#pragma GCC visibility pop

#include "rolesfile.h"
#include "wholefile.h"

#include <cstddef>
#include <cstring>
#include <optional>
#include <string_view>


static constexpr std::size_t maxRolesFileSize = std::size_t{64} * 1024;
// Static, not on the stack: the set-user-ID caller runs under whatever
// stack limit its own caller chose.
static char rolesContents[maxRolesFileSize + 1];

// Callers keep the returned text for the rest of the process.
static char roleText[256];

const char* GetRole(const char* loginName)
{
    if (loginName == nullptr) {
        return nullptr;
    }
    // A roles file that is missing, unreadable or too big knows no role.
    std::size_t length = 0;
    if (readWholeFile(VORN_ROLES_FILE, rolesContents, length) != 0) {
        return nullptr;
    }
    const std::optional<std::string_view> role = findRole({rolesContents, length}, loginName);
    if (!role || role->size() >= sizeof roleText) {
        return nullptr;
    }
    std::memcpy(roleText, role->data(), role->size());
    roleText[role->size()] = '\0';
    return roleText;
}
