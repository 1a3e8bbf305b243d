// The image file flash.dat as the NAND layer's device: reads through a
// shared map of the file, writes with positioned writes, a short file
// lengthened with erased bytes, and the image changed under the running
// program noticed (a file cut shorter, a lost page under the map).
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "base/file_io.h"
#include "host/session.h"
#include "nand_internal.h"
#include "storage/nand.h"

namespace {

// The chip as nand_init announced it.
u32 g_stride = 0;
u32 g_pages = 0;
u32 g_pages_per_block = 0;

// Length of the image file as far as this module knows it; refreshed from
// the file before the file is lengthened.
u64 g_known_length = 0;
int g_known_fd = -1;

// Erased bytes appended to a short image file.
u8 g_ff_buffer[1024];
constexpr u32 FF_CHUNKS_PER_WRITE = 64;
u8 g_ff_big[sizeof(g_ff_buffer) * FF_CHUNKS_PER_WRITE];

void fill_ff()
{
    if (g_ff_big[0] != 0xFF) {
        std::memset(g_ff_buffer, 0xFF, sizeof g_ff_buffer);
        std::memset(g_ff_big, 0xFF, sizeof g_ff_big);
    }
}

// The image file changed under the program (see nand_set_changed_hook).
volatile std::sig_atomic_t g_image_changed = 0;
NandChangedHook g_changed_hook = nullptr;
struct sigaction g_old_bus_action {};
bool g_bus_handler_installed = false;

void image_changed()
{
    g_image_changed = 1;
    if (g_changed_hook) g_changed_hook();
}

// Reads go through a shared read-only map of the image file (made by
// nand_init for the open file, as large as the chip); a byte is read through
// it only once the file is known to reach that byte. Writes use positioned
// writes, which the map sees at once. A later nand_init on the same file
// keeps the map (the next mount then finds its pages mapped already): the
// map holds the file, so no other file can have its device and inode.
const u8* g_map = nullptr;
u64 g_map_size = 0;
int g_map_fd = -1;
dev_t g_map_dev = 0;
ino_t g_map_ino = 0;

void unmap_image()
{
    if (g_map) munmap(const_cast<u8*>(g_map), g_map_size);
    g_map = nullptr;
    g_map_size = 0;
    g_map_fd = -1;
}

// Read-only use: the image read once into private memory (in large pages
// where the system gives them), which costs far less than faulting in a
// shared map page by page. Writes would not reach this copy.
bool g_copy_mode = false;
constexpr size_t COPY_CHUNK = 8u << 20;

bool copy_image(u64 size, const struct stat& st)
{
    void* m = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) return false;
    madvise(m, size, MADV_HUGEPAGE);
    u8* d = static_cast<u8*>(m);
    const u64 have = static_cast<u64>(st.st_size) < size ? static_cast<u64>(st.st_size) : size;
    for (u64 at = 0; at < have;) {
        const size_t n = static_cast<size_t>(have - at < COPY_CHUNK ? have - at : COPY_CHUNK);
        if (fd_pread_all(flash_handle, d + at, n, at) != n) {
            munmap(m, size);
            return false;
        }
        at += n;
    }
    mprotect(m, size, PROT_READ);
    g_map = d;
    g_map_size = size;
    g_map_fd = flash_handle;
    g_map_dev = st.st_dev;
    g_map_ino = st.st_ino;
    return true;
}

void map_image(u64 size)
{
    struct stat st;
    if (fstat(flash_handle, &st) != 0) return unmap_image();
    if (g_map && g_map_size == size && st.st_dev == g_map_dev && st.st_ino == g_map_ino) {
        g_map_fd = flash_handle;
        return;
    }
    unmap_image();
    if (g_copy_mode && copy_image(size, st)) return;
    void* m = mmap(nullptr, size, PROT_READ, MAP_SHARED, flash_handle, 0);
    if (m == MAP_FAILED) return;  // positioned reads instead
    g_map = static_cast<const u8*>(m);
    g_map_size = size;
    g_map_fd = flash_handle;
    g_map_dev = st.st_dev;
    g_map_ino = st.st_ino;
}

// A bus error inside the shared map: the file lost the page under it.
void on_bus_error(int, siginfo_t* info, void*)
{
    const u8* at = static_cast<const u8*>(info->si_addr);
    if (g_map && g_map_fd >= 0 && !g_copy_mode && at >= g_map && at < g_map + g_map_size) image_changed();
    // Not the map's, or the hook returned: the access faults again under the
    // action that was there before.
    sigaction(SIGBUS, &g_old_bus_action, nullptr);
    g_bus_handler_installed = false;
}

// Shorter than this program has seen it: someone else cut it. Looked at
// once per operation that writes (a block rewrite is 64 raw writes).
bool cut_short()
{
    if (g_image_changed) return true;
    if (g_known_fd != flash_handle) return false;
    struct stat st;
    if (fstat(flash_handle, &st) != 0 || static_cast<u64>(st.st_size) >= g_known_length) return false;
    image_changed();
    return true;
}

bool file_length(u64* length)
{
    struct stat st;
    if (fstat(flash_handle, &st) != 0) return false;
    *length = static_cast<u64>(st.st_size);
    g_known_length = *length;
    g_known_fd = flash_handle;
    return true;
}

// Appends erased bytes, 1024 at a time, until the file is at least `offset`
// bytes long.
bool lengthen_to(u64 offset)
{
    if (g_image_changed) return false;
    if (g_known_fd == flash_handle && g_known_length >= offset) return true;
    u64 length;
    if (!file_length(&length)) return false;
    if (length >= offset) return true;
    fill_ff();
    // The same whole number of 1024-byte pieces, written in larger runs, but
    // never past the end of the chip's last page.
    u64 missing = (offset - length + sizeof g_ff_buffer - 1) / sizeof g_ff_buffer * sizeof g_ff_buffer;
    const u64 chip_end = static_cast<u64>(g_pages) * g_stride;
    if (length + missing > chip_end) missing = chip_end > length ? chip_end - length : 0;
    if (nand_power_cut()) return false;
    while (missing > 0) {
        const size_t n = missing < sizeof g_ff_big ? static_cast<size_t>(missing) : sizeof g_ff_big;
        if (!fd_pwrite_all(flash_handle, g_ff_big, n, length)) {
            g_known_fd = -1;
            return false;
        }
        length += n;
        missing -= n;
    }
    g_known_length = length;
    return true;
}

int file_size(void*, u32 pages, u32 page_bytes, u32 pages_per_block)
{
    if (flash_handle == 0) return NAND_ERR_NO_DEVICE;
    if (pages == 0) return NAND_OK;
    g_stride = page_bytes;
    g_pages = pages;
    g_pages_per_block = pages_per_block;
    g_known_fd = -1;
    map_image(static_cast<u64>(pages) * page_bytes);
    return NAND_OK;
}

int file_read(void*, u32 page, u32 column, void* dst, u32 length)
{
    if (flash_handle == 0) return NAND_ERR_READ;
    const u64 offset = nand_file_offset(page, column);
    // The whole access must lie inside the file, or a read that starts
    // exactly at the end of a short file would fail.
    if (!lengthen_to(offset + length)) return NAND_ERR_READ;
    u8* d = static_cast<u8*>(dst);
    if (g_map && g_map_fd == flash_handle && g_known_fd == flash_handle && offset + length <= g_known_length &&
        offset + length <= g_map_size) {
        std::memcpy(d, g_map + offset, length);
        return NAND_OK;
    }
    return fd_pread_all(flash_handle, d, length, offset) == length ? NAND_OK : NAND_ERR_READ;
}

int file_program(void*, u32 page, u32 column, const void* src, u32 length)
{
    if (flash_handle == 0) return NAND_ERR_WRITE;
    const u64 offset = nand_file_offset(page, column);
    if (!lengthen_to(offset)) return NAND_ERR_WRITE;
    if (!fd_pwrite_all(flash_handle, src, length, offset)) return NAND_ERR_WRITE;
    if (g_known_fd == flash_handle && offset + length > g_known_length) g_known_length = offset + length;
    return NAND_OK;
}

// The file has no erased state of its own: erased bytes written over each
// page, one write per page.
int file_erase(void* context, u32 block)
{
    fill_ff();
    if (g_stride > sizeof g_ff_big) return NAND_ERR_ERASE;
    const u32 first = block * g_pages_per_block;
    for (u32 k = 0; k < g_pages_per_block; ++k)
        if (file_program(context, first + k, 0, g_ff_big, g_stride) != NAND_OK) return NAND_ERR_ERASE;
    return NAND_OK;
}

int file_sync(void*)
{
    return cut_short() ? NAND_ERR_WRITE : NAND_OK;
}

const NandBlockDevice FILE_DEVICE = {nullptr, file_size, file_read, file_program, file_erase, file_sync};

}  // namespace

const NandBlockDevice* nand_file_device()
{
    return &FILE_DEVICE;
}

u64 nand_file_offset(u32 page, u32 column)
{
    return static_cast<u64>(page) * g_stride + column;
}

void nand_set_changed_hook(NandChangedHook hook)
{
    g_changed_hook = hook;
    if (hook && !g_bus_handler_installed) {
        struct sigaction sa {};
        sa.sa_sigaction = on_bus_error;
        sa.sa_flags = SA_SIGINFO;
        sigemptyset(&sa.sa_mask);
        g_bus_handler_installed = sigaction(SIGBUS, &sa, &g_old_bus_action) == 0;
    } else if (!hook && g_bus_handler_installed) {
        sigaction(SIGBUS, &g_old_bus_action, nullptr);
        g_bus_handler_installed = false;
    }
}

bool nand_image_changed()
{
    return g_image_changed != 0;
}

void nand_set_read_only_copy(bool on)
{
    g_copy_mode = on;
}

void nand_file_reset()
{
    unmap_image();
    g_known_fd = -1;
    g_copy_mode = false;
    g_image_changed = 0;
}
