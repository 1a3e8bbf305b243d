// make_demo_signals OUTDIR: writes the demonstration recordings of
// tools/demo_signals.h as 32-bit float WAV files (mono, m/s², 25.6 kHz).
#include <sndfile.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tools/demo_signals.h"

namespace {

// Writes the samples; returns "" or what went wrong.
std::string write_wav(const std::string& path, const std::vector<float>& samples)
{
    SF_INFO info{};
    info.samplerate = static_cast<int>(DEMO_RATE);
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return sf_strerror(nullptr);
    const sf_count_t n = static_cast<sf_count_t>(samples.size());
    const sf_count_t written = sf_writef_float(f, samples.data(), n);
    const std::string error = written == n ? "" : sf_strerror(f);
    sf_close(f);
    return error;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_demo_signals OUTDIR\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    u64 seed = 1;
    for (const DemoSignal& d : demo_signals()) {
        const std::string path = (dir / d.file).string();
        const std::string error = write_wav(path, demo_acceleration(d, seed++));
        if (!error.empty()) {
            std::fprintf(stderr, "make_demo_signals: %s: %s\n", path.c_str(), error.c_str());
            return 1;
        }
    }
    return 0;
}
