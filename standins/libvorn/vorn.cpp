// Stand-in for the machine's role library: roles come from a plain text file
// whose path is fixed when the library is built, never from the environment,
// because the caller runs set-user-ID root.

// GetRole is the library's only export; everything else stays hidden.
#pragma GCC visibility push(default)
#include "vorn.h"
#pragma GCC visibility pop

#include "rolesfile.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

static constexpr std::size_t maxRolesFileSize = std::size_t{64} * 1024;

// Callers keep the returned text for the rest of the process.
static char roleText[256];

// Reads until end of file or until `buffer` is full.
static std::optional<std::size_t> readUpTo(int fd, std::span<char> buffer)
{
    std::size_t length = 0;
    while (length < buffer.size()) {
        const ssize_t count = read(fd, buffer.data() + length, buffer.size() - length);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return std::nullopt;
        }
        if (count == 0) {
            break;
        }
        length += static_cast<std::size_t>(count);
    }
    return length;
}

// Gives the length of the whole roles file, or nothing when it cannot be read
// or is too big to trust that `buffer` holds all of it.
static std::optional<std::size_t> readRolesFile(std::span<char> buffer)
{
    const int fd = open(VORN_ROLES_FILE, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return std::nullopt;
    }
    const std::optional<std::size_t> length = readUpTo(fd, buffer);
    close(fd);
    // The buffer has one byte of room beyond the largest file accepted, so a
    // file that fills it is known to be too big rather than cut short.
    if (!length || *length > maxRolesFileSize) {
        return std::nullopt;
    }
    return length;
}

const char* GetRole(const char* loginName)
{
    if (loginName == nullptr) {
        return nullptr;
    }
    char contents[maxRolesFileSize + 1];
    const std::optional<std::size_t> length = readRolesFile(contents);
    if (!length) {
        return nullptr;
    }
    const std::optional<std::string_view> role = findRole({contents, *length}, loginName);
    if (!role || role->size() >= sizeof roleText) {
        return nullptr;
    }
    std::memcpy(roleText, role->data(), role->size());
    roleText[role->size()] = '\0';
    return roleText;
}
