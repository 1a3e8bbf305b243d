// Recordings of the LCD as animated PNG files: one frame per change of the
// picture, each shown for as long as it stayed on the screen. Frames after
// the first hold only the rectangle that changed, so a screen where only the
// clock moves costs a few dozen bytes a second. The file is written while
// the recording runs; stopping it completes the frame count.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "base/types.h"

// The longest delay one frame can carry (the format's 16-bit numerator over
// 1000); a picture that stays longer is repeated with invisible frames.
constexpr u32 APNG_MAX_DELAY_MS = 65535;

class ApngRecorder {
public:
    ApngRecorder() = default;
    ~ApngRecorder();
    ApngRecorder(const ApngRecorder&) = delete;
    ApngRecorder& operator=(const ApngRecorder&) = delete;

    // Starts a recording into `path` (created or replaced) whose first frame,
    // `pixels` (width x height RGB565), shows from `time_ms` on. Returns
    // false with `error` when the file cannot be written.
    bool start(const std::string& path, const u16* pixels, int width, int height, u64 time_ms, std::string* error);
    // The same into a file already open for writing at its start (taken
    // over and closed by the recorder); `path` names it in messages.
    bool start(std::FILE* file, const std::string& path, const u16* pixels, int width, int height, u64 time_ms,
               std::string* error);
    // The picture shown from `time_ms` on (times never go back); a picture
    // equal to the last one adds nothing. Returns false when the recording
    // has failed; it then stops and error() says why.
    bool frame(const u16* pixels, u64 time_ms);
    // Ends the recording at `time_ms` with `pixels` as the last picture and
    // closes the file. Returns false with `error` when writing failed.
    bool stop(const u16* pixels, u64 time_ms, std::string* error);

    // True between a successful start and the stop (or a failure).
    bool recording() const { return file_ != nullptr; }
    // Frames in the file so far, including the one still on the screen.
    u32 frames() const { return frames_; }
    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }

private:
    struct Rect {
        int x, y, w, h;
    };
    // Writes the pending frame, shown until `until_ms`: true (also with
    // nothing pending), false when a write failed.
    bool write_pending(u64 until_ms);
    // Writes one frame's control and data chunks: true, false on a failure.
    bool write_frame(const Rect& r, const std::vector<u8>& z, u32 delay_ms);
    // Appends bytes to the file: true, false (the recording failed) when
    // there is no file or the write fails.
    bool put(const std::vector<u8>& bytes);
    // Keeps `why` as the error, closes the file and returns false.
    bool fail(const std::string& why);
    void close_file();

    std::FILE* file_ = nullptr;
    std::string path_;
    std::string error_;
    int width_ = 0, height_ = 0;
    std::vector<u16> shown_;  // the picture of the pending frame
    Rect pending_rect_{};     // what the pending frame changes
    std::vector<u8> pending_z_;
    u64 pending_since_ = 0;
    bool pending_ = false;
    u32 frames_ = 0;    // frames written or pending
    u32 sequence_ = 0;  // number of the next frame control or data chunk
    bool first_written_ = false;
};

// The deflated PNG image data (8-bit RGB rows) of the width x height
// rectangle at (x, y) of a picture `stride` pixels wide.
std::vector<u8> apng_encode_rect(const u16* pixels, int stride, int x, int y, int width, int height);
