#include "tests/support/flash_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

#include "host/session.h"

FlashFile::FlashFile(const std::string& path) : path_(path)
{
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ <= 0) throw std::runtime_error("cannot open " + path);
    saved_ = flash_handle;
    flash_handle = fd_;
}

FlashFile::~FlashFile()
{
    flash_handle = saved_;
    close(fd_);
}

u64 FlashFile::size() const
{
    struct stat st;
    fstat(fd_, &st);
    return static_cast<u64>(st.st_size);
}

std::vector<u8> FlashFile::read(u64 offset, size_t n) const
{
    std::vector<u8> out(n);
    const ssize_t r = pread(fd_, out.data(), n, static_cast<off_t>(offset));
    out.resize(r < 0 ? 0 : static_cast<size_t>(r));
    return out;
}

void FlashFile::write(u64 offset, const std::vector<u8>& bytes) const
{
    if (pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(offset)) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("cannot write " + path_);
}
