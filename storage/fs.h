// Flash file system: files are chains of pages, each page carrying a 16-byte
// header in its spare area (state, stamp, attr, type, links). The page table
// in memory mirrors the headers; the directory (storage/dir.h) lists files.
#pragma once
#include "base/types.h"
#include "storage/page_state.h"

// File types.
enum : u8 {
    FILE_TYPE_SIGNAL = 0,
    FILE_TYPE_ROUTE = 5,
    FILE_TYPE_OBJECT = 9,
    FILE_TYPE_VIBROMETER = 19,
    FILE_TYPE_RMS_TABLE = 22,
};

constexpr u32 FS_LINK_NONE = 0xFFFFF;
constexpr u32 FS_WORK_AREA_SIZE = 659456;

#pragma pack(push, 1)
struct PageHeader {
    u8 state;
    u32 stamp;
    u8 marker;  // written as 0xFF; holds the bad-block marker after a read
    u8 attr;
    u8 type;
    u32 next;
    u32 parent;  // head page: owning file; other pages: previous page
};

struct FileHandle {
    u8 mode;
    u32 first;
    u16 pages;
    u32 stamp;
};
#pragma pack(pop)
static_assert(sizeof(PageHeader) == 16);
static_assert(sizeof(FileHandle) == 11);

enum : u8 { FS_READ = 1, FS_WRITE = 2, FS_GROW = 4 };
// Mode bit of the handle that fs_create_pending gives: its close writes the
// head header.
constexpr u8 FS_PENDING = 8;
enum : u8 { FS_READY = 1, FS_MOUNTED = 2 };

struct FsState {
    u8 flags;
    u32 first_page;
    u32 end_page;
    u32 free;
    u32 used;
    u32 chained;
    u32 deleted;
    u32 bad;
};
extern FsState fs_state;

// Page table entries: state in the top 8 bits, next link in the low 20.
inline u8 pt_state(u32 entry)
{
    return static_cast<u8>(entry >> 24);
}
inline u32 pt_link(u32 entry)
{
    return entry & FS_LINK_NONE;
}
inline u32 pt_entry(u8 state, u32 link)
{
    return (static_cast<u32>(state) << 24) | (link & FS_LINK_NONE);
}
// Whether `state` is one the file system writes (others count as deleted).
bool fs_state_known(u8 state);
u32 fs_table(u32 page);  // the entry of a page; 0 for a page outside the chip
// Whether the link names no page.
bool fs_link_none(u32 link);
bool fs_link_valid(u32 link);  // none or below total_pages
// Whether the device is ready and the file system mounted.
bool fs_mounted();
// Whether fs_init found the device ready.
bool fs_ready();

// Results of the file system; operations give FS_OK (1) on success.
enum : int {
    FS_OK = 1,
    FS_FAILED = 0,
    // fs_init
    FS_INIT_NO_DEVICE = 0,       // the flash device answers NAND_ERR_NO_DEVICE
    FS_INIT_AREA_TOO_SMALL = 2,  // the device needs more than FS_WORK_AREA_SIZE bytes
    // fs_create
    FS_CREATE_NOT_MOUNTED = -1,
    FS_CREATE_NO_SPACE = -2,
    FS_CREATE_NO_HEAD = -3,  // no free page accepted a head header
    FS_CREATE_SHORT = -4,    // the chain could not be grown to the size
    // fs_open
    FS_OPEN_NOT_MOUNTED = 0,
    FS_OPEN_BAD_MODE = -1,  // none of FS_READ, FS_WRITE, FS_GROW
    FS_OPEN_NOT_HEAD = -3,
    FS_OPEN_BAD_HEAD_LINK = -4,
    FS_OPEN_BAD_PAGE = -7,  // a later page is neither a body nor a last page, or names another page before it
    FS_OPEN_BAD_LINK = -8,  // a later link is neither none nor on the chip
    FS_OPEN_TOO_LONG = -9,  // more pages than the chip or a handle holds
};

// Forgets the device and the mount (state at power-on).
void fs_reset();
// FS_OK, FS_INIT_NO_DEVICE or FS_INIT_AREA_TOO_SMALL.
int fs_init();
// Erases every block from block 1 on and rebuilds the page table: FS_OK,
// FS_FAILED when the device is not ready. The heads of a mounted file system
// are marked deleted first, so that a power cut during the erasing leaves
// whole files or none, never a head whose chain was partly erased.
int fs_format();
// Marks deleted every body and last page that no head's chain reaches (left
// behind by a power cut inside a delete, a create or a growth); run by the
// mount. Returns the number of pages reclaimed.
u32 fs_reclaim_unreachable();
// Read-only use (inspecting an archive without changing it): the mount's
// repairs are only counted and a chain left open is closed in the page
// table only; nothing is written. Off again after fs_reset.
void fs_set_read_only(bool on);
// Whether the file system is in read-only use.
bool fs_read_only();
// The unreachable body and last pages the last fs_reclaim_unreachable met
// (reclaimed, or in read-only use only counted).
u32 fs_unreachable_found();
// Reclaims the blocks of deleted pages: FS_OK (also when the device is not
// ready).
int fs_rebuild();
// Recounts the free, used, chained, deleted and bad pages.
void fs_count_pages();
// (free + deleted pages) * page size when mounted, else 0.
u32 fs_free_bytes();
// Pages of the file area * page size when mounted, else 0.
u32 fs_total_bytes();

// FS_OK or one of the FS_CREATE_ results; the handle is open for writing.
int fs_create(FileHandle* h, u8 type, u32 parent, u8 attr, u32 size, const u32* stamp = nullptr);
// fs_create whose head header is written last, by fs_close: until then the
// file exists only in memory and its body pages are unreachable on flash, so
// a power cut before the close leaves no file (the next mount reclaims the
// bodies). One such file at a time; another one abandons the first (deleted).
// FS_OK or one of the FS_CREATE_ results.
int fs_create_pending(FileHandle* h, u8 type, u32 parent, u8 attr, u32 size, const u32* stamp = nullptr);
// fs_create with the object type: FS_OK or one of the FS_CREATE_ results.
int fs_create_object(FileHandle* h, u32 parent, u8 attr, u32 size, const u32* stamp = nullptr);
// FS_OK or one of the FS_OPEN_ results.
int fs_open(FileHandle* h, u32 head, u8 mode);
// Bytes read; 0 when not mounted, not open for reading or past the end.
u32 fs_read(FileHandle* h, void* buffer, u32 offset, u32 length);
// Bytes written; 0 on a failure (also when the file cannot grow).
u32 fs_write(FileHandle* h, const void* buffer, u32 offset, u32 length);
// Marks the file's last page and writes the head header of a file made by
// fs_create_pending: FS_OK, or FS_FAILED for a broken chain or a failed
// write.
int fs_close(FileHandle* h);
// Marks every page of the file deleted, the head first, so that a power cut
// leaves the file whole or gone (bodies left behind are reclaimed at the
// next mount): FS_OK, or FS_FAILED.
int fs_delete(u32 head);
// Pages added to the end of the file; 0 when none could be.
u32 fs_extend(FileHandle* h, u32 wanted);

// Reads a page's header and updates its table entry: FS_OK when it is
// usable, else FS_FAILED.
int fs_read_header(u32 page, PageHeader* h);
