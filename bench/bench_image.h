// A flash image built by the test-image builder in a temporary folder, open
// for the benchmarks that mount it; removed again at the end.
#pragma once
#include <string>

#include "base/types.h"

struct BuiltImage {
    // `objects` objects with `files_per_object` measurement files of
    // `file_size` bytes each.
    BuiltImage(u32 objects, u32 files_per_object, u32 file_size);
    ~BuiltImage();
    BuiltImage(const BuiltImage&) = delete;
    BuiltImage& operator=(const BuiltImage&) = delete;

    std::string folder;
    std::string path;  // the image, folder/flash.dat
    int fd = 0;        // open for reading and writing
    bool ok = false;   // built and open
};
