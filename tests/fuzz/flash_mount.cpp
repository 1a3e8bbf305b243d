// The mount of a damaged flash.dat: page contents and spare areas patched
// into an erased image (flash_sandbox.h), then the mount as at start-up
// (scan, reclaim, sort) and the current object. The directory must list
// only heads, each once, in the mount's order; the page counts must cover
// the area; a second mount must find nothing to reclaim and list the same
// files.
#include <algorithm>
#include <cstring>
#include <vector>

#include "archive/objects.h"
#include "flash_sandbox.h"
#include "fuzz.h"
#include "host/settings.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "storage/nand.h"

namespace {

bool is_root_object(int i)
{
    return dir_type(i) == FILE_TYPE_OBJECT && dir_parent(i) == 0;
}

// The directory as the mount leaves it: root objects by name (unreadable
// names last), each followed by its children newest first, then the
// entries of no object newest first.
void check_directory()
{
    const u32 n = dir_count();
    FUZZ_CHECK(n <= DIR_CAPACITY);
    std::vector<u32> ids;
    for (u32 i = 0; i < n; ++i) {
        const int at = static_cast<int>(i);
        const u32 id = dir_id(at);
        FUZZ_CHECK(id >= fs_state.first_page && id < fs_state.end_page);
        const u8 s = pt_state(fs_table(id));
        FUZZ_CHECK(s == PAGE_HEAD || s == PAGE_HEAD_ALT);
        ids.push_back(id);
    }
    std::sort(ids.begin(), ids.end());
    FUZZ_CHECK(std::adjacent_find(ids.begin(), ids.end()) == ids.end());

    std::vector<u32> roots;
    for (u32 i = 0; i < n; ++i)
        if (is_root_object(static_cast<int>(i))) roots.push_back(dir_id(static_cast<int>(i)));
    std::sort(roots.begin(), roots.end());
    auto listed_root = [&roots](u32 id) { return std::binary_search(roots.begin(), roots.end(), id); };

    bool ownerless_seen = false;
    u32 owner = 0;
    int last_child = -1;
    static char prev_name[OBJ_NAME_SIZE], name[OBJ_NAME_SIZE];
    bool prev_readable = true;
    bool first_root = true;
    for (u32 i = 0; i < n; ++i) {
        const int at = static_cast<int>(i);
        if (is_root_object(at)) {
            FUZZ_CHECK(!ownerless_seen);
            owner = dir_id(at);
            last_child = -1;
            const bool readable = obj_read_name(owner, name) == OBJ_OK;
            if (!first_root) {
                FUZZ_CHECK(prev_readable || !readable);
                if (prev_readable && readable) FUZZ_CHECK(std::strcmp(prev_name, name) <= 0);
            }
            first_root = false;
            prev_readable = readable;
            if (readable) std::memcpy(prev_name, name, sizeof name);
            continue;
        }
        if (listed_root(dir_parent(at))) {
            FUZZ_CHECK(!ownerless_seen && dir_parent(at) == owner);
            if (last_child >= 0) FUZZ_CHECK(dir_stamp(last_child) >= dir_stamp(at));
            last_child = at;
        } else {
            if (ownerless_seen) FUZZ_CHECK(dir_stamp(at - 1) >= dir_stamp(at));
            ownerless_seen = true;
        }
    }
}

void check_pages()
{
    fs_count_pages();
    const FsState& s = fs_state;
    FUZZ_CHECK(s.free + s.used + s.chained + s.deleted + s.bad == s.end_page - s.first_page);
    // Every body page is reached from some head.
    FUZZ_CHECK(fs_reclaim_unreachable() == 0);
    FUZZ_CHECK(fs_free_bytes() <= fs_total_bytes());
}

std::vector<u32> sorted_ids()
{
    std::vector<u32> ids;
    for (u32 i = 0; i < dir_count(); ++i) ids.push_back(dir_id(static_cast<int>(i)));
    std::sort(ids.begin(), ids.end());
    return ids;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz_quiet_instrument();
    flash_sandbox_begin();
    FuzzInput in{data, size};
    flash_apply_patches(in);
    FUZZ_CHECK(flash_mount());
    check_directory();
    check_pages();
    if (obj_after_mount() != OBJ_FAILED) {
        const int at = dir_find_id(settings.current_object);
        FUZZ_CHECK(at >= 0 && dir_type(at) == FILE_TYPE_OBJECT);
    }
    check_pages();
    const std::vector<u32> first = sorted_ids();
    // The next start: nothing left to reclaim, the same files.
    const u64 writes = nand_writes_made();
    FUZZ_CHECK(flash_mount());
    FUZZ_CHECK(nand_writes_made() == writes);
    FUZZ_CHECK(sorted_ids() == first);
    check_directory();
    return 0;
}
