#include "flash_sandbox.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/mount.h"
#include "archive/objects.h"
#include "base/cp1251.h"
#include "base/file_io.h"
#include "host/session.h"
#include "host/settings.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "storage/nand.h"

namespace {

int g_fd = -1;
std::vector<u8> g_pristine;       // the whole area, as put back
std::vector<bool> g_touched;      // pages written since the last put-back
std::vector<u32> g_touched_list;  // the same, in order

void note_page(u32 page)
{
    // Block 0 is reserved and the file system owns only the area.
    if (page < 64 || page >= FUZZ_FLASH_PAGES) fuzz_fail("a write outside the file area", __FILE__, __LINE__);
    if (g_touched[page]) return;
    g_touched[page] = true;
    g_touched_list.push_back(page);
}

void put_back()
{
    for (const u32 p : g_touched_list) {
        if (!fd_pwrite_all(g_fd, g_pristine.data() + static_cast<size_t>(p) * FUZZ_PAGE_STRIDE, FUZZ_PAGE_STRIDE,
                           static_cast<u64>(p) * FUZZ_PAGE_STRIDE))
            fuzz_fail("putting the image back", __FILE__, __LINE__);
        g_touched[p] = false;
    }
    g_touched_list.clear();
}

}  // namespace

void flash_sandbox_begin()
{
    if (g_fd < 0) {
        const std::string path = fuzz_folder() + "/flash.dat";
        g_fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (g_fd <= 0) fuzz_fail("creating the image", __FILE__, __LINE__);
        g_pristine.assign(static_cast<size_t>(FUZZ_FLASH_PAGES) * FUZZ_PAGE_STRIDE, 0xFF);
        if (!fd_pwrite_all(g_fd, g_pristine.data(), g_pristine.size(), 0))
            fuzz_fail("creating the image", __FILE__, __LINE__);
        g_touched.assign(FUZZ_FLASH_PAGES, false);
    }
    put_back();
    flash_handle = g_fd;
    nand_reset();
    nand_set_write_hook([](u32 page, u32, const void*, u32) { note_page(page); });
    fs_reset();
    dir_reset();
    obj_reset();
    archive_mount_reset();
    settings.current_object = 0;
}

void flash_patch(u32 page, u32 column, const u8* bytes, u32 n)
{
    if (page >= FUZZ_FLASH_PAGES || column >= FUZZ_PAGE_STRIDE) return;
    if (n > FUZZ_PAGE_STRIDE - column) n = FUZZ_PAGE_STRIDE - column;
    note_page(page);
    if (!fd_pwrite_all(g_fd, bytes, n, static_cast<u64>(page) * FUZZ_PAGE_STRIDE + column))
        fuzz_fail("patching the image", __FILE__, __LINE__);
}

void flash_apply_patches(FuzzInput& in)
{
    constexpr u32 AREA = FUZZ_FLASH_PAGES - 64;
    while (in.left() >= 6) {
        const u32 page = 64 + in.u16le() % AREA;
        const u32 column = in.u16le() % FUZZ_PAGE_STRIDE;
        const u32 length = in.u16le();
        size_t got = 0;
        const u8* bytes = in.take(length, &got);
        flash_patch(page, column, bytes, static_cast<u32>(got));
    }
}

bool flash_mount()
{
    if (fs_init() != FS_OK) return false;
    fs_state.end_page = FUZZ_FLASH_PAGES;
    if (fs_dir_reset() != FS_OK) return false;
    int steps = 0;
    while (fs_scan_step()) FUZZ_CHECK(++steps < 1000);
    fs_mount_finish();
    return fs_mounted();
}

void flash_keep_as_pristine()
{
    if (pread(g_fd, g_pristine.data(), g_pristine.size(), 0) != static_cast<ssize_t>(g_pristine.size()))
        fuzz_fail("reading the image", __FILE__, __LINE__);
    for (const u32 p : g_touched_list) g_touched[p] = false;
    g_touched_list.clear();
}

void flash_prepare_archive(void (*fill)())
{
    static bool done = false;
    if (done) return;
    done = true;
    flash_sandbox_begin();
    FUZZ_CHECK(flash_mount());
    FUZZ_CHECK(obj_create("Насос"_cp) != 0);
    if (fill) fill();
    flash_keep_as_pristine();
}
