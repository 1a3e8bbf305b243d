// Builds flash images with a given number of objects and measurement files
// through the storage code itself, for tests, benchmarks and the
// make_flash_image tool.
#pragma once
#include "base/types.h"

struct ImageSpec {
    u32 objects = 1;              // objects named "Объект 0001", ...
    u32 files_per_object = 0;     // measurement files (type 19) under each object
    u32 file_size = 2048;         // bytes of each measurement file
    u32 routes = 0;               // route files (type 5, no parent)
    u32 seed = 1;                 // varies the file contents
    u32 first_stamp = 800000000;  // stamp of the first measurement; +60 s per file
};

// Byte `offset` of the measurement or route file `id` written with `seed`.
u8 image_file_byte(u32 seed, u32 id, u32 offset);

// Adds the objects and files of `spec` to the mounted file system and
// directory. Returns the number of files made, or -1 when one failed.
int image_populate(const ImageSpec& spec);

// Opens (or creates, empty) the image file at `path`, mounts it, adds the
// contents of `spec`, and closes it again; the flash file that was open
// before is open again afterwards. Returns the number of files made, -1 if a
// file could not be made, -2 if the image cannot be opened or mounted.
int image_build(const char* path, const ImageSpec& spec);
