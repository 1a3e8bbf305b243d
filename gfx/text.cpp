#include "gfx/text.h"

#include <cstdio>
#include <cstring>

#include "base/text.h"
#include "data/fonts.h"
#include "gfx/framebuffer.h"

u8 font_current = 3;
u8 font_width = 8;
u8 font_height = 8;

const u16 ROW_MASK_ONES[16] = {65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535,
                               65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535};
const u16 ROW_MASK_ZEROS[16] = {};

namespace {

const FontData& current_font()
{
    const u8 n = (font_current >= 1 && font_current <= 8) ? font_current : 3;
    return font_table[n - 1];
}

// The raw 16-bit row r of a glyph: leftmost pixel in bit 15.
u16 raw_row(const FontData& f, u8 code, int r)
{
    const u8* g = f.glyphs + static_cast<size_t>(code) * f.height * f.bytes_per_row + r * f.bytes_per_row;
    return f.bytes_per_row == 2 ? static_cast<u16>(g[0] << 8 | g[1]) : static_cast<u16>(g[0] << 8);
}

int rotation_of(u32 flags)
{
    if (flags & TF_ROT_CCW) return 1;
    if (flags & TF_ROT_CW) return 2;
    if (flags & TF_ROT_180) return 4;
    return 0;
}

void draw_glyph(i32 gx, i32 gy, u8 code, u32 flags, int rot)
{
    const FontData& f = current_font();
    const u16* xor_mask = (flags & TF_INVERSE) ? ROW_MASK_ONES : ROW_MASK_ZEROS;
    const u16* and_mask = ROW_MASK_ONES;
    const u16* or_mask = ROW_MASK_ZEROS;
    const int transparent = (flags & TF_TRANSPARENT) ? 1 : 0;
    for (int r = 0; r < f.height; ++r) {
        u16 row = static_cast<u16>(((raw_row(f, code, r) ^ xor_mask[r]) & and_mask[r]) | or_mask[r]);
        if (r == f.height - 1 && (flags & TF_UNDERLINE)) row = 65535;
        for (int c = 0; c < f.width; ++c) {
            const int bit = (row & (0x8000 >> c)) ? 1 : 0;
            i32 px = gx + c, py = gy + r;
            switch (rot) {
            case 1:
                px = gx + r;
                py = gy - c;
                break;
            case 2:
                px = gx - r;
                py = gy + c;
                break;
            case 4:
                px = gx - c;
                py = gy - r;
                break;
            default: break;
            }
            if (flags & TF_XOR)
                xor_bit(px, py, bit, transparent);
            else if (flags & TF_SOLID)
                plot_bit(px, py, 1, transparent);
            else
                plot_bit(px, py, bit, transparent);
        }
    }
}

// Position of character i of a string that starts at (x, y).
void char_origin(i32 x, i32 y, int i, int rot, i32* cx, i32* cy)
{
    const i32 step = i * static_cast<i32>(font_width);
    *cx = x;
    *cy = y;
    switch (rot) {
    case 1: *cy = y - step; break;
    case 2: *cy = y + step; break;
    case 4: *cx = x - step; break;
    default: *cx = x + step; break;
    }
}

void draw_chars(i32 x, i32 y, const char* s, int n, u32 flags, int rot)
{
    for (int i = 0; i < n; ++i) {
        i32 cx, cy;
        char_origin(x, y, i, rot, &cx, &cy);
        draw_glyph(cx, cy, static_cast<u8>(s[i]), flags, rot);
    }
}

}  // namespace

u8 font_select(u8 n)
{
    font_current = (n >= 1 && n <= 8) ? n : 3;
    const FontData& f = font_table[font_current - 1];
    font_width = f.width;
    font_height = f.height;
    return n;
}

i32 text_width(const char* s)
{
    return s ? static_cast<i32>(std::strlen(s)) * font_width : 0;
}

i32 text_height(const char* s)
{
    return s ? font_height : 0;
}

u8 glyph_row(u8 code, int index)
{
    const FontData& f = current_font();
    return f.glyphs[static_cast<size_t>(code) * f.height * f.bytes_per_row + index];
}

void text_draw(i32 x, i32 y, const char* s, u32 flags)
{
    if (!s) return;
    const int rot = rotation_of(flags);
    const i32 w = text_width(s), h = text_height(s);
    if (flags & TF_HCENTER) {
        if (rot == 1)
            x -= h / 2;
        else if (rot == 2)
            x += h / 2;
        else if (rot == 4)
            x += w / 2;
        else
            x -= w / 2;
    } else if (flags & TF_RIGHT) {
        x -= (rot == 1 || rot == 2) ? h : w;
    }
    if (flags & TF_VCENTER) {
        if (rot == 1)
            y += w / 2;
        else if (rot == 2)
            y -= w / 2;
        else if (rot == 4)
            y += h / 2;
        else
            y -= h / 2;
    }
    const int n = static_cast<int>(std::strlen(s));
    const i32 len = n * static_cast<i32>(font_width), ch = font_height;
    if (flags & TF_OUTLINE) {
        if (!(flags & TF_TRANSPARENT)) {
            // The box (x - 1, y - 1)-(x + len + 1, y + ch + 1) of upright
            // text, turned with the text so that it covers it.
            switch (rot) {
            case 1: clear_rect(x - 1, y - len - 1, x + ch + 1, y + 1); break;
            case 2: clear_rect(x - ch - 1, y - 1, x + 1, y + len + 1); break;
            case 4: clear_rect(x - len - 1, y - ch - 1, x + 1, y + 1); break;
            default: clear_rect(x - 1, y - 1, x + len + 1, y + ch + 1); break;
            }
            flags |= TF_TRANSPARENT;
        }
        const u16 fg = fg_color;
        fg_color = outline_color;
        if ((flags & TF_OUTLINE) == TF_OUTLINE) {
            static const int d[4][2] = {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
            for (const auto& o : d) draw_chars(x + o[0], y + o[1], s, n, flags, rot);
        } else if (flags & TF_SHADOW_DR) {
            draw_chars(x + 1, y + 1, s, n, flags, rot);
        } else {
            draw_chars(x - 1, y - 1, s, n, flags, rot);
        }
        fg_color = fg;
    }
    draw_chars(x, y, s, n, flags, rot);
}

void text_draw_span(i32 x, i32 y, i32 w, const char* s, u32 flags)
{
    if (s) text_draw(x + w / 2, y, s, flags | TF_HCENTER);
}

void number_draw(i32 x, i32 y, i32 value, u8 digits, u32 flags)
{
    char buf[272];
    text_draw(x, y, int_to_text(value, digits, buf), flags);
}

void text_reset()
{
    font_select(3);
}
