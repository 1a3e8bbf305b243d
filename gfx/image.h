// Pictures: the packed and unpacked image forms and image drawing.
//
// Unpacked: four 16-bit header words (height low 8 bits, height bits 8-11,
// width low 8 bits, width high 8 bits), then height x width RGB565 pixels.
// Packed: four header bytes (height low 8 bits, 0x40 | height bits 8-13,
// width low, width high), then a zlib stream of the pixels.
#pragma once
#include "base/types.h"
#include "data/images.h"

constexpr u32 IMAGE_INPUT_LIMIT = 393216;
// Pixels the scratch buffer holds (packed pictures drawn directly).
constexpr u32 IMAGE_SCRATCH_PIXELS = 131072;

// The unpacked pictures of the set by index (an empty picture until
// images_unpack_all has run, nullptr where the set has none).
extern const u16* image_set[IMAGE_COUNT];

u32 image_height(const void* img);
u32 image_width(const void* img);
u32 image_bytes(const void* img);
u32 packed_height(const void* img);
u32 packed_width(const void* img);
// true for a packed picture (0x40 in header byte 1), false for nullptr.
bool image_is_packed(const void* img);

// Unpacks src into dst (nullptr: the scratch buffer). Returns dst, or src
// itself when the stream cannot be inflated.
const void* image_unpack(const void* src, u16* dst);
void images_unpack_all();
void image_draw(i32 x, i32 y, const void* img);
// image_draw in image mode 0 (every pixel copied); the current mode stays.
void image_draw_plain(i32 x, i32 y, const void* img);
void image_draw_part(i32 x, i32 y, i32 sx, i32 sy, i32 w, i32 h, const void* img);
