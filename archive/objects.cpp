#include "archive/objects.h"

#include <cstring>

#include "base/checksum.h"
#include "base/cp1251.h"
#include "storage/dir.h"
#include "storage/fs.h"

u32 storage_error_flags = 0;

namespace {

// Name of the object made when the archive holds none.
const char* const DEFAULT_OBJECT_NAME = "Объект"_cp;

bool is_object(int index)
{
    return index >= 0 && static_cast<u32>(index) < dir_count() && dir_type(index) == FILE_TYPE_OBJECT;
}

// Copies a name into a record, at most OBJ_NAME_SIZE - 1 bytes and its
// terminator; bytes after the terminator keep their contents.
void put_name(ObjectRecord& rec, const char* name)
{
    const size_t n = strnlen(name, OBJ_NAME_SIZE - 1);
    std::memcpy(rec.name, name, n);
    rec.name[n] = 0;
}

void take_name(const ObjectRecord& rec, char* dest)
{
    const size_t n = strnlen(rec.name, OBJ_NAME_SIZE - 1);
    std::memcpy(dest, rec.name, n);
    dest[n] = 0;
}

void seal(ObjectRecord& rec)
{
    checksum_store(&rec, OBJECT_RECORD_SIZE, OBJECT_CHECKSUM_AT);
}

// Reads the record of an open object file; true if it read and checks.
bool read_record(FileHandle* h, ObjectRecord& rec)
{
    std::memset(&rec, 0, sizeof rec);
    const u32 got = fs_read(h, &rec, 0, OBJECT_RECORD_SIZE);
    return got > 0 && checksum_verify(&rec, OBJECT_RECORD_SIZE, OBJECT_CHECKSUM_AT);
}

int compare_names(const char* a, const char* b)
{
    return std::strcmp(a, b);
}

}  // namespace

int obj_read_name(u32 id, char* dest)
{
    FileHandle h;
    if (fs_open(&h, id, FS_READ | FS_WRITE) != FS_OK) return OBJ_FAILED;
    ObjectRecord rec;
    const bool ok = read_record(&h, rec);
    fs_close(&h);
    if (!ok) return OBJ_FAILED;
    take_name(rec, dest);
    return OBJ_OK;
}

int obj_get_name(int index, char* dest)
{
    if (is_object(index) && obj_read_name(dir_id(index), dest) == OBJ_OK) return OBJ_OK;
    storage_error_flags |= STORAGE_ERR_READ;
    return OBJ_FAILED;
}

void obj_reset()
{
    storage_error_flags = 0;
    dir_set_name_reader(obj_read_name);
}

u32 obj_create(const char* name)
{
    if (dir_full()) return 0;
    // The record is written before the head header (which the close
    // writes): a power cut in between leaves no nameless object.
    FileHandle h{};
    if (fs_create_pending(&h, FILE_TYPE_OBJECT, 0, 0, 0) != FS_OK) {
        storage_error_flags |= STORAGE_ERR_WRITE;
        if (h.first != 0) fs_delete(h.first);
        return 0;
    }
    ObjectRecord rec;
    std::memset(&rec, 0, sizeof rec);
    put_name(rec, name);
    seal(rec);
    if (fs_write(&h, &rec, 0, OBJECT_RECORD_SIZE) != OBJECT_RECORD_SIZE || fs_close(&h) != FS_OK) {
        storage_error_flags |= STORAGE_ERR_WRITE;
        // No file without its entry is left behind.
        fs_delete(h.first);
        return 0;
    }
    PageHeader hd;
    fs_read_header(h.first, &hd);
    char stored[OBJ_NAME_SIZE];
    take_name(rec, stored);
    int place = -1;
    bool any_object = false;
    char other[OBJ_NAME_SIZE];
    for (u32 i = 0; i < dir_count(); ++i) {
        if (dir_type(static_cast<int>(i)) != FILE_TYPE_OBJECT) continue;
        any_object = true;
        if (obj_read_name(dir_id(static_cast<int>(i)), other) == OBJ_OK && compare_names(other, stored) > 0) {
            place = static_cast<int>(i);
            break;
        }
    }
    int added;
    if (place >= 0)
        added = dir_insert_at(place, h.first, hd.stamp, hd.parent, hd.type, hd.attr);
    else if (any_object || dir_count() == 0)
        added = dir_append(h.first, hd.stamp, hd.parent, hd.type, hd.attr);
    else
        added = dir_insert_at(0, h.first, hd.stamp, hd.parent, hd.type, hd.attr);
    if (!added) {
        storage_error_flags |= STORAGE_ERR_READ;
        fs_delete(h.first);
        return 0;
    }
    return h.first;
}

u32 obj_find_by_name(const char* name)
{
    char stored[OBJ_NAME_SIZE];
    for (u32 i = 0; i < dir_count(); ++i) {
        const int index = static_cast<int>(i);
        if (dir_type(index) != FILE_TYPE_OBJECT) continue;
        if (obj_read_name(dir_id(index), stored) == OBJ_OK && compare_names(stored, name) == 0) return dir_id(index);
    }
    return 0;
}

int obj_name_taken(const char* name, int skip_index)
{
    char stored[OBJ_NAME_SIZE];
    for (u32 i = 0; i < dir_count(); ++i) {
        const int index = static_cast<int>(i);
        if (index == skip_index || dir_type(index) != FILE_TYPE_OBJECT) continue;
        if (obj_read_name(dir_id(index), stored) == OBJ_OK && compare_names(stored, name) == 0) return OBJ_NAME_TAKEN;
    }
    return OBJ_NAME_FREE;
}

int obj_rename(int index, const char* name)
{
    if (!is_object(index)) return OBJ_FAILED;
    FileHandle h;
    if (fs_open(&h, dir_id(index), FS_READ | FS_WRITE) != FS_OK) {
        storage_error_flags |= STORAGE_ERR_READ;
        return OBJ_FAILED;
    }
    ObjectRecord rec;
    const bool ok = read_record(&h, rec);
    fs_close(&h);
    if (!ok) std::memset(&rec, 0, sizeof rec);
    put_name(rec, name);
    seal(rec);
    if (fs_write(&h, &rec, 0, OBJECT_RECORD_SIZE) != OBJECT_RECORD_SIZE) {
        storage_error_flags |= STORAGE_ERR_WRITE;
        return OBJ_FAILED;
    }
    return OBJ_OK;
}

int obj_delete_measurements(int index)
{
    if (!is_object(index)) return OBJ_FAILED;
    const u32 id = dir_id(index);
    bool failed = false;
    // Children are searched after the object; one that cannot be deleted is
    // passed over so that the search goes on with the next.
    u32 from = static_cast<u32>(index) + 1;
    while (from < dir_count()) {
        u32 i = from;
        while (i < dir_count() && dir_parent(static_cast<int>(i)) != id) ++i;
        if (i >= dir_count()) break;
        if (dir_delete(static_cast<int>(i)) == FS_OK) {
            from = i;
        } else {
            failed = true;
            from = i + 1;
        }
    }
    if (failed) {
        storage_error_flags |= STORAGE_ERR_WRITE;
        return OBJ_SOME_LEFT;
    }
    return OBJ_OK;
}

int obj_delete(int index)
{
    if (obj_delete_measurements(index) != OBJ_OK) return OBJ_FAILED;
    return dir_delete(index) == FS_OK ? OBJ_OK : OBJ_FAILED;
}

int obj_ensure_current()
{
    const int at = dir_find_id(settings_current_object());
    // The id must still name an object: its page may now head another file.
    if (at >= 0 && dir_type(at) == FILE_TYPE_OBJECT) return OBJ_OK;
    u32 id = 0;
    const int first = dir_find_type(FILE_TYPE_OBJECT);
    if (first >= 0)
        id = dir_id(first);
    else
        id = obj_create(DEFAULT_OBJECT_NAME);
    if (id == 0) return OBJ_FAILED;
    settings_set_current_object(id);
    return OBJ_CHOSEN;
}

int obj_select(u32 id)
{
    const int at = dir_find_id(id);
    if (at < 0) return OBJ_FAILED;
    if (id == settings_current_object()) return OBJ_OK;
    if (dir_type(at) != FILE_TYPE_OBJECT) return OBJ_FAILED;
    settings_set_current_object(id);
    return OBJ_OK;
}

int obj_after_mount()
{
    const int r = obj_ensure_current();
    obj_select(settings_current_object());
    return r;
}
