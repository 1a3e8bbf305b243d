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

#include <filesystem>

#include "app/reset.h"
#include "archive/objects.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "storage/nand.h"

MountedFlash::MountedFlash()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "tarvik2-flash-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    folder = tmpl;
    if (data_dir().empty()) {
        data_dir_set(folder);
        owns_data_dir = true;
    }
    flash = new FlashFile(folder + "/flash.dat");
    system_reset();
    remount();
}

MountedFlash::~MountedFlash()
{
    delete flash;
    if (owns_data_dir && data_dir() == folder) data_dir_set("");
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
}

bool MountedFlash::fill_chip() const
{
    // Reading the last byte lengthens the file up to it with erased bytes.
    u8 b;
    return nand_read_raw(nand_info.total_pages - 1, &b, nand_info.page_size + nand_info.spare_size - 1, 1) == NAND_OK;
}

void MountedFlash::remount()
{
    if (fs_init() != FS_OK || fs_mount() != FS_OK) throw std::runtime_error("mount failed");
}

u16 reference_checksum(const u8* data, size_t n, size_t field)
{
    u16 c = 0xAAAA;
    for (size_t i = 0; i < n; ++i) {
        const u8 b = (i == field || i == field + 1) ? 0 : data[i];
        c = static_cast<u16>((c << 1) | (c >> 15));
        c ^= b;
    }
    return c;
}
