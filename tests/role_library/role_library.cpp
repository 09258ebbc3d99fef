// The tests' role library. It answers from /etc/vorn/roles, where the
// sandbox keeps one "login:role" line for each account it adds; the first
// line for a login wins, and a missing file knows no role.
#include <vorn.h>

#include <cstdio>
#include <cstring>

const char* GetRole(const char* loginName)
{
    // The caller keeps the text for the rest of its run.
    static char line[256];
    std::FILE* roles = std::fopen("/etc/vorn/roles", "re");
    if (roles == nullptr)
        return nullptr;
    const std::size_t loginLength = std::strlen(loginName);
    const char* role = nullptr;
    while (role == nullptr && std::fgets(line, sizeof line, roles) != nullptr) {
        line[std::strcspn(line, "\n")] = '\0';
        if (std::strncmp(line, loginName, loginLength) == 0 && line[loginLength] == ':')
            role = line + loginLength + 1;
    }
    std::fclose(roles);
    return role;
}
