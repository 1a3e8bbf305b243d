#include "host/session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/file_io.h"
#include "host/device.h"

int flash_handle = 0;

namespace {

std::string g_data_dir;
MainRoutine g_main_routine = nullptr;
bool g_running = false;
FlashProgress g_flash_progress = nullptr;
DataLockCover g_lock_cover = nullptr;
constexpr size_t FLASH_BLOCK_BYTES = 16896;

std::string describe_errno(const std::string& path, const char* what)
{
    return path + ": " + what + ": " + std::strerror(errno);
}

// Keeps the handle away from 0, which means "closed".
int nonzero_fd(int fd)
{
    if (fd != 0) return fd;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

// The open image under the program's lock (when it holds one): the handle,
// or 0 when another program holds the file.
int locked(int fd, const std::string& path, std::string* error)
{
    std::string e;
    if (data_lock_cover(fd, path, &e)) return fd;
    if (error) *error = e;
    close(fd);
    return 0;
}

}  // namespace

void data_dir_set(const std::string& dir)
{
    g_data_dir = dir;
}

const std::string& data_dir()
{
    return g_data_dir;
}

std::string data_path(const char* name)
{
    if (g_data_dir.empty()) return name;
    if (g_data_dir.back() == '/') return g_data_dir + name;
    return g_data_dir + "/" + name;
}

void emu_set_main(MainRoutine routine)
{
    g_main_routine = routine;
}

void flash_file_set_progress(FlashProgress progress)
{
    g_flash_progress = progress;
}

void data_lock_set_cover(DataLockCover cover)
{
    g_lock_cover = cover;
}

bool data_lock_cover(int fd, const std::string& path, std::string* error)
{
    return g_lock_cover == nullptr || g_lock_cover(fd, path, error);
}

int flash_file_open(std::string* error)
{
    const std::string path = data_path("flash.dat");
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0) return locked(nonzero_fd(fd), path, error);
    if (errno != ENOENT) {
        if (error) *error = describe_errno(path, "cannot open");
        return 0;
    }
    fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        if (error) *error = describe_errno(path, "cannot create");
        return 0;
    }
    fd = locked(nonzero_fd(fd), path, error);
    if (fd == 0) return 0;
    // An erased chip: 16384 blocks of 16896 bytes, all 0xFF.
    std::vector<unsigned char> block(FLASH_BLOCK_BYTES, 0xFF);
    for (u32 i = 0; i < FLASH_FILE_BLOCKS; ++i) {
        const bool written = fd_write_all(fd, block.data(), block.size());
        const bool go_on = written && (!g_flash_progress || g_flash_progress(i + 1, FLASH_FILE_BLOCKS));
        if (!go_on) {
            if (error)
                *error =
                    written ? path + ": creation given up" : describe_errno(path, "cannot write the new flash image");
            close(fd);
            // A half-written image would look like a damaged chip next time.
            unlink(path.c_str());
            return 0;
        }
    }
    return fd;
}

void flash_file_close()
{
    if (flash_handle != 0) close(flash_handle);
    flash_handle = 0;
}

void emu_run()
{
    g_running = true;
    power_off_flag = 0;
    std::string error;
    flash_handle = flash_file_open(&error);
    if (flash_handle == 0) std::fprintf(stderr, "tarvik2: %s\n", error.c_str());
    // Switched off while flash.dat was being written: the instrument never
    // starts.
    const bool switched_off = power_off_flag != 0;
    if (switched_off) {
        std::fprintf(stderr, "tarvik2: switched off before the instrument started\n");
    } else if (g_main_routine) {
        g_main_routine();
    } else {
        std::fprintf(stderr, "tarvik2: no main routine to run\n");
    }
    flash_file_close();
    g_running = false;
}

bool emu_running()
{
    return g_running;
}
