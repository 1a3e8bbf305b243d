#include "front/common/apng.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "front/common/picture.h"
#include "png_internal.h"

namespace {

// Offset of the animation control chunk: after the signature and IHDR.
constexpr long ACTL_OFFSET = 8 + 12 + 13;
// Frame control values: leave the frame as it is, replace the region.
constexpr u8 DISPOSE_NONE = 0;
constexpr u8 BLEND_SOURCE = 0;
constexpr u32 DELAY_DENOMINATOR = 1000;  // delays in milliseconds
constexpr u32 PLAY_FOREVER = 0;
constexpr int BYTES_PER_PIXEL = 3;
constexpr u8 PNG_FILTER_NONE = 0;

void put_be16(std::vector<u8>& out, u32 v)
{
    out.push_back(static_cast<u8>(v >> 8));
    out.push_back(static_cast<u8>(v));
}

// The animation control chunk: frame count and plays.
std::vector<u8> actl_chunk(u32 frames)
{
    std::vector<u8> data, out;
    png_put_be32(data, frames);
    png_put_be32(data, PLAY_FOREVER);
    png_put_chunk(out, "acTL", data);
    return out;
}

}  // namespace

std::vector<u8> apng_encode_rect(const u16* pixels, int stride, int x, int y, int width, int height)
{
    // Rows without filtering: the LCD's flat areas and repeated pictures
    // deflate best as they are.
    const size_t row_bytes = 1 + static_cast<size_t>(width) * BYTES_PER_PIXEL;
    std::vector<u8> raw(row_bytes * static_cast<size_t>(height));
    for (int j = 0; j < height; ++j) {
        u8* row = raw.data() + row_bytes * static_cast<size_t>(j);
        row[0] = PNG_FILTER_NONE;
        const u16* src = pixels + static_cast<size_t>(y + j) * stride + x;
        for (int i = 0; i < width; ++i) rgb565_to_rgb888(src[i], row + 1 + BYTES_PER_PIXEL * i);
    }
    uLongf zlen = compressBound(static_cast<uLong>(raw.size()));
    std::vector<u8> z(zlen);
    compress2(z.data(), &zlen, raw.data(), static_cast<uLong>(raw.size()), Z_BEST_COMPRESSION);
    z.resize(zlen);
    return z;
}

ApngRecorder::~ApngRecorder()
{
    close_file();
}

void ApngRecorder::close_file()
{
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

bool ApngRecorder::fail(const std::string& why)
{
    error_ = path_ + ": " + why;
    close_file();
    return false;
}

bool ApngRecorder::put(const std::vector<u8>& bytes)
{
    if (!file_) return false;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
        return fail(std::string("cannot write the recording: ") + std::strerror(errno));
    return true;
}

bool ApngRecorder::start(const std::string& path, const u16* pixels, int width, int height, u64 time_ms,
                         std::string* error)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        if (error) *error = path + ": cannot create: " + std::strerror(errno);
        return false;
    }
    return start(f, path, pixels, width, height, time_ms, error);
}

bool ApngRecorder::start(std::FILE* file, const std::string& path, const u16* pixels, int width, int height,
                         u64 time_ms, std::string* error)
{
    close_file();
    file_ = file;
    path_ = path;
    error_.clear();
    width_ = width;
    height_ = height;
    frames_ = 1;
    sequence_ = 0;
    first_written_ = false;
    shown_.assign(pixels, pixels + static_cast<size_t>(width) * height);
    pending_rect_ = {0, 0, width, height};
    pending_z_ = apng_encode_rect(pixels, width, 0, 0, width, height);
    pending_since_ = time_ms;
    pending_ = true;

    std::vector<u8> head(PNG_SIGNATURE, PNG_SIGNATURE + sizeof PNG_SIGNATURE);
    png_put_chunk(head, "IHDR", png_rgb_header(width, height));
    // The count is completed when the recording stops.
    const std::vector<u8> actl = actl_chunk(0);
    head.insert(head.end(), actl.begin(), actl.end());
    if (!put(head)) {
        if (error) *error = error_;
        return false;
    }
    return true;
}

bool ApngRecorder::write_frame(const Rect& r, const std::vector<u8>& z, u32 delay_ms)
{
    std::vector<u8> out, fctl;
    png_put_be32(fctl, sequence_++);
    png_put_be32(fctl, static_cast<u32>(r.w));
    png_put_be32(fctl, static_cast<u32>(r.h));
    png_put_be32(fctl, static_cast<u32>(r.x));
    png_put_be32(fctl, static_cast<u32>(r.y));
    put_be16(fctl, delay_ms);
    put_be16(fctl, DELAY_DENOMINATOR);
    fctl.push_back(DISPOSE_NONE);
    fctl.push_back(BLEND_SOURCE);
    png_put_chunk(out, "fcTL", fctl);
    if (!first_written_) {
        // The first frame is the file's ordinary image too.
        png_put_chunk(out, "IDAT", z);
        first_written_ = true;
    } else {
        std::vector<u8> fdat;
        png_put_be32(fdat, sequence_++);
        fdat.insert(fdat.end(), z.begin(), z.end());
        png_put_chunk(out, "fdAT", fdat);
    }
    return put(out);
}

bool ApngRecorder::write_pending(u64 until_ms)
{
    if (!pending_) return true;
    pending_ = false;
    // Every frame is shown for at least a millisecond.
    u64 left = std::max<u64>(until_ms > pending_since_ ? until_ms - pending_since_ : 0, 1);
    u32 delay = static_cast<u32>(std::min<u64>(left, APNG_MAX_DELAY_MS));
    if (!write_frame(pending_rect_, pending_z_, delay)) return false;
    left -= delay;
    // Longer than one frame can say: one unchanged pixel, again and again.
    if (left > 0) {
        const Rect dot{0, 0, 1, 1};
        const std::vector<u8> z = apng_encode_rect(shown_.data(), width_, 0, 0, 1, 1);
        while (left > 0) {
            delay = static_cast<u32>(std::min<u64>(left, APNG_MAX_DELAY_MS));
            ++frames_;
            if (!write_frame(dot, z, delay)) return false;
            left -= delay;
        }
    }
    return true;
}

bool ApngRecorder::frame(const u16* pixels, u64 time_ms)
{
    if (!file_) return false;
    // The rectangle that holds every changed pixel.
    int top = height_, bottom = -1, left = width_, right = -1;
    for (int y = 0; y < height_; ++y) {
        const u16* now = pixels + static_cast<size_t>(y) * width_;
        const u16* before = shown_.data() + static_cast<size_t>(y) * width_;
        if (std::memcmp(now, before, static_cast<size_t>(width_) * sizeof(u16)) == 0) continue;
        top = std::min(top, y);
        bottom = y;
        int a = 0, b = width_ - 1;
        while (now[a] == before[a]) ++a;
        while (now[b] == before[b]) --b;
        left = std::min(left, a);
        right = std::max(right, b);
    }
    if (bottom < 0) return true;
    if (!write_pending(time_ms)) return false;
    pending_rect_ = {left, top, right - left + 1, bottom - top + 1};
    pending_z_ = apng_encode_rect(pixels, width_, left, top, pending_rect_.w, pending_rect_.h);
    pending_since_ = time_ms;
    pending_ = true;
    ++frames_;
    std::copy(pixels, pixels + shown_.size(), shown_.begin());
    return true;
}

bool ApngRecorder::stop(const u16* pixels, u64 time_ms, std::string* error)
{
    auto failed = [&] {
        if (error) *error = error_;
        return false;
    };
    if (!file_) {
        if (error_.empty()) error_ = "no recording is running";
        return failed();
    }
    if (!frame(pixels, time_ms) || !write_pending(time_ms)) return failed();
    std::vector<u8> end;
    png_put_chunk(end, "IEND", {});
    if (!put(end)) return failed();
    const std::vector<u8> actl = actl_chunk(frames_);
    if (std::fseek(file_, ACTL_OFFSET, SEEK_SET) != 0) {
        fail("cannot complete the frame count");
        return failed();
    }
    if (!put(actl)) return failed();
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!closed) {
        error_ = path_ + ": cannot write the recording: " + std::strerror(errno);
        return failed();
    }
    return true;
}
