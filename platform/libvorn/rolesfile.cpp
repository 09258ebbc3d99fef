#include "rolesfile.h"

#include "textlines.h"

#include <cstddef>

struct RoleEntry {
    std::string_view login;
    std::string_view role;
};

static std::optional<RoleEntry> parseEntry(std::string_view line)
{
    // Roles files edited on other systems end their lines with "\r\n".
    if (line.ends_with('\r')) {
        line.remove_suffix(1);
    }
    if (line.empty() || line.front() == '#') {
        return std::nullopt;
    }
    // GetRole hands the role out as a C string: past a NUL, "morle\0junk"
    // would pass for "morle", so such a line holds no role at all.
    if (line.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const RoleEntry entry{
        .login = {line.data(), colon},
        .role = {line.data() + colon + 1, line.size() - colon - 1},
    };
    if (entry.login.empty() || entry.role.empty()) {
        return std::nullopt;
    }
    return entry;
}

std::optional<std::string_view> findRole(std::string_view contents, std::string_view loginName)
{
    if (loginName.empty()) {
        return std::nullopt;
    }
    while (!contents.empty()) {
        const std::optional<RoleEntry> entry = parseEntry(takeLine(contents));
        if (entry && entry->login == loginName) {
            return entry->role;
        }
    }
    return std::nullopt;
}
