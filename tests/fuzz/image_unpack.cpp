// Packed pictures as image_unpack and the drawing read them: the input is a
// draw position on the screen and a mode (x and y as u16, taken modulo the
// screen, the image mode byte) followed by a packed image (four header bytes
// and a zlib stream). The source lies in a
// buffer of the size image_unpack may read (its input limit after the
// header); the destination is exactly as large as the header says. Both
// unpackings must agree, and drawing must stay inside the framebuffer.
#include <cstring>
#include <vector>

#include "fuzz.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"

namespace {

// Largest destination this target allocates (the scratch buffer's size).
constexpr u64 MAX_PIXELS = IMAGE_SCRATCH_PIXELS;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz_quiet_instrument();
    FuzzInput in{data, size};
    const i32 x = in.u16le() % LCD_WIDTH;
    const i32 y = in.u16le() % LCD_HEIGHT;
    const u8 mode = in.byte();
    size_t length = 0;
    const u8* packed = in.take(4 + IMAGE_INPUT_LIMIT, &length);
    if (length < 4) return 0;
    static std::vector<u8> src(4 + IMAGE_INPUT_LIMIT);
    std::memcpy(src.data(), packed, length);
    std::memset(src.data() + length, 0, src.size() - length);
    src[1] |= 0x40;  // packed

    const u64 pixels = static_cast<u64>(packed_height(src.data())) * packed_width(src.data());
    const void* scratch = image_unpack(src.data(), nullptr);
    if (scratch != src.data()) {
        FUZZ_CHECK(image_height(scratch) == packed_height(src.data()) % 4096);
        FUZZ_CHECK(image_width(scratch) == packed_width(src.data()));
    }
    if (pixels <= MAX_PIXELS) {
        std::vector<u16> dst(4 + pixels);
        const void* r = image_unpack(src.data(), dst.data());
        FUZZ_CHECK(r == dst.data() || r == src.data());
        // Both unpackings succeed or fail together and give the same pixels.
        FUZZ_CHECK((r == dst.data()) == (scratch != src.data()));
        if (r == dst.data() && packed_height(src.data()) < 4096)
            FUZZ_CHECK(std::memcmp(dst.data(), scratch, (4 + pixels) * 2) == 0);
    }
    image_mode = mode % 8;
    fg_color = 0x1234;
    bg_color = 0x4321;
    image_draw(x, y, src.data());
    image_draw_part(x, y, x / 3, y / 3, 100, 80, src.data());
    return 0;
}
