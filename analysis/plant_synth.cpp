#include "analysis/plant_synth.h"

#include <algorithm>
#include <cmath>
#include <numbers>


namespace {

constexpr double TWO_PI = 2.0 * std::numbers::pi;
// Samples per block over which the shaft speed is taken as steady.
constexpr u32 BLOCK = 32;
// The converters' band ends at the sample rate / 2.56 (the setups' fmax);
// the anti-aliasing filter removes what lies above.
constexpr double RATE_PER_FMAX = 2.56;
// Share of a revolution the marker pulse lasts.
constexpr double MARKER_DUTY = 0.1;
// The integrators of the broadband part forget below this frequency.
constexpr double LEAK_HZ = 0.5;
// Converting m to mm and mm to µm.
constexpr double MILLI = 1000.0;
// Shortest impact interval, samples.
constexpr double MIN_INTERVAL = 1.0;

}  // namespace

double PlantSynth::uniform()
{
    // xorshift64*
    rng_ ^= rng_ >> 12;
    rng_ ^= rng_ << 25;
    rng_ ^= rng_ >> 27;
    return static_cast<double>((rng_ * 2685821657736338717ull) >> 11) * (1.0 / 9007199254740992.0);
}

// Zero mean, unit variance, nearly normal (the sum of four uniforms).
double PlantSynth::gauss_fast()
{
    return (uniform() + uniform() + uniform() + uniform() - 2.0) * std::numbers::sqrt3;
}

double PlantSynth::gauss()
{
    const double u1 = std::max(uniform(), 1e-300), u2 = uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(TWO_PI * u2);
}

double PlantSynth::shaft_hz_at(u64 sample) const
{
    double rpm = rpm_;
    if (drift_period_ > 0) rpm += drift_rpm_ * std::sin(TWO_PI * (static_cast<double>(sample) * dt_) / drift_period_);
    return rpm / 60.0;
}

double PlantSynth::shaft_hz() const
{
    return shaft_hz_at(sample_ - sample_ % BLOCK);
}

std::vector<PlantSynth::Line> PlantSynth::lines() const
{
    std::vector<Line> out;
    for (const Tone& t : tones_) out.push_back({t.order > 0 ? t.order * rpm_ / 60.0 : t.hz, t.amp * t.c, t.amp * t.s});
    return out;
}

void PlantSynth::setup(const Plant& plant, const PlantMachine& machine, const PlantPoint& point, double rate, u64 seed)
{
    *this = PlantSynth{};
    rate_ = rate;
    dt_ = 1.0 / rate;
    rng_ = seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull;
    if (rng_ == 0) rng_ = 1;
    rpm_ = machine.rpm;
    drift_rpm_ = machine.drift_rpm;
    drift_period_ = machine.drift_period_s;
    floor_ = plant.noise_floor;
    leak_ = std::exp(-TWO_PI * LEAK_HZ * dt_);
    const double shaft = machine.rpm / 60.0;
    const double fmax = rate / RATE_PER_FMAX;

    for (const PlantComponent& c : point.components) {
        if (!plant_fault_in_acceleration(c.kind)) {
            const std::vector<PlantLine> lines = plant_lines(c, point.direction, plant.line_hz);
            const double scale = plant_line_scale(lines, shaft, c.severity);
            for (const PlantLine& l : lines) {
                const double phase = TWO_PI * uniform();
                tones_.push_back({l.order, l.hz, l.weight * scale, std::cos(phase), std::sin(phase)});
            }
            continue;
        }
        const double wn = TWO_PI * c.resonance_hz;
        const double r = std::exp(-c.damping * wn * dt_);
        const double w = wn * std::sqrt(1.0 - c.damping * c.damping) * dt_;
        const bool vibrates = c.resonance_hz <= fmax;
        if (c.kind == PlantFault::Noise) {
            // Random forcing of the structure: the steady variance of the
            // two-pole resonator driven by unit white noise.
            const double a1 = 2.0 * r * std::cos(w), r2 = r * r;
            const double var = (1.0 + r2) / ((1.0 - r2) * ((1.0 + r2) * (1.0 + r2) - a1 * a1));
            if (vibrates) ringing_.push_back({c.severity / std::sqrt(var), r, a1});
            continue;
        }
        Impacts im{};
        const PlantBearingFactors& f = c.factors;
        switch (c.kind) {
        case PlantFault::OuterRace:  // a fixed spall in the load zone: steady impacts
            im.factor = f.bpfo;
            break;
        case PlantFault::InnerRace:  // the spall turns with the shaft through the load zone
            im.factor = f.bpfi;
            im.mod_order = 1;
            break;
        case PlantFault::RollingElement:  // the spall strikes both races once per spin; it goes round with the cage
            im.factor = 2.0 * f.bsf;
            im.mod_order = f.ftf;
            break;
        default:  // cage
            im.factor = f.ftf;
            break;
        }
        im.modulation = im.mod_order > 0 ? c.modulation : 0;
        im.slip = c.slip;
        im.r = r;
        im.a1 = 2.0 * r * std::cos(w);
        im.sinw = std::sin(w);
        im.vibrates = vibrates;
        // Mean square of the impact train: per impact the energy of one
        // ringing (summed at this rate), times the impact rate and the
        // modulation's mean square.
        double energy = 0;
        if (vibrates) {
            double y1 = 0, y2 = 0;
            for (u64 n = 0; n < 1000000; ++n) {
                const double y = im.a1 * y1 - r * r * y2 + (n == 0 ? im.sinw : 0.0);
                energy += y * y;
                y2 = y1;
                y1 = y;
                if (n > 16 && std::pow(r, static_cast<double>(n)) < 1e-7) break;
            }
        } else {
            energy = rate / (4.0 * c.damping * wn);
        }
        const double lambda = im.factor * shaft;
        const double mean_square = lambda * dt_ * energy * (1.0 + im.modulation * im.modulation / 2.0);
        im.gain = lambda > 0 && mean_square > 0 ? c.severity / std::sqrt(mean_square) : 0;
        im.next = lambda > 0 ? uniform() * rate / lambda : 0;
        if (im.gain > 0) impacts_.push_back(im);
    }
}

void PlantSynth::generate(u32 count, float* a_out, float* v_out, float* d_out, float* shock_out, u8* marker_out)
{
    double a[BLOCK], v[BLOCK], d[BLOCK], sh[BLOCK];
    for (u32 done = 0; done < count;) {
        // Blocks on a fixed grid of samples, whatever the calls' sizes: the
        // signal does not depend on how it is cut into records.
        const u32 into = static_cast<u32>(sample_ % BLOCK);
        const u32 n = std::min(BLOCK - into, count - done);
        const bool block_ends = into + n == BLOCK;
        const double shaft = shaft_hz_at(sample_ - into);
        std::fill(a, a + n, 0.0);
        std::fill(v, v + n, 0.0);
        std::fill(d, d + n, 0.0);
        std::fill(sh, sh + n, 0.0);
        const double band_edge = rate_ / RATE_PER_FMAX;

        // Broadband part first (it is integrated below).
        for (u32 i = 0; i < n; ++i) {
            const double turns = shaft_turns_ + shaft * dt_ * i;
            double x = 0, e = 0;
            for (Impacts& im : impacts_) {
                double in = 0;
                im.next -= 1.0;
                if (im.next <= 0) {
                    const double mod =
                        im.mod_order > 0 ? 1.0 + im.modulation * std::cos(TWO_PI * im.mod_order * turns) : 1.0;
                    in = im.gain * mod;
                    const double interval = rate_ / (im.factor * shaft) * (1.0 + im.slip * gauss());
                    im.next += std::max(MIN_INTERVAL, interval);
                }
                im.envelope = im.envelope * im.r + in;
                e += im.envelope;
                if (im.vibrates) {
                    const double y = im.a1 * im.y1 - im.r * im.r * im.y2 + im.sinw * in;
                    im.y2 = im.y1;
                    im.y1 = y;
                    x += y;
                }
            }
            for (Ringing& rg : ringing_) {
                const double y = rg.a1 * rg.y1 - rg.r * rg.r * rg.y2 + rg.gain * gauss_fast();
                rg.y2 = rg.y1;
                rg.y1 = y;
                x += y;
                e += std::fabs(y);
            }
            if (floor_ > 0) {
                const double f = floor_ * gauss_fast();
                x += f;
                e += std::fabs(f);
            }
            // Trapezoidal integration to velocity and displacement.
            const double vel = leak_ * iv_ + dt_ / 2 * (x + ia_) * MILLI;
            id_ = leak_ * id_ + dt_ / 2 * (vel + iv_) * MILLI;
            ia_ = x;
            iv_ = vel;
            a[i] = x;
            v[i] = vel;
            d[i] = id_;
            sh[i] = e;
        }

        for (Tone& t : tones_) {
            const double f = t.order > 0 ? t.order * shaft : t.hz;
            if (!(f > 0 && f < band_edge)) continue;
            const double w = TWO_PI * f;
            const double rc = std::cos(w * dt_), rs = std::sin(w * dt_);
            const double ka = t.amp * w / MILLI, kv = t.amp, kd = -t.amp * MILLI / w;
            double c = t.c, s = t.s;
            for (u32 i = 0; i < n; ++i) {
                a[i] += ka * c;
                v[i] += kv * s;
                d[i] += kd * c;
                const double c2 = c * rc - s * rs;
                s = s * rc + c * rs;
                c = c2;
            }
            if (block_ends) {
                const double norm = 1.0 / std::sqrt(c * c + s * s);
                c *= norm;
                s *= norm;
            }
            t.c = c;
            t.s = s;
        }

        for (u32 i = 0; i < n; ++i) {
            if (a_out) a_out[done + i] = static_cast<float>(a[i]);
            if (v_out) v_out[done + i] = static_cast<float>(v[i]);
            if (d_out) d_out[done + i] = static_cast<float>(d[i]);
            if (shock_out) shock_out[done + i] = static_cast<float>(sh[i]);
            if (marker_out) marker_out[done + i] = shaft > 0 && shaft_phase_ < MARKER_DUTY ? 1 : 0;
            shaft_phase_ += shaft * dt_;
            shaft_phase_ -= std::floor(shaft_phase_);
        }
        shaft_turns_ += shaft * dt_ * n;
        sample_ += n;
        done += n;
    }
}
