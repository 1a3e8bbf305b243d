// Recordings read from files for the measuring module's file source: every
// format libsndfile reads (WAV, FLAC, ...; integer samples as fractions of
// full scale, floating-point samples as stored) and CSV tables (one value per
// line, or a time and one or more values; one header line allowed).
#pragma once
#include <string>
#include <vector>

#include "base/types.h"

// Samples a recording may hold, all channels together (256 MB of floats).
constexpr u64 SIGNAL_FILE_MAX_SAMPLES = u64{1} << 26;

struct SignalRecording {
    std::vector<float> samples;  // frames x channels, interleaved
    u32 channels = 0;
    u64 frames = 0;
    double rate = 0;        // frames per second
    bool floating = false;  // floating-point samples (CSV, float WAV), not fractions of full scale
};

// True when the file is read as a CSV table (its name ends in .csv or .txt).
bool signal_file_is_table(const std::string& path);

// Reads the recording; `rate` > 0 replaces the file's own rate (a CSV table
// without a time column needs it). Returns "" or one line that says what is
// wrong, naming the file.
std::string signal_file_read(const std::string& path, double rate, SignalRecording* out);

// Reads a CSV table from `text` (`name` names it in errors), as above.
std::string signal_table_parse(const std::string& text, const std::string& name, double rate, SignalRecording* out);
