// Picture files of the LCD: PNG (8-bit RGB) and 16-bit RGB565 BMP.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "base/types.h"

// 5-6-5 to 8-8-8, each channel widened by repeating its top bits.
void rgb565_to_rgb888(u16 c, u8* rgb);

std::vector<u8> picture_encode_png(const u16* pixels, int width, int height);
std::vector<u8> picture_encode_bmp(const u16* pixels, int width, int height);

// Writes the picture; the format follows the name's extension (.bmp gives
// BMP, anything else PNG) unless `bmp` says otherwise (-1 = by extension).
// true, or false with `error` when the file cannot be created or written.
bool picture_save(const std::string& path, const u16* pixels, int width, int height, int bmp, std::string* error);

// Where the Save Picture command writes and in which format, from the name
// the save dialog returned and its filter (1 PNG, 2 BMP): a name ending in
// .png or .bmp (any case) is kept and its extension decides the format; any
// other name gets the extension of the filter, whose format it is written in.
struct PictureTarget {
    std::string path;
    bool bmp;
};
PictureTarget picture_target(const std::string& chosen, int filter_index);

// The name the save dialog proposes in `folder`: tarvik2-0001.png (.bmp when
// `bmp`), the first number for which neither a .png nor a .bmp file exists.
std::string picture_fresh_name(const std::string& folder, bool bmp);

// Creates the first free numbered file PREFIX-0001.png, PREFIX-0002.png, …
// in `folder` ("" = the current folder) and opens it for writing; a number
// is taken while its .png or .bmp exists, and an existing file is never
// replaced. Returns the stream and sets `path`; nullptr with `error` when no
// file can be created.
std::FILE* picture_create_numbered(const std::string& folder, const std::string& prefix, std::string* path,
                                   std::string* error);
// Writes the picture as PNG under the first free numbered name (as above).
// Returns the path written, "" with `error` on a failure.
std::string picture_save_numbered(const std::string& folder, const std::string& prefix, const u16* pixels, int width,
                                  int height, std::string* error);

// Reads back a non-interlaced 8-bit RGB or RGBA PNG as 8-bit RGB triples:
// true, or false with `error` saying what in the file is wrong.
bool picture_decode_png(const std::vector<u8>& file, int* width, int* height, std::vector<u8>* rgb, std::string* error);
