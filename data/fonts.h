// The eight bitmap fonts of the instrument (generated table, data/fonts.cpp).
#pragma once
#include "base/types.h"

// A glyph is `height` rows of `bytes_per_row` bytes, the leftmost pixel in
// the most significant bit; 256 glyphs per font, indexed by the
// Windows-1251 code.
struct FontData {
    u8 width;
    u8 height;
    u8 bytes_per_row;
    const u8* glyphs;
};

// Fonts 1..8 at index 0..7.
extern const FontData font_table[8];
