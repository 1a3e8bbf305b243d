// An animated-PNG reader for the tests, written from the format's
// description and independent of the emulator's writer: it checks every
// chunk's CRC and the sequence numbers, inflates and unfilters the frames
// and puts each on the canvas as its frame control says.
#pragma once
#include <string>
#include <vector>

#include "base/types.h"

struct ApngFrame {
    int x, y, width, height;  // the region the frame replaces
    u32 delay_num, delay_den;
    std::vector<u16> canvas;  // the whole picture once the frame is shown (RGB565)
    double delay_ms() const { return delay_den ? 1000.0 * delay_num / delay_den : 10.0 * delay_num; }
};

struct ApngFile {
    int width = 0, height = 0;
    u32 declared_frames = 0;  // acTL
    u32 plays = 0;
    std::vector<ApngFrame> frames;
    std::vector<u16> still;  // the default image (IDAT) as a viewer without animation shows it
};

// Reads the file; false with `error` when anything in it is wrong.
bool apng_read(const std::vector<u8>& file, ApngFile* out, std::string* error);
