// PNG building blocks shared by the picture writer and the recorder.
#pragma once
#include <vector>

#include "base/types.h"

// The eight bytes every PNG file starts with.
extern const u8 PNG_SIGNATURE[8];

// Appends v as four bytes, most significant first.
void png_put_be32(std::vector<u8>& out, u32 v);
// Appends a chunk: length, type, data and the CRC of type and data.
void png_put_chunk(std::vector<u8>& out, const char* type, const std::vector<u8>& data);
// The 13 bytes of an IHDR chunk for 8-bit RGB, not interlaced.
std::vector<u8> png_rgb_header(int width, int height);
