#include "storage/dir.h"

#include <cstring>

#include "fs_internal.h"
#include "storage/fs.h"
#include "storage/nand.h"

Directory directory;

namespace {

constexpr u32 RESUME_START = 0xFFFFFFFFu;
// Ancestors followed by dir_depth; a parent loop in a damaged image ends here.
constexpr int MAX_DEPTH = 64;

// Scratch space of the mount's sorts, allocated once.
DirEntry g_scratch[DIR_CAPACITY];
u16 g_order[DIR_CAPACITY];
u16 g_order_tmp[DIR_CAPACITY];
char g_names[DIR_CAPACITY][DIR_NAME_SIZE];
bool g_name_ok[DIR_CAPACITY];
DirNameReader g_name_reader = nullptr;
u32 g_owner[DIR_CAPACITY];

// While the directory is full during a scan, a new file replaces the entry
// with the smallest stamp (the first such in index order). The entries are
// kept in a binary min-heap by (stamp, index), so each replacement costs a
// sift instead of a search of all 8192; any other edit invalidates it.
u16 g_heap[DIR_CAPACITY];
bool g_heap_valid = false;

// Headers of the block being scanned; pages of a block on the chips that
// nand_init knows: at most 512.
constexpr u32 MAX_BLOCK_PAGES = 512;
PageHeader g_block_headers[MAX_BLOCK_PAGES];

bool valid(int index)
{
    return index >= 0 && static_cast<u32>(index) < directory.count;
}

u32 parent_bits(u32 parent)
{
    return parent & FS_LINK_NONE;
}

void fill(DirEntry& e, u32 id, u32 stamp, u32 parent, u8 type, u8 attr)
{
    e.id = id;
    e.stamp = stamp;
    e.parent = parent_bits(parent);
    e.attr = attr;
    e.type = type;
    e.flags = 0;
}

bool is_root_object(const DirEntry& e)
{
    return e.type == FILE_TYPE_OBJECT && e.parent == 0;
}

// Stable merge sort of g_order[0..n) by `less`.
template <class Less>
void sort_order(u32 n, Less less)
{
    for (u32 width = 1; width < n; width *= 2) {
        for (u32 lo = 0; lo < n; lo += 2 * width) {
            const u32 mid = lo + width < n ? lo + width : n;
            const u32 hi = lo + 2 * width < n ? lo + 2 * width : n;
            u32 a = lo, b = mid, o = lo;
            while (a < mid && b < hi) g_order_tmp[o++] = less(g_order[b], g_order[a]) ? g_order[b++] : g_order[a++];
            while (a < mid) g_order_tmp[o++] = g_order[a++];
            while (b < hi) g_order_tmp[o++] = g_order[b++];
        }
        std::memcpy(g_order, g_order_tmp, n * sizeof g_order[0]);
    }
}

// Puts entries [0..n) into the order g_order[0..n).
void apply_order(u32 n)
{
    for (u32 i = 0; i < n; ++i) g_scratch[i] = directory.entries[g_order[i]];
    std::memcpy(directory.entries, g_scratch, n * sizeof(DirEntry));
}

void identity_order(u32 n)
{
    for (u32 i = 0; i < n; ++i) g_order[i] = static_cast<u16>(i);
}

// True when entry a is older than entry b: smaller stamp, or the same stamp
// and an earlier index.
bool heap_before(u16 a, u16 b)
{
    const u32 sa = directory.entries[a].stamp, sb = directory.entries[b].stamp;
    return sa < sb || (sa == sb && a < b);
}

void heap_sift_down(u32 at, u32 n)
{
    for (;;) {
        const u32 left = 2 * at + 1;
        if (left >= n) return;
        u32 least = left;
        if (left + 1 < n && heap_before(g_heap[left + 1], g_heap[left])) least = left + 1;
        if (!heap_before(g_heap[least], g_heap[at])) return;
        const u16 t = g_heap[at];
        g_heap[at] = g_heap[least];
        g_heap[least] = t;
        at = least;
    }
}

// Index of the oldest entry of a full directory.
int oldest_entry()
{
    const u32 n = directory.count;
    if (!g_heap_valid) {
        identity_order(n);
        std::memcpy(g_heap, g_order, n * sizeof g_heap[0]);
        for (u32 i = n / 2; i-- > 0;) heap_sift_down(i, n);
        g_heap_valid = true;
    }
    return g_heap[0];
}

// Puts a newer file in place of the oldest entry (oldest_entry) and keeps
// the heap.
void replace_oldest(u32 id, const PageHeader& h)
{
    fill(directory.entries[g_heap[0]], id, h.stamp, h.parent, h.type, h.attr);
    heap_sift_down(0, directory.count);
}

void dir_changed()
{
    g_heap_valid = false;
}

// Lists a head found by the scan: appended, or in place of the oldest entry
// of a full directory when it is newer, or left out.
void list_head(u32 page, const PageHeader& h)
{
    if (!dir_full()) {
        dir_append(page, h.stamp, h.parent, h.type, h.attr);
        return;
    }
    if (h.stamp > directory.entries[oldest_entry()].stamp) replace_oldest(page, h);
}

}  // namespace

void dir_set_name_reader(DirNameReader reader)
{
    g_name_reader = reader;
}

void dir_reset()
{
    std::memset(&directory, 0, sizeof directory);
    directory.resume = RESUME_START;
    dir_changed();
}

int fs_dir_reset()
{
    dir_reset();
    fs_set_mounted(false);
    return fs_ready() ? FS_OK : FS_FAILED;
}

int fs_scan_step()
{
    if (!fs_ready()) return FS_SCAN_DONE;
    const u32 ppb = nand_info.pages_per_block;
    if (ppb == 0 || ppb > MAX_BLOCK_PAGES) return FS_SCAN_DONE;
    u32 p = directory.resume == RESUME_START ? fs_state.first_page : directory.resume;
    if (p < fs_state.first_page) p = fs_state.first_page;
    const u32 stop = p + SCAN_PAGES_PER_STEP;
    while (p < fs_state.end_page && p < stop) {
        // A block at a time: every header is read first, and the heads are
        // listed only when no page of the block turned out bad, so that no
        // file of a bad block stays in the directory.
        const u32 first = p / ppb * ppb;
        const u32 end = first + ppb < fs_state.end_page ? first + ppb : fs_state.end_page;
        bool bad = false;
        for (u32 q = p; q < end; ++q) {
            fs_read_header(q, &g_block_headers[q - first]);
            if (pt_state(fs_table(q)) == PAGE_BAD) {
                bad = true;
                break;
            }
        }
        if (bad) {
            for (u32 k = 0; k < ppb; ++k) fs_table_set(first + k, PAGE_BAD, 0);
            p = first + ppb;
            continue;
        }
        for (u32 q = p; q < end; ++q) {
            const u8 state = pt_state(fs_table(q));
            if (state == PAGE_HEAD || state == PAGE_HEAD_ALT) list_head(q, g_block_headers[q - first]);
        }
        p = end;
    }
    directory.resume = p;
    return p < fs_state.end_page ? FS_SCAN_MORE : FS_SCAN_DONE;
}

void fs_mount_finish()
{
    fs_set_mounted(true);
    fs_reclaim_unreachable();
    const u32 n = directory.count;
    DirEntry* e = directory.entries;
    // Newest first; equal stamps keep their order.
    identity_order(n);
    sort_order(n, [e](u16 a, u16 b) { return e[a].stamp > e[b].stamp; });
    apply_order(n);
    // Root objects to the front, both groups keeping their order.
    u32 k = 0;
    for (u32 i = 0; i < n; ++i)
        if (is_root_object(e[i])) g_order[k++] = static_cast<u16>(i);
    u32 o = k;
    for (u32 i = 0; i < n; ++i)
        if (!is_root_object(e[i])) g_order[o++] = static_cast<u16>(i);
    apply_order(n);
    // Objects by name; those whose name cannot be read go after the others.
    if (k > 1) {
        for (u32 i = 0; i < k; ++i) g_name_ok[i] = g_name_reader && g_name_reader(e[i].id, g_names[i]) == DIR_OK;
        identity_order(k);
        sort_order(k, [](u16 a, u16 b) {
            if (g_name_ok[a] != g_name_ok[b]) return g_name_ok[a];
            if (!g_name_ok[a]) return false;
            return std::strcmp(g_names[a], g_names[b]) < 0;
        });
        apply_order(k);
    }
    if (k == 0) return;
    // Each object followed by its children (in their present order), then
    // the entries that belong to no object. Objects sorted by id, so that
    // every other entry finds its owner by a binary search.
    identity_order(k);
    sort_order(k, [e](u16 a, u16 b) { return e[a].id < e[b].id; });
    for (u32 i = k; i < n; ++i) {
        const u32 parent = parent_bits(e[i].parent);
        u32 lo = 0, hi = k;
        while (lo < hi) {
            const u32 mid = (lo + hi) / 2;
            if (e[g_order[mid]].id < parent)
                lo = mid + 1;
            else
                hi = mid;
        }
        g_owner[i] = parent != 0 && lo < k && e[g_order[lo]].id == parent ? g_order[lo] : k;
    }
    // Stable counting sort of the other entries by owner; owner k = none.
    static u32 fill_at[DIR_CAPACITY + 1];
    std::memset(fill_at, 0, (k + 1) * sizeof fill_at[0]);
    for (u32 i = k; i < n; ++i) ++fill_at[g_owner[i]];
    u32 pos = 0;
    for (u32 j = 0; j <= k; ++j) {
        const u32 children = fill_at[j];
        if (j < k) {
            g_scratch[pos] = e[j];
            ++pos;
        }
        fill_at[j] = pos;
        pos += children;
    }
    for (u32 i = k; i < n; ++i) g_scratch[fill_at[g_owner[i]]++] = e[i];
    std::memcpy(e, g_scratch, n * sizeof(DirEntry));
    dir_changed();
}

int fs_mount()
{
    if (!fs_ready()) return FS_FAILED;
    fs_dir_reset();
    while (fs_scan_step() == FS_SCAN_MORE) {
    }
    fs_mount_finish();
    return FS_OK;
}

u32 dir_count()
{
    return directory.count;
}

bool dir_full()
{
    return directory.count + 1 > DIR_CAPACITY;
}

u32 dir_id(int index)
{
    return valid(index) ? directory.entries[index].id : 0;
}

u32 dir_stamp(int index)
{
    return valid(index) ? directory.entries[index].stamp : 0;
}

u32 dir_parent(int index)
{
    return valid(index) ? parent_bits(directory.entries[index].parent) : 0;
}

u8 dir_attr(int index)
{
    return valid(index) ? directory.entries[index].attr : 0;
}

u8 dir_type(int index)
{
    return valid(index) ? directory.entries[index].type : 0;
}

u16 dir_flags(int index)
{
    return valid(index) ? directory.entries[index].flags : 0;
}

int dir_find_id(u32 id)
{
    if (id == 0) return DIR_NONE;
    for (u32 i = 0; i < directory.count; ++i)
        if (directory.entries[i].id == id) return static_cast<int>(i);
    return DIR_NONE;
}

int dir_find_type(u8 type)
{
    for (u32 i = 0; i < directory.count; ++i)
        if (directory.entries[i].type == type) return static_cast<int>(i);
    return DIR_NONE;
}

bool dir_has_children(int index)
{
    if (!valid(index) || !valid(index + 1)) return false;
    const u32 id = directory.entries[index].id;
    return id != 0 && dir_parent(index + 1) == id;
}

int dir_depth(int index)
{
    if (!valid(index)) return 0;
    int depth = 1;
    u32 parent = dir_parent(index);
    while (parent != 0 && depth < MAX_DEPTH) {
        const int j = dir_find_id(parent);
        if (j < 0) break;
        ++depth;
        parent = dir_parent(j);
    }
    return depth;
}

int dir_append(u32 id, u32 stamp, u32 parent, u8 type, u8 attr)
{
    if (dir_full()) return DIR_FAILED;
    fill(directory.entries[directory.count], id, stamp, parent, type, attr);
    ++directory.count;
    dir_changed();
    return DIR_OK;
}

int dir_insert_at(int index, u32 id, u32 stamp, u32 parent, u8 type, u8 attr)
{
    if (dir_full() || !valid(index)) return DIR_FAILED;
    std::memmove(&directory.entries[index + 1], &directory.entries[index],
                 (directory.count - static_cast<u32>(index)) * sizeof(DirEntry));
    fill(directory.entries[index], id, stamp, parent, type, attr);
    ++directory.count;
    dir_changed();
    return DIR_OK;
}

int dir_insert_after(int index, u32 id, u32 stamp, u32 parent, u8 type, u8 attr)
{
    if (!valid(index)) return DIR_FAILED;
    if (static_cast<u32>(index) + 1 == directory.count) return dir_append(id, stamp, parent, type, attr);
    return dir_insert_at(index + 1, id, stamp, parent, type, attr);
}

int dir_set(int index, u32 id, u32 stamp, u32 parent, u8 type, u8 attr)
{
    if (!valid(index)) return DIR_FAILED;
    fill(directory.entries[index], id, stamp, parent, type, attr);
    dir_changed();
    return DIR_OK;
}

int dir_remove(int index)
{
    if (!valid(index)) return DIR_FAILED;
    std::memmove(&directory.entries[index], &directory.entries[index + 1],
                 (directory.count - static_cast<u32>(index) - 1) * sizeof(DirEntry));
    --directory.count;
    std::memset(&directory.entries[directory.count], 0, sizeof(DirEntry));
    dir_changed();
    return DIR_OK;
}

int dir_delete(int index)
{
    if (!valid(index)) return FS_FAILED;
    const u32 id = directory.entries[index].id;
    // An entry without a file has nothing to delete on flash.
    const int r = id != 0 ? fs_delete(id) : FS_OK;
    if (r == FS_OK) dir_remove(index);
    return r;
}

void dir_flags_set(int index, u16 bits)
{
    if (valid(index)) directory.entries[index].flags |= bits;
}

void dir_flags_toggle(int index, u16 bits)
{
    if (valid(index)) directory.entries[index].flags ^= bits;
}

void dir_flags_clear(int index, u16 bits)
{
    if (valid(index)) directory.entries[index].flags &= static_cast<u16>(~bits);
}

void dir_flags_clear_all(u16 bits)
{
    for (u32 i = 0; i < directory.count; ++i) directory.entries[i].flags &= static_cast<u16>(~bits);
}
