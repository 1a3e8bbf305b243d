// Builds a flash.dat holding objects, measurement files and routes, written
// through the instrument's own storage code.
//
//   make_flash_image OUTPUT [objects] [files-per-object] [file-size] [routes] [seed]
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/reset.h"
#include "tests/image/test_image.h"

int main(int argc, char** argv)
{
    const char* const usage =
        "usage: make_flash_image OUTPUT [objects=1] [files-per-object=0] [file-size=2048] [routes=0] [seed=1]\n"
        "Writes a flash.dat image to OUTPUT through the emulator's own storage code:\n"
        "objects, measurement files of the given size under each, and routes.\n";
    if (argc == 2 && (!std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help"))) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (argc == 2 && !std::strcmp(argv[1], "--version")) {
        std::printf("make_flash_image %s\n", TARVIK2_VERSION);
        return 0;
    }
    if (argc < 2 || argc > 7) {
        std::fputs(usage, stderr);
        return 2;
    }
    ImageSpec spec;
    u32* fields[] = {&spec.objects, &spec.files_per_object, &spec.file_size, &spec.routes, &spec.seed};
    for (int i = 2; i < argc; ++i) {
        char* end = nullptr;
        const unsigned long v = std::strtoul(argv[i], &end, 10);
        if (end == argv[i] || *end != 0 || v > 0xFFFFFFFFul) {
            std::fprintf(stderr, "%s: not a number: %s\n", argv[0], argv[i]);
            return 2;
        }
        *fields[i - 2] = static_cast<u32>(v);
    }
    system_reset();
    const int made = image_build(argv[1], spec);
    if (made == -2) {
        std::fprintf(stderr, "%s: cannot open or mount %s\n", argv[0], argv[1]);
        return 1;
    }
    if (made < 0) {
        std::fprintf(stderr, "%s: the image is full or a file could not be written\n", argv[0]);
        return 1;
    }
    std::fprintf(stderr, "%s: %d files written\n", argv[1], made);
    return 0;
}
