// Reading a small file whole, shared by the stand-ins.
#pragma once

#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <span>
#include <unistd.h>

// Reads the file at `path` into `buffer`, which is one byte larger than the
// largest file accepted, so a file that fills it is known to be too big
// rather than cut short. Returns 0 and sets `length`, or the error number:
// that of open or read, or EFBIG for a file too big.
inline int readWholeFile(const char* path, std::span<char> buffer, std::size_t& length)
{
    length = 0;
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return errno;
    int error = 0;
    while (length < buffer.size()) {
        const ssize_t count = read(fd, buffer.data() + length, buffer.size() - length);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            error = errno;
            break;
        }
        if (count == 0)
            break;
        length += static_cast<std::size_t>(count);
    }
    close(fd);
    if (error == 0 && length == buffer.size())
        error = EFBIG;
    return error;
}
