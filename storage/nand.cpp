#include "storage/nand.h"

#include <cstdio>
#include <cstring>

#include "nand_internal.h"
#include "storage/page_state.h"

NandInfo nand_info;
u8 nand_chip_id[5] = {0xEC, 0xDA, 0x10, 0x95, 0x44};

namespace {

// Required size of the work area, set by nand_init.
u32 g_area_needed = 0;

// The device set by nand_set_device; nullptr for the image file.
const NandBlockDevice* g_set_device = nullptr;

// Raw writes made so far, and the count at which the power is cut.
u64 g_writes_made = 0;
u64 g_power_cut_at = ~0ull;
NandWriteHook g_write_hook = nullptr;

u32 page_stride()
{
    return nand_info.page_size + nand_info.spare_size;
}

bool geometry_known()
{
    return nand_info.total_pages != 0 && nand_info.page_size != 0;
}

const NandBlockDevice& device()
{
    return *nand_device();
}

// Common checks of the raw operations: a medium, geometry known, access
// inside the page (so nothing outside the chip's own pages is touched).
bool raw_access_ok(u32 page, u32 column, u32 length)
{
    if (nand_present() != NAND_OK || !geometry_known()) return false;
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

// One page as it goes to the device, data area then spare area; large
// enough for every chip nand_init knows (8 KiB pages with 256 spare bytes).
u8 g_page_image[8192 + 256];
// An erased page, for an erase that the power cuts short.
u8 g_erased_page[sizeof g_page_image];

// No chip known, no cache (the image file's map stays for nand_init to use
// again).
void forget_device()
{
    std::memset(&nand_info, 0, sizeof nand_info);
    nand_info.cached_block = -1;
    g_area_needed = 0;
}

// Counts a raw write that the power and the medium allow and tells the write
// hook: false when there is no power or the image file changed.
bool count_write(u32 page, u32 column, const void* src, u32 length)
{
    if (nand_power_cut() || nand_image_changed()) return false;
    ++g_writes_made;
    if (g_write_hook) g_write_hook(page, column, src, length);
    return true;
}

// The pages of an erase, one write each: the device erases the block when
// the power lasts past all of them; else the pages are written erased one
// by one as far as the power goes (the last one before the cut as well).
bool erase_pages(u32 block)
{
    const u32 ppb = nand_info.pages_per_block;
    const u32 first = block * ppb;
    const u32 stride = page_stride();
    if (!raw_access_ok(first, 0, stride) || stride > sizeof g_erased_page) return false;
    if (g_erased_page[0] != 0xFF) std::memset(g_erased_page, 0xFF, sizeof g_erased_page);
    const bool lasts = g_writes_made < g_power_cut_at && g_power_cut_at - g_writes_made > ppb;
    if (!lasts || nand_image_changed()) {
        for (u32 k = 0; k < ppb; ++k)
            if (nand_write_raw(first + k, g_erased_page, 0, stride) != NAND_OK) return false;
        return true;
    }
    for (u32 k = 0; k < ppb; ++k) count_write(first + k, 0, g_erased_page, stride);
    return device().erase(device().context, block) == NAND_OK;
}

}  // namespace

bool nand_power_cut()
{
    return g_writes_made >= g_power_cut_at;
}

void nand_set_device(const NandBlockDevice* device)
{
    g_set_device = device;
}

const NandBlockDevice* nand_device()
{
    return g_set_device ? g_set_device : nand_file_device();
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

int nand_present()
{
    return device().size(device().context, 0, 0, 0) == NAND_OK ? NAND_OK : NAND_FAILED;
}

void nand_reset()
{
    forget_device();
    nand_file_reset();
    std::memcpy(nand_chip_id, NAND_EMULATED_ID, sizeof nand_chip_id);
    g_writes_made = 0;
    g_power_cut_at = ~0ull;
    g_write_hook = nullptr;
}

int nand_init()
{
    forget_device();
    if (nand_present() != NAND_OK) return NAND_ERR_NO_DEVICE;
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
    if (device().size(device().context, n.total_pages, page_stride(), n.pages_per_block) != NAND_OK) {
        forget_device();
        return NAND_ERR_NO_DEVICE;
    }
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
    return NAND_OK;
}

int nand_read_raw(u32 page, void* dst, u32 column, u32 length)
{
    if (!raw_access_ok(page, column, length)) return NAND_FAILED;
    return device().read(device().context, page, column, dst, length) == NAND_OK ? NAND_OK : NAND_FAILED;
}

int nand_write_raw(u32 page, const void* src, u32 column, u32 length)
{
    if (!raw_access_ok(page, column, length) || !count_write(page, column, src, length)) return NAND_FAILED;
    return device().program(device().context, page, column, src, length) == NAND_OK ? NAND_OK : NAND_FAILED;
}

int nand_read_page(u32 page, void* dst, u32 column, u32 length)
{
    return nand_read_raw(page, dst, column, length) == NAND_OK ? static_cast<int>(length) : NAND_ERR_READ;
}

u8 nand_read_marker(u32 page)
{
    u8 marker = 0;
    if (nand_read_raw(page, &marker, nand_info.marker_column, 1) != NAND_OK) return 0;
    return marker;
}

void nand_mark_page_bad(u32 page)
{
    const u8 zero = 0;
    nand_write_raw(page, &zero, nand_info.marker_column, 1);
}

int nand_mark_block_bad(u32 block)
{
    if (block >= nand_info.block_count) return NAND_OK;
    const u32 first = block * nand_info.pages_per_block;
    for (u32 k = 0; k < nand_info.pages_per_block; ++k) nand_mark_page_bad(first + k);
    return NAND_OK;
}

bool nand_block_is_good(u32 block)
{
    if (block >= nand_info.block_count) return false;
    const u32 first = block * nand_info.pages_per_block;
    for (u32 k = 0; k < nand_info.pages_per_block; ++k)
        if (nand_read_marker(first + k) != 0xFF) return false;
    return true;
}

int nand_erase_block(u32 block, int force)
{
    if (block >= nand_info.block_count) return NAND_ERR_BAD_BLOCK;
    if (device().sync(device().context) != NAND_OK) return NAND_ERR_ERASE;
    if (!force && !nand_block_is_good(block)) return NAND_ERR_BAD_BLOCK;
    if (erase_pages(block)) return NAND_OK;
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
        return (op == NAND_IO_READ ? nand_read_raw(p, buf, col, len) : nand_write_raw(p, buf, col, len)) == NAND_OK;
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
    if (nand_info.cached_block == static_cast<i32>(block)) return NAND_OK;
    bool ok =
        nand_block_io(NAND_IO_READ, block, nand_info.cache_data, 0, nand_info.block_bytes) == nand_info.block_bytes;
    const u32 first = block * nand_info.pages_per_block;
    for (u32 k = 0; k < nand_info.pages_per_block; ++k) {
        u8* slot = nand_info.cache_spare + k * nand_info.spare_size;
        if (nand_read_raw(first + k, slot, nand_info.page_size, nand_info.spare_size) != NAND_OK) {
            nand_mark_page_bad(first + k);
            ok = false;
        }
    }
    // A block whose load failed is not kept: its next use reads it again.
    nand_info.cached_block = ok ? static_cast<i32>(block) : -1;
    return ok ? NAND_OK : NAND_ERR_READ;
}

// Erase, patch the cache, write the block back. The device has no use for
// an erased state between the erase and the write-back, so the two are one
// write per page of its final bytes (data and spare area): a write cut off
// by a power loss leaves every page either as it was or as it is meant to
// be, never blank, and the chip ends up as after an erase of the block
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
            ok = nand_write_raw(first + k, g_page_image, 0, stride) == NAND_OK;
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
    if (device().sync(device().context) != NAND_OK) return NAND_ERR_WRITE;
    const u32 block = page / n.pages_per_block;
    if (nand_load_block(block) != NAND_OK) return NAND_ERR_READ;
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
        if (nand_write_raw(page, s, column, length) != NAND_OK) {
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
    if (device().sync(device().context) != NAND_OK) return NAND_ERR_READ;
    if (!nand_block_is_good(block)) return NAND_ERR_BAD_BLOCK;
    if (nand_load_block(block) != NAND_OK) return NAND_ERR_READ;
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
