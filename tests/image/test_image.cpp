#include "tests/image/test_image.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "archive/objects.h"
#include "base/cp1251.h"
#include "host/session.h"
#include "storage/dir.h"
#include "storage/fs.h"

u8 image_file_byte(u32 seed, u32 id, u32 offset)
{
    u32 x = seed * 2654435761u ^ id * 40503u ^ offset * 2246822519u;
    x ^= x >> 15;
    return static_cast<u8>(x);
}

namespace {

bool write_file(u8 type, u32 parent, u32 size, u32 stamp, u32 seed, u32* id)
{
    FileHandle h{};
    if (fs_create(&h, type, parent, 0, size, &stamp) != FS_OK) return false;
    u8 chunk[2048];
    for (u32 at = 0; at < size; at += sizeof chunk) {
        const u32 n = size - at < sizeof chunk ? size - at : static_cast<u32>(sizeof chunk);
        for (u32 i = 0; i < n; ++i) chunk[i] = image_file_byte(seed, h.first, at + i);
        if (fs_write(&h, chunk, at, n) != n) return false;
    }
    if (fs_close(&h) != FS_OK) return false;
    *id = h.first;
    return true;
}

}  // namespace

int image_populate(const ImageSpec& spec)
{
    int made = 0;
    u32 stamp = spec.first_stamp;
    for (u32 o = 0; o < spec.objects; ++o) {
        char name[OBJ_NAME_SIZE];
        std::snprintf(name, sizeof name, "%s %04u", "Объект"_cp, static_cast<unsigned>(o + 1));
        const u32 object = obj_create(name);
        if (object == 0) return -1;
        ++made;
        for (u32 f = 0; f < spec.files_per_object; ++f) {
            u32 id = 0;
            if (!write_file(FILE_TYPE_VIBROMETER, object, spec.file_size, stamp, spec.seed, &id)) return -1;
            // Newest first, directly after the object.
            if (!dir_insert_after(dir_find_id(object), id, stamp, object, FILE_TYPE_VIBROMETER, 0)) return -1;
            stamp += 60;
            ++made;
        }
    }
    for (u32 r = 0; r < spec.routes; ++r) {
        u32 id = 0;
        if (!write_file(FILE_TYPE_ROUTE, 0, spec.file_size, stamp, spec.seed, &id)) return -1;
        if (!dir_append(id, stamp, 0, FILE_TYPE_ROUTE, 0)) return -1;
        stamp += 60;
        ++made;
    }
    return made;
}

int image_build(const char* path, const ImageSpec& spec)
{
    const int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return -2;
    const int saved = flash_handle;
    flash_handle = fd;
    int result = -2;
    if (fs_init() == FS_OK && fs_mount() == FS_OK) result = image_populate(spec);
    flash_handle = saved;
    close(fd);
    return result;
}
