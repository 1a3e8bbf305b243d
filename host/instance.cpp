#include "host/instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

DataDirLock::~DataDirLock()
{
    release();
}

bool DataDirLock::acquire(const std::string& folder, std::string* error, bool* busy)
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
            if (error) *error = dir + ": another program (a Tarvik-2 emulator or the archive tool) is using this data folder";
        } else if (error) {
            *error = dir + ": cannot lock the folder: " + std::strerror(e);
        }
        return false;
    }
    fd_ = fd;
    return true;
}

void DataDirLock::release()
{
    if (fd_ >= 0) close(fd_);  // closing drops the lock
    fd_ = -1;
}
