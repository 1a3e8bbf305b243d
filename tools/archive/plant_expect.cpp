#include "tools/archive/plant_expect.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

#include "analysis/plant_source.h"
#include "analysis/plant_synth.h"
#include "analysis/signal.h"

namespace {

constexpr double TWO_PI = 2.0 * std::numbers::pi;
constexpr double MILLI = 1000.0;  // m to mm, mm to µm
// The instrument's bands: overall values from 10 Hz, velocity and
// acceleration to 1000 Hz, displacement to 300 Hz.
constexpr double BAND_LO_HZ = 10, VELOCITY_HI_HZ = 1000, DISPLACEMENT_HI_HZ = 300;
// Sample rate per upper frequency of a setup, and the samples of a record
// by its lines.
constexpr double RATE_PER_FMAX = 2.56;
constexpr double RECORD_STEP = 0.390625;
constexpr u32 SAMPLES_MANY = 4096, SAMPLES_FEW = 1024;
// The plant source's broadband integrators forget below this frequency.
constexpr double LEAK_HZ = 0.5;
// Steps of the numerical integration over half the sample rate.
constexpr int STEPS = 40000;
// Lines closer than this are one line.
constexpr double SAME_HZ = 1e-6;
// Multiples of a defect frequency marked on a spectrum.
constexpr int MARKER_MULTIPLES = 3;
// Averaging the magnitudes of n spectra of random vibration gives the mean
// of each line's magnitude, whose square is π/4 of the mean square for a
// Rayleigh-distributed line, plus the spread of the mean of n: a power of
// π/4 + (1 - π/4) / n of the unaveraged one.
double averaged_power_share(i32 averages)
{
    if (averages <= 1) return 1.0;
    const double q = std::numbers::pi / 4.0;
    return q + (1.0 - q) / averages;
}

using cplx = std::complex<double>;

// The plant source's structural resonator (two poles), as a filter at `rate`.
struct Resonator {
    double r, a1, sinw;
    Resonator(const PlantComponent& c, double rate)
    {
        const double dt = 1.0 / rate, wn = TWO_PI * c.resonance_hz;
        r = std::exp(-c.damping * wn * dt);
        const double w = wn * std::sqrt(1.0 - c.damping * c.damping) * dt;
        a1 = 2.0 * r * std::cos(w);
        sinw = std::sin(w);
    }
    double power(double hz, double rate) const
    {
        const cplx z1 = std::polar(1.0, -TWO_PI * hz / rate);
        return std::norm(sinw / (1.0 - a1 * z1 + r * r * z1 * z1));
    }
};

// |H|² of the broadband part's integration (trapezoidal, leaky) from
// acceleration to velocity, or twice to displacement (`times` 0, 1, 2).
double integration_power(double hz, double rate, int times)
{
    const double dt = 1.0 / rate, leak = std::exp(-TWO_PI * LEAK_HZ * dt);
    const cplx z1 = std::polar(1.0, -TWO_PI * hz / rate);
    const double one = std::norm(MILLI * dt / 2.0 * (1.0 + z1) / (1.0 - leak * z1));
    return std::pow(one, times);
}

// ∫ f(hz) over [lo, hi] by the trapezoidal rule on the grid of STEPS steps
// over 0 … rate / 2.
template <class F>
double integral(double lo, double hi, double rate, F f)
{
    const double step = rate / 2.0 / STEPS;
    double sum = 0;
    for (int i = 0; i < STEPS; ++i) {
        const double a = std::max(lo, i * step), b = std::min(hi, (i + 1) * step);
        if (b <= a) continue;
        sum += (f(a) + f(b)) / 2.0 * (b - a);
    }
    return sum;
}

int integrations(u32 quantity)
{
    return quantity == Q_A ? 0 : quantity == Q_V ? 1 : 2;
}

// The amplitude of a velocity line (mm/s) in `quantity` at `hz`.
double line_in(u32 quantity, double velocity, double hz)
{
    if (quantity == Q_A) return velocity * TWO_PI * hz / MILLI;
    if (quantity == Q_D) return velocity * MILLI / (TWO_PI * hz);
    return velocity;
}

const char* defect_name(PlantFault kind)
{
    switch (kind) {
    case PlantFault::OuterRace: return "BPFO";
    case PlantFault::InnerRace: return "BPFI";
    case PlantFault::RollingElement: return "2BSF";
    default: return "FTF";
    }
}

// The defect frequency of a bearing fault as a multiple of the shaft's, and
// the modulation's (0: none), as the plant source makes them.
void impact_orders(const PlantComponent& c, double* factor, double* mod_order)
{
    const PlantBearingFactors& f = c.factors;
    *mod_order = 0;
    switch (c.kind) {
    case PlantFault::OuterRace: *factor = f.bpfo; break;
    case PlantFault::InnerRace:
        *factor = f.bpfi;
        *mod_order = 1;
        break;
    case PlantFault::RollingElement:
        *factor = 2.0 * f.bsf;
        *mod_order = f.ftf;
        break;
    default: *factor = f.ftf; break;
    }
}

}  // namespace

OverallBand overall_band(u32 quantity, double fmax)
{
    const double top = quantity == Q_A ? fmax : quantity == Q_D ? DISPLACEMENT_HI_HZ : VELOCITY_HI_HZ;
    return {BAND_LO_HZ, std::min(top, fmax)};
}

const char* quantity_unit(u32 quantity)
{
    return quantity == Q_A ? "m/s²" : quantity == Q_D ? "µm" : "mm/s";
}

const char* quantity_name(u32 quantity)
{
    return quantity == Q_A ? "acceleration" : quantity == Q_D ? "displacement" : "velocity";
}

PlantExpectation plant_expect(const Plant& plant, const PlantMachine& machine, const PlantPoint& point,
                              const std::string& path, const PlantPointSetup& setup)
{
    PlantExpectation e;
    e.quantity = setup.quantity == ROUTE_QUANTITY_ACCELERATION   ? Q_A
                 : setup.quantity == ROUTE_QUANTITY_DISPLACEMENT ? Q_D
                                                                 : Q_V;
    const double fmax = setup.fmax;
    e.band = overall_band(e.quantity, fmax);
    const u32 n = setup.lines > ROUTE_FEW_LINES ? SAMPLES_MANY : SAMPLES_FEW;
    // The setup's sample rate: its n samples are n × 0.390625 / (fmax (n - 1)) apart.
    const double rate = fmax * (n - 1) / (n * RECORD_STEP);
    const double edge = rate / RATE_PER_FMAX;  // what the converters' band passes
    const double shaft = machine.rpm / 60.0;
    const int q_int = integrations(e.quantity);
    const double lo = e.band.lo_hz, hi = e.band.hi_hz;
    const auto in_band = [&](double hz) { return hz >= lo && hz <= hi && hz < edge; };
    const double random_share = setup.spectrum ? averaged_power_share(setup.averages) : 1.0;

    // Tones: exact in every channel; lines of several components at one
    // frequency add with the phases the synthesis gives them.
    PlantSynth synth;
    synth.setup(plant, machine, point, rate, plant_point_seed(path));
    std::vector<PlantSynth::Line> merged;
    for (const PlantSynth::Line& l : synth.lines()) {
        auto same = std::find_if(merged.begin(), merged.end(),
                                 [&](const PlantSynth::Line& m) { return std::fabs(m.hz - l.hz) < SAME_HZ; });
        if (same == merged.end()) {
            merged.push_back(l);
        } else {
            same->re += l.re;
            same->im += l.im;
        }
    }
    double tonal = 0, lines_power = 0, random_power = 0;
    for (const PlantSynth::Line& l : merged) {
        if (!(l.hz > 0 && l.hz < edge)) continue;
        const double amp = line_in(e.quantity, std::hypot(l.re, l.im), l.hz);
        e.lines.push_back({l.hz, amp});
        if (in_band(l.hz)) tonal += amp * amp / 2.0;
    }
    for (const PlantComponent& c : point.components) {
        if (!plant_fault_in_acceleration(c.kind)) continue;
        if (c.resonance_hz > edge) continue;  // rings above the band: filtered out
        const Resonator res(c, rate);
        const double total = integral(0, rate / 2.0, rate, [&](double f) { return res.power(f, rate); });
        if (c.kind == PlantFault::Noise) {
            const double band = integral(lo, std::min(hi, edge), rate, [&](double f) {
                return res.power(f, rate) * integration_power(f, rate, q_int);
            });
            random_power += c.severity * c.severity * band / total;
            continue;
        }
        double factor = 0, mod_order = 0;
        impact_orders(c, &factor, &mod_order);
        for (int k = 1; k <= MARKER_MULTIPLES; ++k)
            if (k * factor * shaft < fmax) e.markers.push_back({k * factor * shaft, defect_name(c.kind), k});
        if (e.quantity == Q_A) {
            // Acceleration: the ringing, spread by the impacts' slip around
            // the resonance.
            const double band = integral(lo, std::min(hi, edge), rate, [&](double f) { return res.power(f, rate); });
            const double p = c.severity * c.severity * band / total;
            (c.slip > 0 ? random_power : lines_power) += p;
            continue;
        }
        // Velocity and displacement: the lines of the impact train low in
        // the band (the multiples of the defect frequency, and with a
        // modulation their sidebands), each 2 (g λ Δt)² |H|² w, g the
        // impact's size as the source scales it.
        const double lambda = factor * shaft, fm = mod_order * shaft;
        const double m = mod_order > 0 ? c.modulation : 0;
        const double energy = total * 2.0 / rate;  // Σ h² of one ringing
        const double mean_square = lambda / rate * energy * (1.0 + m * m / 2.0);
        if (lambda <= 0 || mean_square <= 0) continue;
        const double g = c.severity / std::sqrt(mean_square);
        const double line = g * lambda / rate;
        const auto add = [&](double hz, double w) {
            if (!in_band(hz)) return;
            lines_power += 2.0 * line * line * w * res.power(hz, rate) * integration_power(hz, rate, q_int);
        };
        for (int k = 0; k * lambda <= hi + fm; ++k) {
            if (k > 0) add(k * lambda, 1.0);
            if (m > 0) {
                add(k * lambda + fm, m * m / 4.0);
                if (k > 0) add(k * lambda - fm, m * m / 4.0);
            }
        }
    }
    // The noise floor: white acceleration over the whole band of the rate.
    if (plant.noise_floor > 0) {
        const double band =
            integral(lo, std::min(hi, edge), rate, [&](double f) { return integration_power(f, rate, q_int); });
        random_power += plant.noise_floor * plant.noise_floor * band / (rate / 2.0);
    }
    e.tonal = std::sqrt(tonal + lines_power);
    e.broadband = std::sqrt(random_power * random_share);
    e.overall = std::sqrt(tonal + lines_power + random_power * random_share);
    return e;
}

std::vector<double> measured_lines(bool spectrum, const i32* data, u32 count, double dx, double scale, double* line_hz)
{
    std::vector<double> amps;
    *line_hz = 0;
    if (spectrum) {
        for (u32 i = 0; i < count; ++i) {
            const double re = data[2 * i], im = data[2 * i + 1];
            amps.push_back(std::floor(std::sqrt(re * re + im * im)) * scale);
        }
        *line_hz = dx;
        return amps;
    }
    // A time signal: its spectrum without a window, as the band values take it.
    static std::vector<i32> in_data(RECORD_VALUES), out_data(RECORD_VALUES);
    if (count == 0 || count > RECORD_VALUES) return amps;
    SignalRecord in{}, out{};
    in.type = REC_ACQUIRED;
    in.kind = KIND_W;
    in.count = count;
    in.dx = static_cast<float>(dx);
    in.x_last = static_cast<float>(dx * (count - 1));
    in.scale = static_cast<float>(scale);
    in.data = in_data.data();
    in.data_bytes = count * sizeof(i32);
    std::copy(data, data + count, in_data.begin());
    out.data = out_data.data();
    if (!spectrum_of(&in, &out, 0)) return amps;
    for (u32 i = 0; i < out.count; ++i) {
        const double re = out.data[2 * i], im = out.data[2 * i + 1];
        amps.push_back(std::sqrt(re * re + im * im) * out.scale);
    }
    *line_hz = out.dx;
    return amps;
}

double measured_overall(bool spectrum, const i32* data, u32 count, double dx, double scale, const OverallBand& band)
{
    double line_hz = 0;
    const std::vector<double> amps = measured_lines(spectrum, data, count, dx, scale, &line_hz);
    if (amps.size() < 2 || line_hz <= 0) return -1;
    // The window's power gain over its amplitude gain squared: a tone's
    // lines add up to it times the tone's amplitude squared.
    double gain = 1.0;
    if (spectrum) {
        const u32 n = (static_cast<u32>(amps.size()) - 1) * 256 / 100;  // the transform's size
        const u32* w = window_table(1);
        double sum = 0;
        for (u32 i = 0; i < n; ++i) {
            const double x = w[i * (8192 / n)] / 65536.0;
            sum += x * x;
        }
        gain = sum / n * window_factor(1) * window_factor(1);
    }
    double sum = 0;
    for (size_t k = 0; k < amps.size(); ++k) {
        const double hz = k * line_hz;
        if (hz >= band.lo_hz && hz <= band.hi_hz) sum += amps[k] * amps[k];
    }
    return std::sqrt(sum / (2.0 * gain));
}
