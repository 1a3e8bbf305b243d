// An image file opened as the instrument's flash.dat for the length of a test.
#pragma once
#include <string>
#include <vector>

#include "base/types.h"

class FlashFile {
public:
    // Opens (creating it empty if missing) `path` and makes it flash_handle.
    explicit FlashFile(const std::string& path);
    ~FlashFile();
    FlashFile(const FlashFile&) = delete;
    FlashFile& operator=(const FlashFile&) = delete;

    u64 size() const;
    std::vector<u8> read(u64 offset, size_t n) const;
    void write(u64 offset, const std::vector<u8>& bytes) const;
    void write_byte(u64 offset, u8 byte) const { write(offset, {byte}); }
    u8 byte_at(u64 offset) const { return read(offset, 1).at(0); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_;
    int saved_;
};

// File offset of (page, column) on the emulated chip.
constexpr u64 flash_offset(u32 page, u32 column)
{
    return static_cast<u64>(page) * 2112 + column;
}

// A mounted file system on a fresh image in a temporary folder. The image
// starts empty (zero bytes); the mount lengthens it to the chip's size.
struct MountedFlash {
    MountedFlash();
    ~MountedFlash();
    // Mounts the image again from the chip, as at the next start.
    void remount();
    // Lengthens the image file to the whole chip (erased past what is
    // written), as the instrument's flash.dat is: true when done.
    bool fill_chip() const;
    std::string folder;
    FlashFile* flash;
    // The parameter memory (fram.dat) goes to the same temporary folder
    // unless the test has chosen a data folder: tests run side by side and
    // must not share a file in the working folder.
    bool owns_data_dir = false;
};

// Reference checksum of stored records (start 0xAAAA; rotate left, XOR).
u16 reference_checksum(const u8* data, size_t n, size_t field);
