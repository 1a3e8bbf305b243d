#include "storage/nand.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "base/file_io.h"
#include "host/session.h"
#include "nand_internal.h"
#include "storage/fs.h"

NandInfo nand_info;
u8 nand_chip_id[5] = {0xEC, 0xDA, 0x10, 0x95, 0x44};

namespace {

// Required size of the work area, set by nand_init.
u32 g_area_needed = 0;
// Length of the image file as far as this module knows it; refreshed from
// the file before the file is lengthened.
u64 g_known_length = 0;
int g_known_fd = -1;

// Erased bytes appended to a short image file.
u8 g_ff_buffer[1024];
constexpr u32 FF_CHUNKS_PER_WRITE = 64;
u8 g_ff_big[sizeof(g_ff_buffer) * FF_CHUNKS_PER_WRITE];

// Raw writes made so far, and the count at which the power is cut.
u64 g_writes_made = 0;
u64 g_power_cut_at = ~0ull;
NandWriteHook g_write_hook = nullptr;

bool power_cut()
{
    return g_writes_made >= g_power_cut_at;
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

u32 page_stride()
{
    return nand_info.page_size + nand_info.spare_size;
}

bool geometry_known()
{
    return nand_info.total_pages != 0 && nand_info.page_size != 0;
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
    if (g_ff_big[0] != 0xFF) {
        std::memset(g_ff_buffer, 0xFF, sizeof g_ff_buffer);
        std::memset(g_ff_big, 0xFF, sizeof g_ff_big);
    }
    // The same whole number of 1024-byte pieces, written in larger runs, but
    // never past the end of the chip's last page.
    u64 missing = (offset - length + sizeof g_ff_buffer - 1) / sizeof g_ff_buffer * sizeof g_ff_buffer;
    const u64 chip_end = static_cast<u64>(nand_info.total_pages) * page_stride();
    if (length + missing > chip_end) missing = chip_end > length ? chip_end - length : 0;
    if (power_cut()) return false;
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

// Common checks of the raw operations: file open, geometry known, access
// inside the page (so nothing outside the image's own pages is touched).
bool raw_access_ok(u32 page, u32 column, u32 length)
{
    if (flash_handle == 0 || !geometry_known()) return false;
    if (page >= nand_info.total_pages) return false;
    const u64 end = static_cast<u64>(column) + length;
    return end <= page_stride();
}

void print_line(const char* text)
{
    std::fputs(text, stdout);
    std::fflush(stdout);
}

// Reports a block whose erase failed and marks it bad.
void erase_failed(u32 block)
{
    std::printf("помечаю плохой блок: %d\n", static_cast<int>(block));
    std::fflush(stdout);
    nand_mark_block_bad(block);
}

// One page as it goes to the file, data area then spare area; large enough
// for every chip nand_init knows (8 KiB pages with 256 spare bytes).
u8 g_page_image[8192 + 256];

// No chip known, no cache (the map stays for nand_init to use again).
void forget_device()
{
    std::memset(&nand_info, 0, sizeof nand_info);
    nand_info.cached_block = -1;
    g_area_needed = 0;
    g_known_fd = -1;
}

}  // namespace

u64 nand_file_offset(u32 page, u32 column)
{
    return static_cast<u64>(page) * page_stride() + column;
}

u64 nand_writes_made()
{
    return g_writes_made;
}

void nand_cut_power_at(u64 write_count)
{
    g_power_cut_at = write_count;
}

void nand_restore_power()
{
    g_power_cut_at = ~0ull;
}

void nand_set_write_hook(NandWriteHook hook)
{
    g_write_hook = hook;
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

int nand_present()
{
    return flash_handle != 0 ? 1 : 0;
}

void nand_reset()
{
    forget_device();
    unmap_image();
    std::memcpy(nand_chip_id, NAND_EMULATED_ID, sizeof nand_chip_id);
    g_writes_made = 0;
    g_power_cut_at = ~0ull;
    g_write_hook = nullptr;
    g_copy_mode = false;
    g_image_changed = 0;
}

void nand_set_read_only_copy(bool on)
{
    g_copy_mode = on;
}

int nand_init()
{
    forget_device();
    if (!nand_present()) return NAND_ERR_NO_DEVICE;
    std::memcpy(nand_info.id, nand_chip_id, 5);
    const u8* id = nand_info.id;
    NandInfo& n = nand_info;
    if (id[0] == 0x20 && id[1] == 0xAA && id[3] == 0x15 && id[4] == 0x44) {
        print_line("NAND02GR3B2D \n");
        n.page_size = 2048;
        n.spare_size = 64;
        n.pages_per_block = 64;
        n.block_count = 2048;
        n.marker_column = 2048;
        n.status_column = 2049;
    } else if (id[0] == 0xEC && id[1] == 0xDA) {
        const u8 b = id[3];
        n.page_size = 1024u << (b & 3);
        n.spare_size = n.page_size / 512 * ((b & 4) ? 16 : 8);
        const u32 block_size = (64u * 1024u) << ((b >> 4) & 3);
        n.pages_per_block = block_size / n.page_size;
        n.block_count = 2048;
        n.marker_column = static_cast<u16>(n.page_size);
        n.status_column = static_cast<u16>(n.page_size + 1);
        // An 8 KiB page in a 64 KiB block leaves 8 pages; every combination
        // yields at least one page per block.
    } else if (id[0] == 0xEC && id[1] == 0x76) {
        if (id[2] == 0xA5) print_line("K9F1208U0M\n");
        if (id[2] == 0x5A) print_line("K9F1208U0C\n");
        n.page_size = 512;
        n.spare_size = 16;
        n.pages_per_block = 32;
        n.block_count = 4096;
        n.marker_column = 517;
        n.status_column = 512;
    } else {
        return NAND_ERR_NO_DEVICE;
    }
    n.block_bytes = n.page_size * n.pages_per_block;
    n.total_pages = n.block_count * n.pages_per_block;
    map_image(static_cast<u64>(n.total_pages) * page_stride());
    g_area_needed = n.total_pages * 4 + n.block_bytes + n.pages_per_block * n.spare_size;
    return static_cast<int>(g_area_needed);
}

int nand_attach(void* area, u32 size)
{
    if (g_area_needed == 0 || size < g_area_needed) return NAND_ERR_NO_DEVICE;
    u8* p = static_cast<u8*>(area);
    nand_info.page_table = reinterpret_cast<u32*>(p);
    nand_info.cache_data = p + nand_info.total_pages * 4;
    nand_info.cache_spare = nand_info.cache_data + nand_info.block_bytes;
    nand_info.cached_block = -1;
    return 1;
}

int nand_read_raw(u32 page, void* dst, u32 column, u32 length)
{
    if (!raw_access_ok(page, column, length)) return 0;
    const u64 offset = nand_file_offset(page, column);
    // The whole access must lie inside the file, or a read that starts
    // exactly at the end of a short file would fail.
    if (!lengthen_to(offset + length)) return 0;
    u8* d = static_cast<u8*>(dst);
    if (g_map && g_map_fd == flash_handle && g_known_fd == flash_handle && offset + length <= g_known_length &&
        offset + length <= g_map_size) {
        std::memcpy(d, g_map + offset, length);
        return 1;
    }
    return fd_pread_all(flash_handle, d, length, offset) == length ? 1 : 0;
}

int nand_write_raw(u32 page, const void* src, u32 column, u32 length)
{
    if (!raw_access_ok(page, column, length)) return 0;
    const u64 offset = nand_file_offset(page, column);
    if (power_cut() || g_image_changed) return 0;
    ++g_writes_made;
    if (g_write_hook) g_write_hook(page, column, src, length);
    if (!lengthen_to(offset)) return 0;
    if (!fd_pwrite_all(flash_handle, src, length, offset)) return 0;
    if (g_known_fd == flash_handle && offset + length > g_known_length) g_known_length = offset + length;
    return 1;
}

int nand_read_page(u32 page, void* dst, u32 column, u32 length)
{
    return nand_read_raw(page, dst, column, length) ? static_cast<int>(length) : NAND_ERR_READ;
}

u8 nand_read_marker(u32 page)
{
    u8 marker = 0;
    if (!nand_read_raw(page, &marker, nand_info.marker_column, 1)) return 0;
    return marker;
}

void nand_mark_page_bad(u32 page)
{
    const u8 zero = 0;
    nand_write_raw(page, &zero, nand_info.marker_column, 1);
}

int nand_mark_block_bad(u32 block)
{
    if (block >= nand_info.block_count) return 1;
    const u32 first = block * nand_info.pages_per_block;
    for (u32 k = 0; k < nand_info.pages_per_block; ++k) nand_mark_page_bad(first + k);
    return 1;
}

int nand_block_is_good(u32 block)
{
    if (block >= nand_info.block_count) return 0;
    const u32 first = block * nand_info.pages_per_block;
    for (u32 k = 0; k < nand_info.pages_per_block; ++k)
        if (nand_read_marker(first + k) != 0xFF) return 0;
    return 1;
}

int nand_erase_block(u32 block, int force)
{
    if (block >= nand_info.block_count) return NAND_ERR_BAD_BLOCK;
    if (cut_short()) return NAND_ERR_ERASE;
    if (!force && !nand_block_is_good(block)) return NAND_ERR_BAD_BLOCK;
    const u32 stride = page_stride();
    if (g_ff_big[0] != 0xFF) {
        std::memset(g_ff_buffer, 0xFF, sizeof g_ff_buffer);
        std::memset(g_ff_big, 0xFF, sizeof g_ff_big);
    }
    const u32 first = block * nand_info.pages_per_block;
    bool ok = stride <= sizeof g_ff_big;
    for (u32 k = 0; ok && k < nand_info.pages_per_block; ++k)
        if (!nand_write_raw(first + k, g_ff_big, 0, stride)) ok = false;
    if (ok) return 1;
    erase_failed(block);
    return NAND_ERR_ERASE;
}

u32 nand_block_io(NandIo op, u32 block, u8* buffer, u32 offset, u32 length)
{
    if (!geometry_known() || block >= nand_info.block_count) return 0;
    const u32 ps = nand_info.page_size;
    u32 page = block * nand_info.pages_per_block + offset / ps;
    const u32 column = offset % ps;
    auto move = [op](u32 p, u8* buf, u32 col, u32 len) {
        return op == NAND_IO_READ ? nand_read_raw(p, buf, col, len) : nand_write_raw(p, buf, col, len);
    };
    u32 done = 0;
    if (column != 0 && length > 0) {
        const u32 n = length < ps - column ? length : ps - column;
        if (!move(page, buffer, column, n)) return 0;
        done = n;
        ++page;
    }
    while (length - done >= ps) {
        if (!move(page, buffer + done, 0, ps)) return done;
        done += ps;
        ++page;
    }
    if (done < length) {
        if (!move(page, buffer + done, 0, length - done)) return done;
        done = length;
    }
    return done;
}

int nand_load_block(u32 block)
{
    if (nand_info.cache_data == nullptr || block >= nand_info.block_count) return NAND_ERR_READ;
    if (nand_info.cached_block == static_cast<i32>(block)) return 1;
    bool ok =
        nand_block_io(NAND_IO_READ, block, nand_info.cache_data, 0, nand_info.block_bytes) == nand_info.block_bytes;
    const u32 first = block * nand_info.pages_per_block;
    for (u32 k = 0; k < nand_info.pages_per_block; ++k) {
        u8* slot = nand_info.cache_spare + k * nand_info.spare_size;
        if (!nand_read_raw(first + k, slot, nand_info.page_size, nand_info.spare_size)) {
            nand_mark_page_bad(first + k);
            ok = false;
        }
    }
    // A block whose load failed is not kept: its next use reads it again.
    nand_info.cached_block = ok ? static_cast<i32>(block) : -1;
    return ok ? 1 : NAND_ERR_READ;
}

// Erase, patch the cache, write the block back. The image file has no use
// for an erased state between the erase and the write-back, so the two are
// one write per page of its final bytes (data and spare area): a write cut
// off by a power loss leaves every page either as it was or as it is meant
// to be, never blank, and the file ends up as after an erase of the block
// followed by a write-back of the whole cache. A page write that fails is a
// failed erase: the block is reported and marked bad.
int nand_rewrite_block(u32 block, u8* place, const void* src, u32 length)
{
    const NandInfo& n = nand_info;
    if (n.cache_data == nullptr) return 0;
    if (!nand_block_is_good(block)) return NAND_ERR_ERASE;  // the erase refuses it
    if (length > 0) std::memmove(place, src, length);
    const u32 stride = page_stride();
    const u32 first = block * n.pages_per_block;
    for (u32 k = 0; k < n.pages_per_block; ++k) {
        bool ok = stride <= sizeof g_page_image;
        if (ok) {
            std::memcpy(g_page_image, n.cache_data + k * n.page_size, n.page_size);
            std::memcpy(g_page_image + n.page_size, n.cache_spare + k * n.spare_size, n.spare_size);
            ok = nand_write_raw(first + k, g_page_image, 0, stride) == 1;
        }
        if (!ok) {
            erase_failed(block);
            return NAND_ERR_ERASE;
        }
    }
    return static_cast<int>(length);
}

int nand_program(u32 page, const void* src, u32 column, u32 length)
{
    const NandInfo& n = nand_info;
    if (static_cast<u64>(column) + length > static_cast<u64>(n.page_size) + n.spare_size) return NAND_ERR_RANGE;
    if (!geometry_known() || page >= n.total_pages) return NAND_ERR_READ;
    if (cut_short()) return NAND_ERR_WRITE;
    const u32 block = page / n.pages_per_block;
    if (nand_load_block(block) != 1) return NAND_ERR_READ;
    const u8* s = static_cast<const u8*>(src);
    const u32 k = page - block * n.pages_per_block;
    u8* spare_slot = n.cache_spare + k * n.spare_size;
    // The cache keeps data and spare areas apart, so a write that starts in
    // the data area and runs on into the spare area is split in two pieces.
    u8* data_target = nullptr;
    u32 data_len = 0;
    u8* spare_target = spare_slot;
    if (column < n.page_size) {
        data_target = n.cache_data + k * n.page_size + column;
        data_len = length < n.page_size - column ? length : n.page_size - column;
    } else {
        spare_target = spare_slot + (column - n.page_size);
    }
    const u32 spare_len = length - data_len;
    bool in_place = true;
    // Data bytes must still be erased; spare bytes follow the bit rule.
    for (u32 i = 0; in_place && i < data_len; ++i)
        if (data_target[i] != 0xFF) in_place = false;
    for (u32 i = 0; in_place && i < spare_len; ++i)
        if (s[data_len + i] & ~spare_target[i]) in_place = false;
    if (in_place) {
        if (data_len) std::memcpy(data_target, s, data_len);
        if (spare_len) std::memcpy(spare_target, s + data_len, spare_len);
        if (!nand_write_raw(page, s, column, length)) {
            nand_mark_page_bad(page);
            return NAND_ERR_WRITE;
        }
        return static_cast<int>(length);
    }
    int r;
    if (spare_len == 0) {
        r = nand_rewrite_block(block, data_target, s, length);
    } else {
        if (data_len) std::memcpy(data_target, s, data_len);
        r = nand_rewrite_block(block, spare_target, s + data_len, spare_len);
        if (r >= 0) r = static_cast<int>(length);
    }
    if (r < 0) {
        // The cache no longer matches the chip.
        nand_info.cached_block = -1;
        if (r == NAND_ERR_WRITE) nand_mark_block_bad(block);
    }
    return r;
}

int nand_purge_block(u32 block)
{
    const NandInfo& n = nand_info;
    if (block >= n.block_count) return NAND_ERR_RANGE;
    if (cut_short()) return NAND_ERR_READ;
    if (!nand_block_is_good(block)) return NAND_ERR_BAD_BLOCK;
    if (nand_load_block(block) != 1) return NAND_ERR_READ;
    const u32 state_at = static_cast<u32>(n.status_column) - n.page_size;
    bool any = false;
    for (u32 k = 0; k < n.pages_per_block; ++k) {
        u8* spare = n.cache_spare + k * n.spare_size;
        const u8 state = spare[state_at];
        // Dead pages: state 0, and any value the file system does not know,
        // which it reads as dead as well.
        const bool dead = state != PAGE_FREE && state != PAGE_HEAD && state != PAGE_BODY && state != PAGE_LAST &&
                          state != PAGE_HEAD_ALT && state != PAGE_BAD;
        if (!dead) continue;
        std::memset(n.cache_data + k * n.page_size, 0xFF, n.page_size);
        std::memset(spare, 0xFF, n.spare_size);
        any = true;
    }
    if (!any) return 0;
    const int r = nand_rewrite_block(block, n.cache_data, nullptr, 0);
    if (r < 0) nand_info.cached_block = -1;
    return r;
}
