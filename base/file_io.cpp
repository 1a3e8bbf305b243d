#include "base/file_io.h"

#include <unistd.h>

#include <cerrno>

bool fd_write_all(int fd, const void* data, size_t n)
{
    const u8* p = static_cast<const u8*>(data);
    while (n > 0) {
        const ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

bool fd_pwrite_all(int fd, const void* data, size_t n, u64 offset)
{
    const u8* p = static_cast<const u8*>(data);
    while (n > 0) {
        const ssize_t w = pwrite(fd, p, n, static_cast<off_t>(offset));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
        offset += static_cast<u64>(w);
    }
    return true;
}

size_t fd_pread_all(int fd, void* buffer, size_t n, u64 offset)
{
    u8* p = static_cast<u8*>(buffer);
    size_t done = 0;
    while (done < n) {
        const ssize_t r = pread(fd, p + done, n - done, static_cast<off_t>(offset + done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        done += static_cast<size_t>(r);
    }
    return done;
}
