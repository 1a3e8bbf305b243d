// Bitmap fonts and text drawing in the current colours.
#pragma once
#include "base/types.h"

enum : u32 {
    TF_ROT_CCW = 1,  // glyphs turned counter-clockwise, text runs upward
    TF_ROT_CW = 2,   // glyphs turned clockwise, text runs downward
    TF_ROT_180 = 4,  // upside down, text runs leftward
    TF_HCENTER = 8,
    TF_RIGHT = 16,
    TF_VCENTER = 32,
    TF_INVERSE = 64,
    TF_XOR = 128,
    TF_SOLID = 256,
    TF_TRANSPARENT = 4096,
    TF_SHADOW_DR = 16384,
    TF_SHADOW_UL = 32768,
    TF_OUTLINE = 49152,
    TF_UNDERLINE = 65536,
};

extern u8 font_current;
extern u8 font_width;
extern u8 font_height;

// Row masks applied to every drawn row: ((raw ^ xor) & and) | or.
extern const u16 ROW_MASK_ONES[16];
extern const u16 ROW_MASK_ZEROS[16];

// Selects font n (1..8; any other: 3) and returns n as given.
u8 font_select(u8 n);
i32 text_width(const char* s);
i32 text_height(const char* s);
u8 glyph_row(u8 code, int index);
void text_draw(i32 x, i32 y, const char* s, u32 flags);
void text_draw_span(i32 x, i32 y, i32 w, const char* s, u32 flags);
void number_draw(i32 x, i32 y, i32 value, u8 digits, u32 flags);

// Back to font 3 (tests and the start of a run).
void text_reset();
