#include "front/common/picture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "png_internal.h"

const u8 PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

void png_put_be32(std::vector<u8>& out, u32 v)
{
    out.push_back(static_cast<u8>(v >> 24));
    out.push_back(static_cast<u8>(v >> 16));
    out.push_back(static_cast<u8>(v >> 8));
    out.push_back(static_cast<u8>(v));
}

void png_put_chunk(std::vector<u8>& out, const char* type, const std::vector<u8>& data)
{
    png_put_be32(out, static_cast<u32>(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    uLong crc = crc32(0L, out.data() + start, static_cast<uInt>(out.size() - start));
    png_put_be32(out, static_cast<u32>(crc));
}

std::vector<u8> png_rgb_header(int width, int height)
{
    std::vector<u8> ihdr;
    png_put_be32(ihdr, static_cast<u32>(width));
    png_put_be32(ihdr, static_cast<u32>(height));
    ihdr.push_back(8);  // bit depth
    ihdr.push_back(2);  // colour type: RGB
    ihdr.push_back(0);  // deflate
    ihdr.push_back(0);  // adaptive filtering
    ihdr.push_back(0);  // no interlace
    return ihdr;
}

namespace {

int paeth(int a, int b, int c)
{
    int p = a + b - c;
    int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    if (pb <= pc) return b;
    return c;
}

void put_le16(std::vector<u8>& out, u32 v)
{
    out.push_back(static_cast<u8>(v));
    out.push_back(static_cast<u8>(v >> 8));
}

void put_le32(std::vector<u8>& out, u32 v)
{
    put_le16(out, v & 0xFFFF);
    put_le16(out, v >> 16);
}

u32 get_be32(const u8* p)
{
    return (static_cast<u32>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

}  // namespace

void rgb565_to_rgb888(u16 c, u8* rgb)
{
    const u32 r = (c >> 11) & 31, g = (c >> 5) & 63, b = c & 31;
    rgb[0] = static_cast<u8>((r << 3) | (r >> 2));
    rgb[1] = static_cast<u8>((g << 2) | (g >> 4));
    rgb[2] = static_cast<u8>((b << 3) | (b >> 2));
}

std::vector<u8> picture_encode_png(const u16* pixels, int width, int height)
{
    // Each row: filter byte 0, then RGB triples.
    const size_t stride = 1 + 3 * static_cast<size_t>(width);
    std::vector<u8> raw(stride * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        u8* row = raw.data() + stride * static_cast<size_t>(y);
        row[0] = 0;
        for (int x = 0; x < width; ++x) rgb565_to_rgb888(pixels[y * width + x], row + 1 + 3 * x);
    }
    uLongf zlen = compressBound(static_cast<uLong>(raw.size()));
    std::vector<u8> z(zlen);
    compress2(z.data(), &zlen, raw.data(), static_cast<uLong>(raw.size()), 9);
    z.resize(zlen);

    std::vector<u8> out(PNG_SIGNATURE, PNG_SIGNATURE + sizeof PNG_SIGNATURE);
    png_put_chunk(out, "IHDR", png_rgb_header(width, height));
    png_put_chunk(out, "IDAT", z);
    png_put_chunk(out, "IEND", {});
    return out;
}

std::vector<u8> picture_encode_bmp(const u16* pixels, int width, int height)
{
    const u32 row_bytes = (static_cast<u32>(width) * 2 + 3) & ~3u;
    const u32 offset = 14 + 40 + 12;
    const u32 image_size = row_bytes * static_cast<u32>(height);
    std::vector<u8> out;
    out.reserve(offset + image_size);
    out.push_back('B');
    out.push_back('M');
    put_le32(out, offset + image_size);
    put_le32(out, 0);
    put_le32(out, offset);
    put_le32(out, 40);  // BITMAPINFOHEADER
    put_le32(out, static_cast<u32>(width));
    put_le32(out, static_cast<u32>(height));  // positive: bottom-up rows
    put_le16(out, 1);
    put_le16(out, 16);
    put_le32(out, 3);  // BI_BITFIELDS
    put_le32(out, image_size);
    put_le32(out, 2835);  // 72 dpi
    put_le32(out, 2835);
    put_le32(out, 0);
    put_le32(out, 0);
    put_le32(out, 0xF800);  // red mask
    put_le32(out, 0x07E0);  // green mask
    put_le32(out, 0x001F);  // blue mask
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) put_le16(out, pixels[y * width + x]);
        for (u32 pad = static_cast<u32>(width) * 2; pad < row_bytes; ++pad) out.push_back(0);
    }
    return out;
}

bool picture_save(const std::string& path, const u16* pixels, int width, int height, int bmp, std::string* error)
{
    if (bmp < 0) {
        bmp = path.size() >= 4 &&
              (path.compare(path.size() - 4, 4, ".bmp") == 0 || path.compare(path.size() - 4, 4, ".BMP") == 0);
    }
    const std::vector<u8> data =
        bmp ? picture_encode_bmp(pixels, width, height) : picture_encode_png(pixels, width, height);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        if (error) *error = path + ": cannot create: " + std::strerror(errno);
        return false;
    }
    const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    const bool closed = std::fclose(f) == 0;
    if (!ok || !closed) {
        if (error) *error = path + ": cannot write the picture";
        return false;
    }
    return true;
}

PictureTarget picture_target(const std::string& chosen, int filter_index)
{
    const size_t slash = chosen.find_last_of('/');
    const size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = chosen.find_last_of('.');
    if (dot != std::string::npos && dot > name_start) {
        std::string ext = chosen.substr(dot + 1);
        for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == "png") return {chosen, false};
        if (ext == "bmp") return {chosen, true};
    }
    const bool bmp = filter_index == 2;
    std::string path = chosen;
    if (path.empty() || path.back() != '.') path += '.';
    path += bmp ? "bmp" : "png";
    return {path, bmp};
}

std::string picture_fresh_name(const std::string& folder, bool bmp)
{
    const std::string dir = folder.empty() ? "." : folder;
    char stem[32];
    for (unsigned n = 1;; ++n) {
        std::snprintf(stem, sizeof stem, "tarvik2-%04u", n);
        const std::string base = dir + "/" + stem;
        struct stat st {};
        if (stat((base + ".png").c_str(), &st) != 0 && stat((base + ".bmp").c_str(), &st) != 0)
            return std::string(stem) + (bmp ? ".bmp" : ".png");
    }
}

std::FILE* picture_create_numbered(const std::string& folder, const std::string& prefix, std::string* path,
                                   std::string* error)
{
    const std::string dir = folder.empty() ? "." : folder;
    char number[16];
    for (unsigned n = 1; n != 0; ++n) {
        std::snprintf(number, sizeof number, "-%04u", n);
        const std::string base = dir + "/" + prefix + number;
        struct stat st {};
        if (stat((base + ".bmp").c_str(), &st) == 0) continue;
        // Created only when the name is free, so that no picture is replaced
        // (another program may be writing into the folder too).
        const int fd = open((base + ".png").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            if (error) *error = base + ".png: cannot create: " + std::strerror(errno);
            return nullptr;
        }
        std::FILE* f = fdopen(fd, "wb");
        if (!f) {
            if (error) *error = base + ".png: cannot write: " + std::strerror(errno);
            close(fd);
            unlink((base + ".png").c_str());
            return nullptr;
        }
        *path = base + ".png";
        return f;
    }
    if (error) *error = dir + ": no free picture number";
    return nullptr;
}

std::string picture_save_numbered(const std::string& folder, const std::string& prefix, const u16* pixels, int width,
                                  int height, std::string* error)
{
    std::string path;
    std::FILE* f = picture_create_numbered(folder, prefix, &path, error);
    if (!f) return "";
    const std::vector<u8> data = picture_encode_png(pixels, width, height);
    const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    const bool closed = std::fclose(f) == 0;
    if (!ok || !closed) {
        if (error) *error = path + ": cannot write the picture";
        unlink(path.c_str());
        return "";
    }
    return path;
}

bool picture_decode_png(const std::vector<u8>& file, int* width, int* height, std::vector<u8>* rgb, std::string* error)
{
    auto fail = [&](const char* why) {
        if (error) *error = why;
        return false;
    };
    if (file.size() < 8 || std::memcmp(file.data(), PNG_SIGNATURE, 8) != 0) return fail("not a PNG file");
    size_t pos = 8;
    u32 w = 0, h = 0;
    int channels = 0;
    std::vector<u8> z;
    bool ended = false;
    while (pos + 12 <= file.size()) {
        const u32 len = get_be32(&file[pos]);
        if (len > file.size() - pos - 12) return fail("truncated chunk");
        const u8* type = &file[pos + 4];
        const u8* data = &file[pos + 8];
        if (std::memcmp(type, "IHDR", 4) == 0) {
            if (len < 13) return fail("short IHDR");
            w = get_be32(data);
            h = get_be32(data + 4);
            if (data[8] != 8 || (data[9] != 2 && data[9] != 6) || data[12] != 0)
                return fail("only 8-bit RGB/RGBA non-interlaced PNG is read");
            channels = data[9] == 2 ? 3 : 4;
            if (w == 0 || h == 0 || w > 16384 || h > 16384) return fail("bad picture size");
        } else if (std::memcmp(type, "IDAT", 4) == 0) {
            z.insert(z.end(), data, data + len);
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            ended = true;
            break;
        }
        pos += 12 + len;
    }
    if (!channels || !ended) return fail("missing IHDR or IEND");
    const size_t stride = static_cast<size_t>(w) * channels;
    std::vector<u8> raw((stride + 1) * h);
    uLongf rawlen = static_cast<uLongf>(raw.size());
    if (uncompress(raw.data(), &rawlen, z.data(), static_cast<uLong>(z.size())) != Z_OK || rawlen != raw.size())
        return fail("bad image data");
    std::vector<u8> prev(stride, 0), cur(stride);
    rgb->assign(static_cast<size_t>(w) * h * 3, 0);
    for (u32 y = 0; y < h; ++y) {
        const u8* row = raw.data() + y * (stride + 1);
        const u8 filter = row[0];
        for (size_t i = 0; i < stride; ++i) {
            const int a = i >= static_cast<size_t>(channels) ? cur[i - channels] : 0;
            const int b = prev[i];
            const int c = i >= static_cast<size_t>(channels) ? prev[i - channels] : 0;
            int v = row[1 + i];
            switch (filter) {
            case 0: break;
            case 1: v += a; break;
            case 2: v += b; break;
            case 3: v += (a + b) / 2; break;
            case 4: v += paeth(a, b, c); break;
            default: return fail("bad row filter");
            }
            cur[i] = static_cast<u8>(v);
        }
        for (u32 x = 0; x < w; ++x)
            for (int k = 0; k < 3; ++k) (*rgb)[(static_cast<size_t>(y) * w + x) * 3 + k] = cur[x * channels + k];
        prev.swap(cur);
    }
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
    return true;
}
