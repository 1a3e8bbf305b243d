#include "storage/fs.h"

#include <cstdio>
#include <cstring>

#include "fs_internal.h"
#include "host/device.h"
#include "storage/nand.h"

FsState fs_state;

namespace {

// The page table and the block cache of the NAND device.
alignas(8) u8 g_work_area[FS_WORK_AREA_SIZE];

// Longest chain a handle can describe (its page count is 16 bits).
constexpr u32 MAX_HANDLE_PAGES = 0xFFFF;

// The file made by fs_create_pending whose head header is not on flash yet:
// its page, and the header that fs_close writes there.
struct PendingHead {
    bool active;
    u32 page;
    PageHeader header;
};
PendingHead g_pending{};
bool g_read_only = false;
u32 g_unreachable = 0;

// Pages reached from a head by the mount's reclaim, one bit each; large
// enough for every chip whose page table fits the work area.
constexpr u32 REACH_WORDS = (FS_WORK_AREA_SIZE / 4 + 63) / 64;
u64 g_reached[REACH_WORDS];

u8 known_state(u8 s)
{
    return fs_state_known(s) ? s : static_cast<u8>(PAGE_DELETED);
}

bool is_head(u8 s)
{
    return s == PAGE_HEAD || s == PAGE_HEAD_ALT;
}

bool in_file_area(u32 page)
{
    return page >= fs_state.first_page && page < fs_state.end_page;
}

bool is_pending(u32 page)
{
    return g_pending.active && g_pending.page == page;
}

// The header of a page: the pending head's from memory, any other from
// flash (fs_read_header).
int header_of(u32 page, PageHeader* h)
{
    if (!is_pending(page)) return fs_read_header(page, h);
    *h = g_pending.header;
    return FS_OK;
}

// Writes the header of a page: the pending head's only into memory, any
// other onto flash (fs_write_header).
int put_header(u32 page, const PageHeader* h)
{
    if (!is_pending(page)) return fs_write_header(page, h);
    if (!fs_link_valid(h->next) || !fs_link_valid(h->parent)) return FS_FAILED;
    g_pending.header = *h;
    fs_table_set(page, h->state, h->next);
    return FS_OK;
}

// Programs the state byte of a page's header alone (bits only cleared) and
// records it: FS_OK, or FS_FAILED when the program failed (the page is
// recorded bad).
int put_state(u32 page, u8 state)
{
    if (nand_program(page, &state, nand_info.status_column, 1) != static_cast<int>(sizeof state)) {
        fs_table_set(page, PAGE_BAD, 0);
        return FS_FAILED;
    }
    fs_table_set(page, state, pt_link(fs_table(page)));
    return FS_OK;
}

// True when the header of body page `page` names `before` as the page
// before it (every page after the head carries that link).
bool links_back(u32 page, u32 before)
{
    PageHeader hd;
    if (nand_read_page(page, &hd, nand_info.status_column, sizeof hd) != static_cast<int>(sizeof hd)) return false;
    return (hd.parent & FS_LINK_NONE) == before;
}

// Writes the pending head's header onto flash: the file now exists there.
int commit_pending()
{
    const PageHeader hd = g_pending.header;
    const u32 page = g_pending.page;
    g_pending.active = false;
    return fs_write_header(page, &hd);
}

u32 pages_for(u64 bytes)
{
    const u32 ps = nand_info.page_size;
    return static_cast<u32>((bytes + ps - 1) / ps);
}

// Moves bytes between a buffer and a file's chain (reads with
// nand_read_page, writes with nand_program).
u32 chain_io(FileHandle* h, u8* buffer, u32 offset, u32 length, bool write)
{
    if (length == 0) return 0;
    const u32 ps = nand_info.page_size;
    const u64 limit = static_cast<u64>(h->pages) * ps;
    if (static_cast<u64>(offset) + length > limit) {
        if (offset / ps >= h->pages) return 0;
        length = static_cast<u32>(limit - offset);
    }
    u32 page = h->first;
    if (!in_file_area(page)) return 0;
    for (u32 i = offset / ps; i > 0; --i) {
        page = fs_next_page(page);
        if (page == 0) return 0;
    }
    auto move = [write](u32 p, u8* buf, u32 col, u32 len) {
        return write ? nand_program(p, buf, col, len) : nand_read_page(p, buf, col, len);
    };
    u32 column = offset % ps;
    u32 done = 0;
    while (done < length) {
        const u32 n = length - done < ps - column ? length - done : ps - column;
        if (move(page, buffer + done, column, n) != static_cast<int>(n)) return 0;
        done += n;
        column = 0;
        if (done < length) {
            page = fs_next_page(page);
            if (page == 0) return 0;
        }
    }
    return done;
}

}  // namespace

bool fs_state_known(u8 state)
{
    switch (state) {
    case PAGE_FREE:
    case PAGE_HEAD:
    case PAGE_BODY:
    case PAGE_LAST:
    case PAGE_HEAD_ALT:
    case PAGE_BAD:
    case PAGE_DELETED: return true;
    default: return false;
    }
}

u32 fs_table(u32 page)
{
    if (nand_info.page_table == nullptr || page >= nand_info.total_pages) return 0;
    return nand_info.page_table[page];
}

bool fs_link_none(u32 link)
{
    return (link & FS_LINK_NONE) == FS_LINK_NONE;
}

bool fs_link_valid(u32 link)
{
    return fs_link_none(link) || link < nand_info.total_pages;
}

bool fs_ready()
{
    return (fs_state.flags & FS_READY) != 0;
}

bool fs_mounted()
{
    return (fs_state.flags & (FS_READY | FS_MOUNTED)) == (FS_READY | FS_MOUNTED);
}

void fs_table_set(u32 page, u8 state, u32 link)
{
    if (nand_info.page_table != nullptr && page < nand_info.total_pages)
        nand_info.page_table[page] = pt_entry(state, link);
}

void fs_reset()
{
    std::memset(&fs_state, 0, sizeof fs_state);
    g_pending.active = false;
    g_read_only = false;
    g_unreachable = 0;
}

void fs_set_read_only(bool on)
{
    g_read_only = on;
}

bool fs_read_only()
{
    return g_read_only;
}

u32 fs_unreachable_found()
{
    return g_unreachable;
}

void fs_set_mounted(bool on)
{
    if (on)
        fs_state.flags |= FS_MOUNTED;
    else
        fs_state.flags &= static_cast<u8>(~FS_MOUNTED);
}

int fs_init()
{
    std::memset(&fs_state, 0, sizeof fs_state);
    g_pending.active = false;
    const int need = nand_init();
    if (need == NAND_ERR_NO_DEVICE) return FS_INIT_NO_DEVICE;
    if (need < 0 || static_cast<u32>(need) > FS_WORK_AREA_SIZE) return FS_INIT_AREA_TOO_SMALL;
    if (nand_attach(g_work_area, sizeof g_work_area) != NAND_OK) return FS_INIT_AREA_TOO_SMALL;
    std::memset(g_work_area, 0, sizeof g_work_area);
    fs_state.first_page = nand_info.pages_per_block;
    fs_state.end_page = nand_info.total_pages;
    fs_state.flags = FS_READY;
    return FS_OK;
}

int fs_read_header(u32 page, PageHeader* h)
{
    std::memset(h, 0xFF, sizeof *h);
    if (!fs_ready() || page >= nand_info.total_pages) return FS_FAILED;
    u8 marker = 0;
    bool read;
    if (nand_info.status_column == nand_info.marker_column + 1u) {
        // Marker and header side by side: one read of both (a failed read
        // leaves the marker 0, as nand_read_marker gives then).
        u8 raw[1 + sizeof *h];
        read = nand_read_page(page, raw, nand_info.marker_column, sizeof raw) == static_cast<int>(sizeof raw);
        if (read) {
            marker = raw[0];
            std::memcpy(h, raw + 1, sizeof *h);
        }
    } else {
        marker = nand_read_marker(page);
        read = nand_read_page(page, h, nand_info.status_column, sizeof *h) == static_cast<int>(sizeof *h);
    }
    h->marker = marker;
    h->state = known_state(h->state);
    if (marker < 0xFF) h->state = PAGE_BAD;
    fs_table_set(page, h->state, h->next);
    return read && marker == 0xFF && fs_link_valid(h->next) && fs_link_valid(h->parent) ? FS_OK : FS_FAILED;
}

int fs_write_header(u32 page, const PageHeader* h)
{
    if (!fs_ready() || page >= nand_info.total_pages) return FS_FAILED;
    if (!fs_link_valid(h->next) || !fs_link_valid(h->parent)) return FS_FAILED;
    if (nand_program(page, h, nand_info.status_column, sizeof *h) != static_cast<int>(sizeof *h)) {
        fs_table_set(page, PAGE_BAD, 0);
        return FS_FAILED;
    }
    fs_table_set(page, h->state, h->next);
    return FS_OK;
}

u32 fs_next_page(u32 page)
{
    const u32 e = fs_table(page);
    const u8 s = pt_state(e);
    if (s != PAGE_HEAD && s != PAGE_HEAD_ALT && s != PAGE_BODY) return 0;
    const u32 link = pt_link(e);
    return in_file_area(link) ? link : 0;
}

void fs_count_pages()
{
    fs_state.free = fs_state.used = fs_state.chained = fs_state.deleted = fs_state.bad = 0;
    if (nand_info.page_table == nullptr) return;
    for (u32 p = fs_state.first_page; p < fs_state.end_page; ++p) {
        switch (pt_state(nand_info.page_table[p])) {
        case PAGE_FREE: ++fs_state.free; break;
        case PAGE_HEAD:
        case PAGE_HEAD_ALT: ++fs_state.used; break;
        case PAGE_BODY:
        case PAGE_LAST: ++fs_state.chained; break;
        case PAGE_BAD: ++fs_state.bad; break;
        default: ++fs_state.deleted; break;
        }
    }
}

u32 fs_free_bytes()
{
    if (!fs_mounted()) return 0;
    fs_count_pages();
    return (fs_state.free + fs_state.deleted) * nand_info.page_size;
}

u32 fs_total_bytes()
{
    if (!fs_mounted()) return 0;
    return (fs_state.end_page - fs_state.first_page) * nand_info.page_size;
}

int fs_format()
{
    if (!fs_ready()) return FS_FAILED;
    g_pending.active = false;
    if (fs_mounted()) {
        // Files with a parent first, then the rest (objects, routes): a cut
        // between the passes leaves objects without measurements, never a
        // measurement without its object.
        for (int pass = 0; pass < 2; ++pass) {
            for (u32 p = fs_state.first_page; p < fs_state.end_page; ++p) {
                if (!is_head(pt_state(nand_info.page_table[p]))) continue;
                PageHeader hd;
                const bool child = fs_read_header(p, &hd) && hd.parent != 0;
                if (pass == 1 || child) put_state(p, PAGE_DELETED);
            }
        }
    }
    const u32 ppb = nand_info.pages_per_block;
    for (u32 b = 1; b < nand_info.block_count; ++b) {
        const u8 state = nand_erase_block(b, 0) == NAND_OK ? PAGE_FREE : PAGE_BAD;
        for (u32 k = 0; k < ppb; ++k) fs_table_set(b * ppb + k, state, FS_LINK_NONE);
    }
    nand_info.cached_block = -1;
    fs_count_pages();
    return FS_OK;
}

int fs_rebuild()
{
    std::fputs("запускаю ребилд блоков\n", stdout);
    std::fflush(stdout);
    if (!fs_ready()) return FS_OK;
    const u32 ppb = nand_info.pages_per_block;
    for (u32 b = fs_state.first_page / ppb; b < fs_state.end_page / ppb; ++b) {
        bool dead = false;
        for (u32 k = 0; k < ppb && !dead; ++k) dead = pt_state(nand_info.page_table[b * ppb + k]) == PAGE_DELETED;
        if (!dead) continue;
        nand_purge_block(b);
        PageHeader h;
        bool bad = false;
        for (u32 k = 0; k < ppb; ++k) {
            fs_read_header(b * ppb + k, &h);
            if (pt_state(nand_info.page_table[b * ppb + k]) == PAGE_BAD) {
                for (u32 j = 0; j < ppb; ++j) fs_table_set(b * ppb + j, PAGE_BAD, 0);
                bad = true;
                break;
            }
        }
        // The pending head is not on flash: the re-read saw it free.
        if (!bad && g_pending.active && g_pending.page / ppb == b)
            fs_table_set(g_pending.page, g_pending.header.state, g_pending.header.next);
    }
    return FS_OK;
}

u32 fs_reclaim_unreachable()
{
    g_unreachable = 0;
    if (!fs_ready() || nand_info.page_table == nullptr) return 0;
    const u32 total = nand_info.total_pages;
    if (total > REACH_WORDS * 64) return 0;
    std::memset(g_reached, 0, (total + 63) / 64 * sizeof g_reached[0]);
    const u32* table = nand_info.page_table;
    auto reached = [](u32 p) { return (g_reached[p / 64] >> (p % 64)) & 1; };
    // Every chain from every head, as far as its links go (further than
    // fs_open, which also wants each page to name the one before it: a page
    // that any chain reaches is kept); a page met before ends the walk, so
    // loops and shared tails cost nothing more.
    for (u32 p = fs_state.first_page; p < fs_state.end_page; ++p) {
        if (!is_head(pt_state(table[p]))) continue;
        u32 link = pt_link(table[p]);
        while (!fs_link_none(link) && link < total && !reached(link)) {
            const u8 s = pt_state(table[link]);
            if (s != PAGE_BODY && s != PAGE_LAST) break;
            g_reached[link / 64] |= 1ull << (link % 64);
            link = pt_link(table[link]);
        }
    }
    u32 reclaimed = 0;
    for (u32 p = fs_state.first_page; p < fs_state.end_page; ++p) {
        const u8 s = pt_state(table[p]);
        if ((s != PAGE_BODY && s != PAGE_LAST) || reached(p)) continue;
        if (!g_read_only) put_state(p, PAGE_DELETED);
        ++reclaimed;
    }
    g_unreachable = reclaimed;
    return reclaimed;
}

namespace {

// fs_create, with the head header written at once or (pending) by fs_close.
int create(FileHandle* h, u8 type, u32 parent, u8 attr, u32 size, const u32* stamp, bool pending)
{
    if (!fs_mounted()) return FS_CREATE_NOT_MOUNTED;
    if (pending && g_pending.active) fs_delete(g_pending.page);
    const u32 when = stamp ? *stamp : pack_now();
    h->mode = FS_READ | FS_WRITE | FS_GROW;
    h->first = 0;
    h->pages = 0;
    h->stamp = when;
    const u32 needed = size == 0 ? 1 : pages_for(size);
    fs_count_pages();
    if (fs_state.free < needed) {
        if (static_cast<u64>(fs_state.free) + fs_state.deleted < needed) return FS_CREATE_NO_SPACE;
        fs_rebuild();
        fs_count_pages();
        if (fs_state.free < needed) return FS_CREATE_NO_SPACE;
    }
    PageHeader hd;
    hd.state = PAGE_HEAD;
    hd.stamp = when;
    hd.marker = 0xFF;
    hd.attr = attr;
    hd.type = type;
    hd.next = FS_LINK_NONE;
    hd.parent = parent & FS_LINK_NONE;
    for (u32 p = fs_state.first_page; p < fs_state.end_page; ++p) {
        if (pt_state(nand_info.page_table[p]) != PAGE_FREE) continue;
        if (pending) {
            h->mode |= FS_PENDING;
            g_pending = {true, p, hd};
            fs_table_set(p, hd.state, hd.next);
        } else if (!fs_write_header(p, &hd)) {
            continue;
        }
        h->first = p;
        h->pages = 1;
        break;
    }
    if (h->pages == 0) return FS_CREATE_NO_HEAD;
    if (h->pages < needed) {
        fs_extend(h, needed - h->pages);
        if (h->pages != needed) return FS_CREATE_SHORT;
    }
    return FS_OK;
}

}  // namespace

int fs_create(FileHandle* h, u8 type, u32 parent, u8 attr, u32 size, const u32* stamp)
{
    return create(h, type, parent, attr, size, stamp, false);
}

int fs_create_pending(FileHandle* h, u8 type, u32 parent, u8 attr, u32 size, const u32* stamp)
{
    return create(h, type, parent, attr, size, stamp, true);
}

int fs_create_object(FileHandle* h, u32 parent, u8 attr, u32 size, const u32* stamp)
{
    return fs_create(h, FILE_TYPE_OBJECT, parent, attr, size, stamp);
}

u32 fs_extend(FileHandle* h, u32 wanted)
{
    if (!fs_mounted() || !(h->mode & FS_GROW) || wanted == 0) return 0;
    if (h->pages == 0 || h->pages > nand_info.total_pages || !in_file_area(h->first)) return 0;
    if (static_cast<u64>(h->pages) + wanted > MAX_HANDLE_PAGES) return 0;
    fs_count_pages();
    if (fs_state.free < wanted) {
        fs_rebuild();
        fs_count_pages();
        if (fs_state.free < wanted) return 0;
    }
    PageHeader last;
    if (!header_of(h->first, &last) || !is_head(last.state)) return 0;
    u32 last_page = h->first;
    for (u32 i = 1; i < h->pages; ++i) {
        last_page = fs_next_page(last_page);
        if (last_page == 0) return 0;
    }
    if (last_page != h->first && !header_of(last_page, &last)) return 0;
    const u32 target = h->pages + wanted;
    u32 added = 0;
    for (u32 p = fs_state.first_page; p < fs_state.end_page && h->pages < target; ++p) {
        if (pt_state(nand_info.page_table[p]) != PAGE_FREE) continue;
        // The new page's header first, then the link to it: a power cut in
        // between leaves the file as it was and a page that no chain
        // reaches, which the next mount reclaims.
        PageHeader body = last;
        body.state = PAGE_BODY;
        body.next = FS_LINK_NONE;
        body.parent = last_page;
        if (!fs_write_header(p, &body)) continue;  // recorded bad; the next free page
        PageHeader linked = last;
        if (linked.state == PAGE_LAST) linked.state = PAGE_BODY;
        linked.next = p;
        if (!put_header(last_page, &linked)) return added;
        ++h->pages;
        ++added;
        last_page = p;
        last = body;
    }
    return added;
}

int fs_open(FileHandle* h, u32 head, u8 mode)
{
    h->pages = 0;
    if (!fs_mounted()) return FS_OPEN_NOT_MOUNTED;
    if ((mode & (FS_READ | FS_WRITE | FS_GROW)) == 0) return FS_OPEN_BAD_MODE;
    if (!in_file_area(head)) return FS_OPEN_NOT_HEAD;
    const u32 e = nand_info.page_table[head];
    if (!is_head(pt_state(e))) return FS_OPEN_NOT_HEAD;
    u32 link = pt_link(e);
    if (!fs_link_valid(link)) return FS_OPEN_BAD_HEAD_LINK;
    h->mode = mode;
    h->first = head;
    h->pages = 1;
    u32 count = 1;
    u32 before = head;
    while (!fs_link_none(link)) {
        if (count + 1 > nand_info.total_pages || count + 1 > MAX_HANDLE_PAGES) return FS_OPEN_TOO_LONG;
        const u32 le = fs_table(link);
        const u8 s = pt_state(le);
        if (s != PAGE_BODY && s != PAGE_LAST) return FS_OPEN_BAD_PAGE;
        // A later page names the page before it: a chain of a damaged image
        // that runs on into another file's pages ends here, so that neither
        // a delete nor a write of this file reaches that file.
        if (!links_back(link, before)) return FS_OPEN_BAD_PAGE;
        ++count;
        h->pages = static_cast<u16>(count);
        before = link;
        link = pt_link(le);
        if (!fs_link_valid(link)) return FS_OPEN_BAD_LINK;
    }
    return FS_OK;
}

u32 fs_read(FileHandle* h, void* buffer, u32 offset, u32 length)
{
    if (!fs_mounted() || !(h->mode & FS_READ)) return 0;
    return chain_io(h, static_cast<u8*>(buffer), offset, length, false);
}

u32 fs_write(FileHandle* h, const void* buffer, u32 offset, u32 length)
{
    if (!fs_mounted() || !(h->mode & FS_WRITE) || length == 0) return 0;
    const u64 needed = (static_cast<u64>(offset) + length + nand_info.page_size - 1) / nand_info.page_size;
    if (h->pages < needed) {
        if (!(h->mode & FS_GROW) || needed > MAX_HANDLE_PAGES) return 0;
        const u32 more = static_cast<u32>(needed - h->pages);
        fs_count_pages();
        if (static_cast<u64>(fs_state.free) + fs_state.deleted < more) return 0;
        fs_extend(h, more);
        if (h->pages < needed) return 0;
    }
    // nand_program takes a const source; the chain walker shares one pointer
    // type for both directions and never writes through it when writing.
    return chain_io(h, const_cast<u8*>(static_cast<const u8*>(buffer)), offset, length, true);
}

namespace {

// fs_close without the pending head's commit.
int close_chain(FileHandle* h)
{
    if (h->pages == 1) return FS_OK;
    if (h->pages == 0 || !in_file_area(h->first)) return FS_FAILED;
    if (pt_state(nand_info.page_table[h->first]) != PAGE_HEAD) return FS_FAILED;
    u32 page = h->first;
    for (u32 i = 1; i < h->pages; ++i) {
        const u32 link = pt_link(nand_info.page_table[page]);
        if (link == 0 || link >= nand_info.total_pages) return FS_FAILED;
        page = link;
        const u8 s = pt_state(nand_info.page_table[page]);
        if (s == PAGE_LAST) return FS_OK;
        if (s != PAGE_BODY) return FS_FAILED;
    }
    if (!fs_link_none(pt_link(nand_info.page_table[page]))) return FS_FAILED;
    // A chain left open (a power cut before its close): read-only use
    // closes it in memory only, as the instrument's first close of it does
    // on flash, so that it reads on as there.
    if (g_read_only) {
        fs_table_set(page, PAGE_LAST, FS_LINK_NONE);
        return FS_OK;
    }
    PageHeader hd;
    if (!fs_read_header(page, &hd)) return FS_FAILED;
    hd.state = PAGE_LAST;
    return fs_write_header(page, &hd);
}

}  // namespace

int fs_close(FileHandle* h)
{
    if (!fs_mounted()) return FS_FAILED;
    const int r = close_chain(h);
    // A pending file is written whole before its head makes it exist; only
    // the handle that made it commits it (readers close their own).
    if (r != FS_OK || !(h->mode & FS_PENDING) || !is_pending(h->first)) return r;
    h->mode = static_cast<u8>(h->mode & ~FS_PENDING);
    return commit_pending();
}

int fs_delete(u32 head)
{
    if (head == 0 || !fs_mounted()) return FS_FAILED;
    FileHandle h;
    const int r = fs_open(&h, head, FS_READ | FS_WRITE | FS_GROW);
    if (r != FS_OK && h.pages == 0) return 0;
    const bool pending = is_pending(head);
    u32 page = head;
    for (u32 i = 0; i < h.pages; ++i) {
        PageHeader hd;
        if (!header_of(page, &hd)) break;
        hd.state = PAGE_DELETED;
        // A pending head gets a dead header on flash too: its data area may
        // have been written.
        fs_write_header(page, &hd);
        if (!in_file_area(hd.next)) break;
        page = hd.next;
    }
    if (pending) g_pending.active = false;
    return FS_OK;
}
