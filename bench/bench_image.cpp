#include "bench/bench_image.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "app/reset.h"
#include "tests/image/test_image.h"

BuiltImage::BuiltImage(u32 objects, u32 files_per_object, u32 file_size)
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "tarvik2-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) return;
    folder = tmpl;
    path = folder + "/flash.dat";
    system_reset();
    ImageSpec spec;
    spec.objects = objects;
    spec.files_per_object = files_per_object;
    spec.file_size = file_size;
    ok = image_build(path.c_str(), spec) == static_cast<int>(objects * (files_per_object + 1));
    fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    ok = ok && fd > 0;
}

BuiltImage::~BuiltImage()
{
    if (fd > 0) close(fd);
    if (folder.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
}
