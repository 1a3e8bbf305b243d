#include "front/common/instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/session.h"

namespace {

const char* const IN_USE = ": another program (a Tarvik-2 emulator or the archive tool) is using this ";

// The lock this process took last and still holds.
DataDirLock* g_current = nullptr;

std::string in_folder(const std::string& folder, const char* name)
{
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The run's cover of the files it opens: the lock taken last, while held.
bool cover_current(int fd, const std::string& path, std::string* error)
{
    return g_current == nullptr || g_current->cover(fd, path, error);
}

}  // namespace

DataDirLock::~DataDirLock()
{
    release();
}

bool DataDirLock::acquire(const std::string& folder, std::string* error, bool* busy, const std::string& image)
{
    release();
    if (busy) *busy = false;
    const std::string dir = folder.empty() ? "." : folder;
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = dir + ": cannot open the folder: " + std::strerror(errno);
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        close(fd);
        if (e == EWOULDBLOCK) {
            if (busy) *busy = true;
            if (error) *error = dir + IN_USE + "data folder";
        } else if (error) {
            *error = dir + ": cannot lock the folder: " + std::strerror(e);
        }
        return false;
    }
    fd_ = fd;
    for (const std::string& path : {image.empty() ? in_folder(dir, "flash.dat") : image, in_folder(dir, "fram.dat")}) {
        if (!lock_file(path, error)) {
            release();
            if (busy) *busy = true;
            return false;
        }
    }
    g_current = this;
    data_lock_set_cover(cover_current);
    return true;
}

bool DataDirLock::lock_file(const std::string& path, std::string* error)
{
    // Not blocking on a FIFO; what is not a regular file is left to the
    // code that opens it.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return true;
    const bool ok = lock_open_file(fd, path, error);
    close(fd);
    return ok;
}

bool DataDirLock::lock_open_file(int fd, const std::string& path, std::string* error)
{
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return true;
    for (const File& f : files_)
        if (f.dev == st.st_dev && f.ino == st.st_ino) return true;
    // A lock of its own: it stays when the caller closes `fd`.
    const int own = open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const int held = own >= 0 ? own : fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (held < 0) return true;
    if (flock(held, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        close(held);
        if (e != EWOULDBLOCK) return true;  // a file system without locks
        if (error) *error = path + IN_USE + "file (a link to it from another data folder?)";
        return false;
    }
    files_.push_back({held, st.st_dev, st.st_ino});
    return true;
}

bool DataDirLock::cover(int fd, const std::string& path, std::string* error)
{
    return lock_open_file(fd, path, error);
}

void DataDirLock::release()
{
    for (const File& f : files_) close(f.fd);
    files_.clear();
    if (fd_ >= 0) close(fd_);  // closing drops the lock
    fd_ = -1;
    if (g_current == this) g_current = nullptr;
}

namespace {

std::string g_changed_line;
int g_changed_status = 1;

}  // namespace

void image_changed_prepare(const char* program, const std::string& image, int status)
{
    g_changed_line = std::string(program) + ": " + image +
                     " was changed by another program (cut short or written over); stopped, nothing more "
                     "written\n";
    g_changed_status = status;
}

void image_changed_exit()
{
    const char* p = g_changed_line.data();
    size_t left = g_changed_line.size();
    while (left > 0) {
        const ssize_t n = write(STDERR_FILENO, p, left);
        if (n <= 0) break;
        p += n;
        left -= static_cast<size_t>(n);
    }
    _exit(g_changed_status);
}
