// Picture files of the LCD: PNG (8-bit RGB) and 16-bit RGB565 BMP.
#pragma once
#include <string>
#include <vector>

#include "base/types.h"

// 5-6-5 to 8-8-8, each channel widened by repeating its top bits.
void rgb565_to_rgb888(u16 c, u8* rgb);

std::vector<u8> picture_encode_png(const u16* pixels, int width, int height);
std::vector<u8> picture_encode_bmp(const u16* pixels, int width, int height);

// Writes the picture; the format follows the name's extension (.bmp gives
// BMP, anything else PNG) unless `bmp` says otherwise (-1 = by extension).
bool picture_save(const std::string& path, const u16* pixels, int width, int height, int bmp, std::string* error);

// Reads back a non-interlaced 8-bit RGB or RGBA PNG as 8-bit RGB triples.
bool picture_decode_png(const std::vector<u8>& file, int* width, int* height, std::vector<u8>* rgb, std::string* error);
