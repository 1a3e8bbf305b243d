#include "tests/support/apng_reader.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>

namespace {

u32 be32(const u8* p)
{
    return (u32{p[0]} << 24) | (u32{p[1]} << 16) | (u32{p[2]} << 8) | p[3];
}

u32 be16(const u8* p)
{
    return (u32{p[0]} << 8) | p[1];
}

u16 to565(const u8* rgb)
{
    return static_cast<u16>(((rgb[0] >> 3) << 11) | ((rgb[1] >> 2) << 5) | (rgb[2] >> 3));
}

int predictor(int filter, int a, int b, int c)
{
    switch (filter) {
    case 0: return 0;
    case 1: return a;
    case 2: return b;
    case 3: return (a + b) / 2;
    case 4: {
        const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
        return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
    }
    default: return -1;
    }
}

// Inflates and unfilters a w x h 8-bit RGB image into RGB565 pixels.
bool decode_image(const std::vector<u8>& z, int w, int h, std::vector<u16>* px, std::string* error)
{
    const size_t stride = static_cast<size_t>(w) * 3;
    std::vector<u8> raw((stride + 1) * static_cast<size_t>(h));
    uLongf len = static_cast<uLongf>(raw.size());
    if (uncompress(raw.data(), &len, z.data(), static_cast<uLong>(z.size())) != Z_OK || len != raw.size()) {
        *error = "image data does not inflate to " + std::to_string(w) + " x " + std::to_string(h);
        return false;
    }
    std::vector<u8> prev(stride, 0), cur(stride);
    px->resize(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        const u8* row = raw.data() + static_cast<size_t>(y) * (stride + 1);
        for (size_t i = 0; i < stride; ++i) {
            const int a = i >= 3 ? cur[i - 3] : 0, b = prev[i], c = i >= 3 ? prev[i - 3] : 0;
            const int p = predictor(row[0], a, b, c);
            if (p < 0) {
                *error = "bad row filter";
                return false;
            }
            cur[i] = static_cast<u8>(row[1 + i] + p);
        }
        for (int x = 0; x < w; ++x) (*px)[static_cast<size_t>(y) * w + x] = to565(&cur[3 * x]);
        prev.swap(cur);
    }
    return true;
}

}  // namespace

bool apng_read(const std::vector<u8>& file, ApngFile* out, std::string* error)
{
    auto fail = [&](const std::string& why) {
        *error = why;
        return false;
    };
    static const u8 sig[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    if (file.size() < 8 || std::memcmp(file.data(), sig, 8) != 0) return fail("no PNG signature");
    *out = ApngFile{};
    struct Pending {
        bool open = false;
        int x = 0, y = 0, w = 0, h = 0;
        u32 num = 0, den = 0;
        u8 dispose = 0, blend = 0;
        std::vector<u8> z;
        bool is_default = false;
    } frame;
    std::vector<u8> idat;
    std::vector<u16> canvas;
    bool seen_ihdr = false, seen_actl = false, seen_idat = false, ended = false;
    u32 next_sequence = 0;
    std::vector<u16> before;  // the canvas before the last frame (dispose op 2)
    Pending last;

    auto finish_frame = [&]() -> bool {
        if (!frame.open) return true;
        std::vector<u16> px;
        if (!decode_image(frame.z, frame.w, frame.h, &px, error)) return false;
        // The previous frame's dispose op, then this frame's blend (no alpha:
        // both blend ops replace the region).
        if (last.open) {
            if (last.dispose == 1) {
                for (int j = 0; j < last.h; ++j)
                    for (int i = 0; i < last.w; ++i)
                        canvas[static_cast<size_t>(last.y + j) * out->width + last.x + i] = 0;
            } else if (last.dispose == 2) {
                canvas = before;
            }
        }
        before = canvas;
        for (int j = 0; j < frame.h; ++j)
            for (int i = 0; i < frame.w; ++i)
                canvas[static_cast<size_t>(frame.y + j) * out->width + frame.x + i] =
                    px[static_cast<size_t>(j) * frame.w + i];
        out->frames.push_back({frame.x, frame.y, frame.w, frame.h, frame.num, frame.den, canvas});
        last = frame;
        last.z.clear();
        frame = Pending{};
        return true;
    };

    size_t pos = 8;
    while (pos + 12 <= file.size() && !ended) {
        const u32 len = be32(&file[pos]);
        if (len > file.size() - pos - 12) return fail("chunk runs past the end");
        const std::string type(reinterpret_cast<const char*>(&file[pos + 4]), 4);
        const u8* d = &file[pos + 8];
        const u32 crc = static_cast<u32>(crc32(0, &file[pos + 4], len + 4));
        if (crc != be32(d + len)) return fail(type + " chunk: bad CRC");
        if (type == "IHDR") {
            if (len != 13 || d[8] != 8 || d[9] != 2 || d[10] || d[11] || d[12])
                return fail("only 8-bit RGB, not interlaced, is expected");
            out->width = static_cast<int>(be32(d));
            out->height = static_cast<int>(be32(d + 4));
            canvas.assign(static_cast<size_t>(out->width) * out->height, 0);
            seen_ihdr = true;
        } else if (type == "acTL") {
            if (!seen_ihdr || seen_idat || len != 8) return fail("acTL out of place");
            out->declared_frames = be32(d);
            out->plays = be32(d + 4);
            seen_actl = true;
        } else if (type == "fcTL") {
            if (len != 26) return fail("fcTL of the wrong length");
            if (be32(d) != next_sequence++) return fail("fcTL out of sequence");
            if (!finish_frame()) return false;
            frame.open = true;
            frame.w = static_cast<int>(be32(d + 4));
            frame.h = static_cast<int>(be32(d + 8));
            frame.x = static_cast<int>(be32(d + 12));
            frame.y = static_cast<int>(be32(d + 16));
            frame.num = be16(d + 20);
            frame.den = be16(d + 22);
            frame.dispose = d[24];
            frame.blend = d[25];
            if (frame.w <= 0 || frame.h <= 0 || frame.x + frame.w > out->width || frame.y + frame.h > out->height)
                return fail("frame region outside the picture");
            if (out->frames.empty() && !seen_idat &&
                (frame.x != 0 || frame.y != 0 || frame.w != out->width || frame.h != out->height))
                return fail("the first frame must cover the picture");
            if (frame.dispose > 2 || frame.blend > 1) return fail("bad dispose or blend op");
            frame.is_default = !seen_idat;
        } else if (type == "IDAT") {
            if (!seen_ihdr) return fail("IDAT before IHDR");
            seen_idat = true;
            idat.insert(idat.end(), d, d + len);
            if (frame.open && frame.is_default) frame.z.insert(frame.z.end(), d, d + len);
        } else if (type == "fdAT") {
            if (len < 4 || be32(d) != next_sequence++) return fail("fdAT out of sequence");
            if (!frame.open || frame.is_default) return fail("fdAT without its fcTL");
            frame.z.insert(frame.z.end(), d + 4, d + len);
        } else if (type == "IEND") {
            ended = true;
        } else if (type[0] >= 'A' && type[0] <= 'Z') {
            return fail("unknown critical chunk " + type);
        }
        pos += 12 + len;
    }
    if (!ended) return fail("no IEND");
    if (!seen_actl) return fail("no acTL: not animated");
    if (!finish_frame()) return false;
    if (!decode_image(idat, out->width, out->height, &out->still, error)) return false;
    if (out->frames.size() != out->declared_frames)
        return fail("acTL says " + std::to_string(out->declared_frames) + " frames, the file has " +
                    std::to_string(out->frames.size()));
    return true;
}
