// The demonstration recordings: machines with known faults, as acceleration
// in m/s² sampled at 25.6 kHz for 10 s, all running at 1797 rpm. The tool
// make_demo_signals writes them as float WAV files; the tests use the same
// definitions.
#pragma once
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "base/types.h"

constexpr double DEMO_RATE = 25600;
constexpr double DEMO_SECONDS = 10;
constexpr double DEMO_RPM = 1797;
constexpr double DEMO_SHAFT_HZ = DEMO_RPM / 60;
// Outer-race ball-pass frequency of bearing 6205 as a multiple of the shaft
// frequency.
constexpr double DEMO_BPFO_FACTOR = 3.5848;
constexpr double DEMO_BPFO_HZ = DEMO_BPFO_FACTOR * DEMO_SHAFT_HZ;

// Bearing demo: every outer-race impact is a short half-sine knock (which
// puts lines at the ball-pass frequency and its multiples into the low
// spectrum) and rings a structural resonance; both are amplitude-modulated
// once per revolution as the load zone turns.
constexpr double DEMO_KNOCK_MS2 = 4.6;
constexpr double DEMO_KNOCK_S = 0.0015;
constexpr double DEMO_RING_MS2 = 30;
constexpr double DEMO_RING_HZ = 3200;
constexpr double DEMO_RING_DECAY_S = 0.001;
constexpr double DEMO_MODULATION = 0.6;
// Broadband noise of every demo, m/s² RMS.
constexpr double DEMO_NOISE_MS2 = 0.2;

// One running-speed line: `order` times the shaft frequency with a velocity
// of `mm_s_rms`.
struct DemoLine {
    double order;
    double mm_s_rms;
};

struct DemoSignal {
    const char* file;  // file name in the demo folder
    std::vector<DemoLine> lines;
    bool bearing;  // outer-race defect of the 6205
};

inline const std::vector<DemoSignal>& demo_signals()
{
    static const std::vector<DemoSignal> all = {
        {"balanced.wav", {{1, 0.6}, {2, 0.2}}, false},
        {"unbalance.wav", {{1, 8.0}, {2, 0.4}}, false},
        {"misalignment.wav", {{1, 2.5}, {2, 5.0}, {3, 1.0}}, false},
        {"looseness.wav",
         {{1, 3.0}, {2, 2.4}, {3, 2.0}, {4, 1.7}, {5, 1.4}, {6, 1.2}, {7, 1.0}, {8, 0.8}, {9, 0.7}, {10, 0.6}},
         false},
        {"bearing_6205_outer_race.wav", {{1, 2.0}}, true},
    };
    return all;
}

// Deterministic pseudo-random numbers: the same files on every machine.
class DemoNoise {
public:
    explicit DemoNoise(u64 seed) : state_(seed * 6364136223846793005ull + 1442695040888963407ull) {}
    // Uniform in (0, 1).
    double uniform()
    {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return (static_cast<double>(state_ >> 11) + 0.5) / 9007199254740992.0;
    }
    // Normal with mean 0 and deviation 1 (Box-Muller).
    double normal()
    {
        const double r = std::sqrt(-2.0 * std::log(uniform()));
        return r * std::cos(2.0 * std::numbers::pi * uniform());
    }

private:
    u64 state_;
};

// The acceleration of one demo, m/s², DEMO_RATE samples per second.
inline std::vector<float> demo_acceleration(const DemoSignal& d, u64 seed)
{
    const double two_pi = 2.0 * std::numbers::pi;
    const size_t n = static_cast<size_t>(DEMO_RATE * DEMO_SECONDS);
    DemoNoise noise(seed);
    std::vector<double> phase(d.lines.size());
    for (double& p : phase) p = two_pi * noise.uniform();
    std::vector<float> out(n);
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / DEMO_RATE;
        double a = DEMO_NOISE_MS2 * noise.normal();
        for (size_t k = 0; k < d.lines.size(); ++k) {
            const double f = d.lines[k].order * DEMO_SHAFT_HZ;
            // Velocity amplitude (mm/s) times 2 pi f / 1000 is the acceleration amplitude.
            const double amp = d.lines[k].mm_s_rms * std::numbers::sqrt2 * two_pi * f / 1000.0;
            a += amp * std::sin(two_pi * f * t + phase[k]);
        }
        if (d.bearing) {
            // The impacts still ringing: the latest few.
            const double last = std::floor(t * DEMO_BPFO_HZ);
            for (double k = last; k >= 0 && k > last - 4; --k) {
                const double t0 = k / DEMO_BPFO_HZ;
                const double u = t - t0;
                const double load = 1.0 + DEMO_MODULATION * std::cos(two_pi * DEMO_SHAFT_HZ * t0);
                if (u < DEMO_KNOCK_S) a += load * DEMO_KNOCK_MS2 * std::sin(std::numbers::pi * u / DEMO_KNOCK_S);
                a += load * DEMO_RING_MS2 * std::exp(-u / DEMO_RING_DECAY_S) * std::sin(two_pi * DEMO_RING_HZ * u);
            }
        }
        out[i] = static_cast<float>(a);
    }
    return out;
}
