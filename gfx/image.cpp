#include "gfx/image.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "gfx/framebuffer.h"

namespace {

u16 g_scratch[4 + IMAGE_SCRATCH_PIXELS];
u16 g_set_pool[IMAGE_SET_WORDS];
// Each entry starts as an empty picture (all header words 0).
const u16 EMPTY_IMAGE[4] = {0, 0, 0, 0};

struct SetInit {
    SetInit()
    {
        for (int i = 0; i < IMAGE_COUNT; ++i) image_set[i] = image_packed[i] ? EMPTY_IMAGE : nullptr;
    }
};

const u8* bytes_of(const void* img)
{
    return static_cast<const u8*>(img);
}

// Inflates exactly `out_bytes` bytes of pixels; false on any damage.
bool inflate_pixels(const u8* in, u32 in_len, u16* out, u32 out_bytes)
{
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = in_len;
    z.next_out = reinterpret_cast<Bytef*>(out);
    z.avail_out = out_bytes;
    const int r = inflate(&z, Z_FINISH);
    const bool ok = (r == Z_STREAM_END || (r == Z_BUF_ERROR && z.avail_out == 0)) && z.avail_out == 0;
    inflateEnd(&z);
    return ok;
}

// The input limit of a packed source: its real length when it is one of
// the set, the general limit otherwise.
u32 input_limit(const void* src)
{
    for (int i = 0; i < IMAGE_COUNT; ++i)
        if (image_packed[i] == src) return image_packed_size[i] - 4;
    return IMAGE_INPUT_LIMIT;
}

const void* unpack_into(const void* src, u16* dst, u32 capacity_pixels)
{
    const u8* b = bytes_of(src);
    const u32 h = packed_height(src), w = packed_width(src);
    if (static_cast<u64>(h) * w > capacity_pixels) return src;
    dst[0] = b[0];
    dst[1] = b[1] & 63;
    dst[2] = b[2];
    dst[3] = b[3];
    if (!inflate_pixels(b + 4, input_limit(src), dst + 4, h * w * 2)) return src;
    return dst;
}

// Resolves what to draw: the unpacked picture, or nullptr when there is
// nothing that can be drawn safely.
const u16* drawable(const void* img)
{
    if (!img) return nullptr;
    if (image_is_packed(img)) {
        const void* r = unpack_into(img, g_scratch, IMAGE_SCRATCH_PIXELS);
        // A stream that does not inflate stays packed: its bytes are no
        // picture, so nothing is drawn.
        if (r == img) return nullptr;
        return static_cast<const u16*>(r);
    }
    return static_cast<const u16*>(img);
}

void draw_pixels(i32 x, i32 y, const u16* img, i32 sx, i32 sy, i32 w, i32 h)
{
    const i32 stride = static_cast<i32>(image_width(img));
    const u16* src = img + 4;
    const u8 mode = image_mode;
    if (mode == 0) {
        // Whole rows block-copied. Rows that would leave the framebuffer
        // altogether are skipped so that memory outside it stays untouched.
        for (i32 j = 0; j < h; ++j) {
            const i64 start = static_cast<i64>(y + j) * screen_width + x;
            if (start < 0 || start + w > pixel_count) continue;
            std::memcpy(fb_pixels + start, src + (sy + j) * stride + sx, static_cast<size_t>(w) * 2);
        }
        return;
    }
    for (i32 j = 0; j < h; ++j) {
        const i32 py = y + j;
        if (py >= screen_height) break;
        const u16* row = src + (sy + j) * stride + sx;
        for (i32 i = 0; i < w; ++i) {
            const i32 px = x + i;
            if (px >= screen_width) break;
            u16* d = pixel_addr(px, py);
            const u16 c = row[i];
            switch (mode) {
            case 1: *d = c == 0xFFFF ? bg_color : c; break;
            case 2: *d = c == 0xFFFF ? bg_color : fg_color; break;
            case 3:
                if (c != 0xFFFF) *d = c;
                break;
            case 4:
                if (c == 0) *d = fg_color;
                break;
            case 5:
                if (c != fg_color) *d = c;
                break;
            default: *d = c; break;
            }
        }
    }
}

}  // namespace

const u16* image_set[IMAGE_COUNT];
SetInit g_set_init;

u32 image_height(const void* img)
{
    if (!img) return 0;
    const u16* w = static_cast<const u16*>(img);
    return (w[0] & 0xFF) + 256u * (w[1] & 15);
}

u32 image_width(const void* img)
{
    if (!img) return 0;
    const u16* w = static_cast<const u16*>(img);
    return (w[2] & 0xFF) + 256u * (w[3] & 0xFF);
}

u32 image_bytes(const void* img)
{
    return image_height(img) * 2 * image_width(img);
}

u32 packed_height(const void* img)
{
    if (!img) return 0;
    const u8* b = bytes_of(img);
    return b[0] + 256u * (b[1] & 63);
}

u32 packed_width(const void* img)
{
    if (!img) return 0;
    const u8* b = bytes_of(img);
    return b[2] + 256u * b[3];
}

bool image_is_packed(const void* img)
{
    return img && (bytes_of(img)[1] & 0x40) != 0;
}

const void* image_unpack(const void* src, u16* dst)
{
    if (!src) return src;
    if (!dst) return unpack_into(src, g_scratch, IMAGE_SCRATCH_PIXELS);
    return unpack_into(src, dst, packed_height(src) * packed_width(src));
}

void images_unpack_all()
{
    u32 at = 0;
    for (int i = 0; i < IMAGE_COUNT; ++i) {
        if (!image_packed[i]) continue;
        const u32 pixels = static_cast<u32>(image_set_width[i]) * image_set_height[i];
        u16* dst = g_set_pool + at;
        at += 4 + pixels;
        const void* r = unpack_into(image_packed[i], dst, pixels);
        image_set[i] = r == dst ? dst : EMPTY_IMAGE;
    }
}

void image_draw(i32 x, i32 y, const void* img)
{
    const u16* p = drawable(img);
    if (!p) return;
    draw_pixels(x, y, p, 0, 0, static_cast<i32>(image_width(p)), static_cast<i32>(image_height(p)));
}

void image_draw_plain(i32 x, i32 y, const void* img)
{
    const u8 mode = image_mode;
    image_mode = 0;
    image_draw(x, y, img);
    image_mode = mode;
}

void image_draw_part(i32 x, i32 y, i32 sx, i32 sy, i32 w, i32 h, const void* img)
{
    const u16* p = drawable(img);
    if (!p) return;
    const i32 iw = static_cast<i32>(image_width(p)), ih = static_cast<i32>(image_height(p));
    if (sx < 0 || sy < 0 || sx >= iw || sy >= ih) return;
    w = std::min(w, iw - sx);
    h = std::min(h, ih - sy);
    if (w <= 0 || h <= 0) return;
    draw_pixels(x, y, p, sx, sy, w, h);
}
