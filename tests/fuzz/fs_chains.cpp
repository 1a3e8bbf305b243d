// The file system's chains and the directory on a damaged flash.dat: the
// patched image (flash_sandbox.h) is mounted, then the input's operations
// run on it: reading every file, creating, growing, deleting files and
// objects, renaming, the rebuild, mounting again. Files this run wrote must
// read back exactly, also after the next mount, whatever the image held;
// the page counts must cover the area after every operation.
#include <algorithm>
#include <cstring>
#include <vector>

#include "archive/objects.h"
#include "flash_sandbox.h"
#include "fuzz.h"
#include "host/settings.h"
#include "storage/dir.h"
#include "storage/fs.h"

namespace {

// A file this run wrote: its id and its bytes.
struct Written {
    u32 id;
    std::vector<u8> bytes;
};

std::vector<Written> g_written;
std::vector<u8> g_buffer;

u8 byte_of(u8 seed, u32 offset)
{
    return static_cast<u8>(seed + offset * 31 + (offset >> 11));
}

// The bytes of a file: every one depends on the seed, its offset and its page.
void fill(u8 seed, u32 from, u32 n)
{
    g_buffer.resize(n);
    for (u32 i = 0; i < n; ++i) g_buffer[i] = byte_of(seed, from + i);
}

void check_counts()
{
    fs_count_pages();
    const FsState& s = fs_state;
    FUZZ_CHECK(s.free + s.used + s.chained + s.deleted + s.bad == s.end_page - s.first_page);
}

// Every file written by this run reads back whole (unless its page went bad
// under it, which the image can cause: then it no longer opens).
void check_written()
{
    for (const Written& w : g_written) {
        FileHandle h;
        if (fs_open(&h, w.id, FS_READ) != FS_OK) continue;
        const u32 length = static_cast<u32>(w.bytes.size());
        FUZZ_CHECK(static_cast<u64>(h.pages) * 2048 >= length);
        static std::vector<u8> back;
        back.resize(length);
        FUZZ_CHECK(fs_read(&h, back.data(), 0, length) == length);
        FUZZ_CHECK(std::memcmp(back.data(), w.bytes.data(), length) == 0);
    }
}

bool opens(u32 id)
{
    FileHandle h;
    return fs_open(&h, id, FS_READ) == FS_OK;
}

// Deletes the entry at `at` (an object with its measurements): this run's
// files among them are forgotten, and every other one that opened before
// must still open.
void delete_entry(int at)
{
    const u32 id = dir_id(at);
    const bool object = dir_type(at) == FILE_TYPE_OBJECT;
    std::vector<u32> victims{id};
    if (object)
        for (u32 i = 0; i < dir_count(); ++i)
            if (dir_parent(static_cast<int>(i)) == id) victims.push_back(dir_id(static_cast<int>(i)));
    std::vector<bool> opened;
    for (const Written& w : g_written) opened.push_back(opens(w.id));
    if (object)
        obj_delete(at);
    else
        dir_delete(at);
    std::vector<Written> kept;
    for (size_t i = 0; i < g_written.size(); ++i) {
        const Written& w = g_written[i];
        if (std::find(victims.begin(), victims.end(), w.id) != victims.end()) continue;
        if (opened[i]) FUZZ_CHECK(opens(w.id));
        kept.push_back(w);
    }
    g_written = kept;
}

int pick(u8 b)
{
    return dir_count() == 0 ? -1 : static_cast<int>(b % dir_count());
}

void read_whole(int at)
{
    FileHandle h;
    const int r = fs_open(&h, dir_id(at), FS_READ);
    FUZZ_CHECK(r == FS_OK || r == FS_OPEN_NOT_HEAD || r == FS_OPEN_BAD_HEAD_LINK || r == FS_OPEN_BAD_PAGE ||
               r == FS_OPEN_BAD_LINK || r == FS_OPEN_TOO_LONG);
    if (r != FS_OK) return;
    const u32 n = static_cast<u32>(h.pages) * 2048;
    g_buffer.assign(n, 0);
    FUZZ_CHECK(fs_read(&h, g_buffer.data(), 0, n) == n);
    // Reading past the end is cut or refused.
    FUZZ_CHECK(fs_read(&h, g_buffer.data(), n, 1) == 0);
    FUZZ_CHECK(fs_read(&h, g_buffer.data(), n - 1, 2) == 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz_quiet_instrument();
    flash_sandbox_begin();
    g_written.clear();
    FuzzInput in{data, size};
    // The operations come first, the image's patches after them.
    size_t ops_length = 0;
    const u8* ops_bytes = in.take(in.byte(), &ops_length);
    flash_apply_patches(in);
    FUZZ_CHECK(flash_mount());
    obj_after_mount();
    check_counts();
    FuzzInput ops{ops_bytes, ops_length};
    u8 seed = 1;
    while (ops.left() > 0) {
        const u8 op = ops.byte();
        const u8 arg = ops.byte();
        const int at = pick(arg);
        switch (op % 10) {
        case 0:
            if (at >= 0) read_whole(at);
            break;
        case 1: {  // a new file, up to 8 pages
            const u32 length = 1 + (arg * 67u + ops.byte() * 251u) % (8 * 2048);
            FileHandle h;
            const bool pending = op & 0x80;
            const int r = pending ? fs_create_pending(&h, FILE_TYPE_VIBROMETER, settings.current_object, 4, length)
                                  : fs_create(&h, FILE_TYPE_VIBROMETER, settings.current_object, 4, length);
            if (r != FS_OK) {
                if (h.first != 0) fs_delete(h.first);
                break;
            }
            fill(++seed, 0, length);
            if (fs_write(&h, g_buffer.data(), 0, length) == length && fs_close(&h) == FS_OK &&
                dir_append(h.first, h.stamp, settings.current_object, FILE_TYPE_VIBROMETER, 4))
                g_written.push_back({h.first, g_buffer});
            else
                fs_delete(h.first);
            break;
        }
        case 2:  // one of this run's files grows
            if (!g_written.empty()) {
                Written& w = g_written[arg % g_written.size()];
                FileHandle h;
                if (fs_open(&h, w.id, FS_READ | FS_WRITE | FS_GROW) != FS_OK) break;
                const u32 more = 1 + ops.byte() * 37u;
                const u32 length = static_cast<u32>(w.bytes.size());
                fill(static_cast<u8>(w.id), length, more);
                if (fs_write(&h, g_buffer.data(), length, more) == more && fs_close(&h) == FS_OK)
                    w.bytes.insert(w.bytes.end(), g_buffer.begin(), g_buffer.end());
            }
            break;
        case 3:
            if (at >= 0) delete_entry(at);
            break;
        case 4: {
            char name[24];
            std::snprintf(name, sizeof name, "O%u", static_cast<unsigned>(arg));
            obj_create(name);
            break;
        }
        case 5:
            if (at >= 0) {
                char name[24];
                std::snprintf(name, sizeof name, "R%u", static_cast<unsigned>(ops.byte()));
                obj_rename(at, name);
            }
            break;
        case 6: fs_rebuild(); break;
        case 7: {  // the next start
            FUZZ_CHECK(flash_mount());
            obj_after_mount();
            // Files of this run are all listed again.
            for (const Written& w : g_written) {
                FileHandle h;
                if (fs_open(&h, w.id, FS_READ) == FS_OK) FUZZ_CHECK(dir_find_id(w.id) >= 0);
            }
            break;
        }
        case 8:
            if (at >= 0) {
                char name[OBJ_NAME_SIZE];
                obj_get_name(at, name);
                dir_depth(at);
                dir_has_children(at);
            }
            break;
        default:
            if (at >= 0) obj_select(dir_id(at));
            break;
        }
        check_counts();
        check_written();
    }
    FUZZ_CHECK(flash_mount());
    check_written();
    return 0;
}
