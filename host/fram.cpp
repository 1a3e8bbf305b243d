#include "host/fram.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/checksum.h"
#include "base/file_io.h"
#include "host/session.h"

namespace {

bool g_warned = false;
// Writes made so far, and the count at which the power is cut.
u64 g_writes_made = 0;
u64 g_power_cut_at = ~0ull;

// One line on stderr for the first problem of a run: "what" says what went
// wrong; `err` is the errno of the failing call, 0 when there is none.
void warn_once(const std::string& path, const char* what, int err)
{
    if (g_warned) return;
    g_warned = true;
    if (err != 0)
        std::fprintf(stderr, "tarvik2: %s: %s: %s; the settings are not kept\n", path.c_str(), what,
                     std::strerror(err));
    else
        std::fprintf(stderr, "tarvik2: %s: %s; the settings are not kept\n", path.c_str(), what);
}

}  // namespace

void fram_reset()
{
    g_warned = false;
    g_writes_made = 0;
    g_power_cut_at = ~0ull;
}

u64 fram_writes_made()
{
    return g_writes_made;
}

void fram_cut_power_at(u64 write_count)
{
    g_power_cut_at = write_count;
}

void fram_restore_power()
{
    g_power_cut_at = ~0ull;
}

int fram_open()
{
    const std::string path = data_path("fram.dat");
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        warn_once(path, "cannot open", errno);
        return -1;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        warn_once(path, "cannot examine", errno);
        close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        warn_once(path, "not a regular file", 0);
        close(fd);
        return -1;
    }
    // Made during the run, or reached through a link another program holds.
    std::string busy;
    if (!data_lock_cover(fd, path, &busy)) {
        warn_once(path, "another program (a Tarvik-2 emulator or the archive tool) is using this file", 0);
        close(fd);
        return -1;
    }
    off_t len = st.st_size;
    if (len < static_cast<off_t>(FRAM_SIZE)) {
        static const std::vector<u8> erased(1024, 0xFF);
        if (lseek(fd, 0, SEEK_END) < 0) {
            warn_once(path, "cannot seek", errno);
            close(fd);
            return -1;
        }
        while (len < static_cast<off_t>(FRAM_SIZE)) {
            // A write that moves nothing leaves errno as it was.
            errno = 0;
            if (!fd_write_all(fd, erased.data(), erased.size())) {
                warn_once(path, "cannot lengthen", errno);
                break;
            }
            len += 1024;
        }
    }
    return fd;
}

u32 fram_write(u32 offset, const void* data, u32 n)
{
    if (g_writes_made >= g_power_cut_at) return 0;
    ++g_writes_made;
    const int fd = fram_open();
    if (fd < 0) return 0;
    const u32 done = fd_pwrite_all(fd, data, n, offset) ? n : 0;
    close(fd);
    return done;
}

u32 fram_read(u32 offset, void* buffer, u32 n)
{
    const int fd = fram_open();
    if (fd < 0) return 0;
    const u32 done = static_cast<u32>(fd_pread_all(fd, buffer, n, offset));
    close(fd);
    return done;
}

int param_read(u32 offset, void* buffer, u32 n)
{
    std::memset(buffer, 0, n);
    fram_read(offset, buffer, n);
    return 1;
}

int param_write_verified(u32 offset, const void* data, u32 n)
{
    if (n == 0) return 1;
    std::vector<u8> check(n);
    for (int attempt = 0; attempt < 8; ++attempt) {
        fram_write(offset, data, n);
        param_read(offset, check.data(), n);
        if (std::memcmp(check.data(), data, n) == 0) return 1;
    }
    return 0;
}

int param_read_checked(u32 offset, void* buffer, u32 n, u32 field)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        param_read(offset, buffer, n);
        if (checksum_verify(buffer, n, field) == 1) return 1;
    }
    return 0;
}
