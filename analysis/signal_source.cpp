#include "analysis/signal_source.h"

#include <samplerate.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <numbers>
#include <numeric>
#include <vector>

#include "analysis/converter.h"
#include "analysis/frames.h"
#include "analysis/signal.h"
#include "analysis/signal_file.h"
#include "base/text.h"
#include "host/device.h"

const char* const SIGNAL_OPTIONS_HELP =
    "  --signal FILE   measure the vibration recorded in FILE (WAV, FLAC, ... or CSV)\n"
    "                  instead of the synthesised signal; it loops\n"
    "  --signal-channel N  the file's channel to measure (default 1)\n"
    "  --signal-unit U     what one unit of the file means: g, m/s2 (default), mm/s,\n"
    "                  or a sensitivity such as 100mV/g for a file in volts\n"
    "  --signal-rate HZ    the file's sample rate (needed for a CSV without times)\n"
    "  --rpm RPM       rotation speed: a once-per-revolution marker pulse\n"
    "  --signal-shock N    channel whose rectified envelope feeds the shock-pulse input\n"
    "  --signal-temp N     channel holding the temperature in degrees Celsius\n"
    "  --temperature C     the temperature shown with a recording without --signal-temp\n"
    "                  (default 35), steady with a sensor's small noise\n";

namespace {

// Integration and differentiation: two FIR filters of 2 * FIR_HALF + 1 taps,
// fitted by least squares up to FIR_BAND of the sample rate (above every
// setup's upper frequency): one corrects the trapezoidal integrator's gain
// to that of a true integrator, the other differentiates.
constexpr u32 FIR_HALF = 16;
constexpr double FIR_BAND = 0.4;
constexpr u32 FIR_GRID = 2000;
// The analogue front end's coupling: a second-order high-pass before the
// integrators, which leak below LEAK_HZ, both far below the 10 Hz where the
// band values start.
constexpr double HIGH_PASS_HZ = 1.0;
constexpr double LEAK_HZ = 0.5;
// Signal run through the chain, unseen, before the first record of a setup.
constexpr double WARM_UP_S = 2.0;
// Envelope of the shock-pulse input: high-pass at ENVELOPE_HZ (at most a
// tenth of the file's rate), then rectified.
constexpr double ENVELOPE_HZ = 1000.0;
constexpr double ENVELOPE_RATE_SHARE = 0.1;
// Frames given to and taken from the resampler per call.
constexpr u64 SRC_CHUNK = 4096;
// How far the length of such a loop may differ from the exact one.
constexpr double LOOP_LENGTH_TOLERANCE = 1e-4;
// Input samples the resampler reaches back (at its own rate when reducing).
constexpr double SINC_REACH = 256;
// Samples of the integrators' history rings (a power of two above the taps).
constexpr u32 HISTORY = 64;
static_assert(HISTORY > 2 * FIR_HALF + 1);
// Converting m to mm and mm to µm.
constexpr double MILLI = 1000.0;
// The loop point: the loop ends up to SEAM_SEARCH_S before the last
// SEAM_WINDOW_S of the file, where what follows in the file is most like
// the file's start, judged on the velocity over SEAM_WINDOW_S, looked at
// SEAM_LOOK_HZ times a second.
constexpr double SEAM_SEARCH_S = 1.0;
constexpr double SEAM_WINDOW_S = 0.1;
constexpr double SEAM_LOOK_HZ = 2560;
// At most this share of the file is searched or compared.
constexpr u64 SEAM_SHARE_DIVISOR = 4;

struct Firs {
    double corr[FIR_HALF + 1];  // symmetric: corr[0] the centre tap
    double diff[FIR_HALF + 1];  // antisymmetric: diff[k] for taps +k and -k; diff[0] unused
};

// Solves A x = b (n x n, row-major) by Gaussian elimination with pivoting.
void solve(std::vector<double>& a, std::vector<double>& b, u32 n)
{
    for (u32 i = 0; i < n; ++i) {
        u32 p = i;
        for (u32 r = i + 1; r < n; ++r)
            if (std::fabs(a[r * n + i]) > std::fabs(a[p * n + i])) p = r;
        for (u32 c = 0; c < n; ++c) std::swap(a[i * n + c], a[p * n + c]);
        std::swap(b[i], b[p]);
        for (u32 r = i + 1; r < n; ++r) {
            const double f = a[r * n + i] / a[i * n + i];
            for (u32 c = i; c < n; ++c) a[r * n + c] -= f * a[i * n + c];
            b[r] -= f * b[i];
        }
    }
    for (u32 i = n; i-- > 0;) {
        double s = b[i];
        for (u32 c = i + 1; c < n; ++c) s -= a[i * n + c] * b[c];
        b[i] = s / a[i * n + i];
    }
}

// Least-squares fit of `basis` (k, theta) to `target` (theta) over the band.
template <typename Basis, typename Target>
std::vector<double> fit(u32 n, Basis basis, Target target)
{
    std::vector<double> a(n * n, 0.0), b(n, 0.0), phi(n);
    const double band = 2.0 * std::numbers::pi * FIR_BAND;
    for (u32 g = 0; g <= FIR_GRID; ++g) {
        const double t = band * g / FIR_GRID;
        for (u32 k = 0; k < n; ++k) phi[k] = basis(k, t);
        const double y = target(t);
        for (u32 i = 0; i < n; ++i) {
            b[i] += phi[i] * y;
            for (u32 j = 0; j < n; ++j) a[i * n + j] += phi[i] * phi[j];
        }
    }
    solve(a, b, n);
    return b;
}

const Firs& firs()
{
    static const Firs f = [] {
        Firs r{};
        // The trapezoidal integrator answers (T/2) cot(theta/2) where a true
        // one answers T / theta: the correction is tan(theta/2) / (theta/2).
        const auto corr = fit(
            FIR_HALF + 1, [](u32 k, double t) { return k == 0 ? 1.0 : 2.0 * std::cos(k * t); },
            [](double t) { return t < 1e-12 ? 1.0 : std::tan(t / 2) / (t / 2); });
        // A differentiator answers j theta / T.
        const auto diff = fit(
            FIR_HALF, [](u32 k, double t) { return 2.0 * std::sin((k + 1) * t); }, [](double t) { return t; });
        for (u32 k = 0; k <= FIR_HALF; ++k) r.corr[k] = corr[k];
        for (u32 k = 1; k <= FIR_HALF; ++k) r.diff[k] = diff[k - 1];
        return r;
    }();
    return f;
}

struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    double step(double x)
    {
        const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

// Second-order Butterworth high-pass at `hz` for samples at `rate`.
Biquad high_pass(double hz, double rate)
{
    const double w = 2.0 * std::numbers::pi * hz / rate;
    const double alpha = std::sin(w) / std::numbers::sqrt2;
    const double c = std::cos(w), a0 = 1 + alpha;
    Biquad q;
    q.b0 = (1 + c) / 2 / a0;
    q.b1 = -(1 + c) / a0;
    q.b2 = (1 + c) / 2 / a0;
    q.a1 = -2 * c / a0;
    q.a2 = (1 - alpha) / a0;
    return q;
}

// Trapezoidal integrator that forgets below LEAK_HZ.
struct Leaky {
    double rho = 1, half_dt = 0, x1 = 0, y = 0;
    double step(double x)
    {
        y = rho * y + half_dt * (x + x1);
        x1 = x;
        return y;
    }
};

Leaky leaky(double dt)
{
    Leaky l;
    l.rho = std::exp(-2.0 * std::numbers::pi * LEAK_HZ * dt);
    l.half_dt = dt / 2;
    return l;
}

// The front end after the resampler: from the file's quantity to
// acceleration (m/s²), velocity (mm/s) and displacement (µm), all three
// delayed alike so that they stay in step.
struct FrontEnd {
    u32 quantity = Q_A;
    double rate = 0;
    Biquad hp;
    Leaky first, second;
    double x[HISTORY] = {};  // the file's quantity, high-passed
    double v[HISTORY] = {};  // velocity (with an acceleration file)
    u32 n = 0;

    void setup(u32 q, double dt)
    {
        *this = FrontEnd{};
        quantity = q;
        rate = 1.0 / dt;
        hp = high_pass(HIGH_PASS_HZ, rate);
        first = leaky(dt);
        second = leaky(dt);
    }

    static double at(const double* ring, u32 i) { return ring[i & (HISTORY - 1)]; }

    // The corrected integrand centred FIR_HALF samples back.
    static double corrected(const double* ring, u32 n)
    {
        const Firs& f = firs();
        const u32 c = n - FIR_HALF;
        double s = f.corr[0] * at(ring, c);
        for (u32 k = 1; k <= FIR_HALF; ++k) s += f.corr[k] * (at(ring, c - k) + at(ring, c + k));
        return s;
    }

    void step(double sample, double* a, double* vel, double* d)
    {
        const u32 i = n++;
        const double xi = hp.step(sample);
        x[i & (HISTORY - 1)] = xi;
        if (quantity == Q_A) {
            const double vi = MILLI * first.step(corrected(x, i));
            v[i & (HISTORY - 1)] = vi;
            *d = MILLI * second.step(corrected(v, i));
            *vel = at(v, i - FIR_HALF);
            *a = at(x, i - 2 * FIR_HALF);
        } else {
            const Firs& f = firs();
            const u32 c = i - FIR_HALF;
            double s = 0;
            for (u32 k = 1; k <= FIR_HALF; ++k) s += f.diff[k] * (at(x, c + k) - at(x, c - k));
            *a = s * rate / MILLI;
            *vel = at(x, c);
            *d = MILLI * first.step(corrected(x, i));
        }
    }
};

// One channel of the file resampled to a setup's rate, read in a loop. A
// loop of at most g_loop_limit samples is resampled (and run through the front
// end) once per setup and then read over and over; a longer one is resampled
// as it is read.
struct Stream {
    double dt = 0;     // output sample period it is set up for; 0: not set up
    double ratio = 0;  // output samples per file frame
    // A whole loop: acceleration, velocity, displacement (the envelope in [0]).
    std::vector<float> loop[3];
    u64 next = 0;  // index of the next loop sample
    // Resampled as it is read.
    SRC_STATE* src = nullptr;
    u64 pos = 0;  // next file frame to feed

    bool whole() const { return !loop[0].empty(); }
    // The file frame the stream has reached.
    u64 file_position(u64 frames) const
    {
        if (dt == 0) return pos;
        return whole() ? static_cast<u64>(static_cast<double>(next) / ratio) % frames : pos;
    }
    void drop()
    {
        if (src) src_delete(src);
        src = nullptr;
        dt = 0;
        for (auto& l : loop) std::vector<float>().swap(l);
        next = 0;
    }
};

// The loaded file: host configuration, kept across power-on.
struct Loaded {
    std::string path;
    double rate = 0;
    u64 frames = 0;
    u32 quantity = Q_A;
    std::vector<float> vibration;    // in the unit's quantity (m/s² or mm/s)
    std::vector<float> envelope;     // m/s², empty when the shock-pulse input stays synthetic
    std::vector<float> temperature;  // °C, empty when synthetic
    double rpm = 0;
    double steady_temperature = SIGNAL_TEMPERATURE_DEFAULT;  // without a temperature channel
};

Loaded g_file;
bool g_active = false;
u64 g_loop_limit = SIGNAL_LOOP_MAX_SAMPLES;
Stream g_vib_stream, g_shock_stream;
FrontEnd g_front;
double g_marker_phase = 0;  // revolutions
u64 g_record_span = 0;      // file frames of the last vibration record
u64 g_clipped = 0;
SignalClipping g_clipping;
std::vector<float> g_scratch;

std::string quoted(const std::string& s)
{
    return "'" + s + "'";
}

bool parse_double(const std::string& text, double* out)
{
    const char* b = text.data();
    const char* e = b + text.size();
    const char* stop = nullptr;
    return b != e && text_to_double(b, e, out, &stop) && stop == e && std::isfinite(*out);
}

bool parse_channel(const std::string& text, u32* out)
{
    const char* b = text.data();
    const char* e = b + text.size();
    u32 v = 0;
    const auto r = std::from_chars(b, e, v);
    if (b == e || r.ec != std::errc() || r.ptr != e || v == 0) return false;
    *out = v;
    return true;
}

// One channel of an interleaved recording, times `factor`.
std::vector<float> channel_of(const SignalRecording& rec, u32 channel, double factor)
{
    std::vector<float> out(rec.frames);
    for (u64 i = 0; i < rec.frames; ++i)
        out[i] = static_cast<float>(rec.samples[i * rec.channels + channel - 1] * factor);
    return out;
}

// Rectified envelope of an acceleration: high-passed at the file's rate,
// run once over the end of the loop first so that its start follows on
// seamlessly.
std::vector<float> envelope_of(const std::vector<float>& accel, double rate)
{
    const u64 n = accel.size();
    Biquad hp = high_pass(std::min(ENVELOPE_HZ, ENVELOPE_RATE_SHARE * rate), rate);
    const u64 warm = std::min<u64>(n, static_cast<u64>(WARM_UP_S * rate));
    for (u64 i = n - warm; i < n; ++i) hp.step(accel[i]);
    std::vector<float> out(n);
    for (u64 i = 0; i < n; ++i) out[i] = static_cast<float>(std::fabs(hp.step(accel[i])));
    return out;
}

// Frames in the loop of a vibration channel `x` of `quantity` sampled at
// `rate`: a recording rarely ends where it could run on into its start (a
// tone ends part of a period out), and velocity and displacement would
// take a jolt at every loop point. The loop ends where the file, played on,
// stays closest in velocity to its start: where the front end's velocity
// after a jump back to the start differs least from the velocity had the
// file run on.
u64 loop_frames(const std::vector<float>& x, u32 quantity, double rate)
{
    const u64 n = x.size();
    const u64 window = std::min<u64>(n / SEAM_SHARE_DIVISOR, static_cast<u64>(SEAM_WINDOW_S * rate));
    const u64 search = std::min<u64>(n / SEAM_SHARE_DIVISOR, static_cast<u64>(SEAM_SEARCH_S * rate));
    if (window < 2 || search < 1) return n;
    const u64 stride = std::max<u64>(1, static_cast<u64>(rate / SEAM_LOOK_HZ));
    // The velocity up to each frame (any unit: only differences count): the
    // running sum of an acceleration, a velocity as it is.
    std::vector<double> vel(n + 1, 0.0);
    for (u64 i = 0; i < n; ++i) vel[i + 1] = quantity == Q_A ? vel[i] + x[i] : x[i];
    const auto gain = [&](u64 from, u64 j) {
        return quantity == Q_A ? vel[from + j + 1] - vel[from] : vel[from + j + 1];
    };
    const u64 last = n - window;
    u64 best = n;
    double best_cost = 0;
    for (u64 end = last - search; end <= last; ++end) {
        double cost = 0;
        for (u64 j = 0; j < window; j += stride) {
            const double dv = gain(end, j) - gain(0, j);
            cost += dv * dv;
        }
        // The latest of equals keeps the most of the file.
        if (best == n || cost <= best_cost) {
            best = end;
            best_cost = cost;
        }
    }
    return best;
}

// Acceleration (m/s²) of a velocity in mm/s, by differences around the loop.
std::vector<float> acceleration_of(const std::vector<float>& velocity, double rate)
{
    const u64 n = velocity.size();
    std::vector<float> out(n);
    for (u64 i = 0; i < n; ++i) out[i] = static_cast<float>((velocity[i] - velocity[(i + n - 1) % n]) * rate / MILLI);
    return out;
}

// Feeds the resampler from the loop, from file frame `st.pos` on, until
// `count` samples are out.
void pull(Stream& st, const std::vector<float>& in, float* out, u64 count)
{
    const u64 frames = in.size();
    u64 done = 0;
    int idle = 0;
    while (done < count) {
        SRC_DATA d{};
        d.data_in = in.data() + st.pos;
        d.input_frames = static_cast<long>(std::min<u64>(frames - st.pos, SRC_CHUNK));
        d.data_out = out + done;
        d.output_frames = static_cast<long>(std::min<u64>(count - done, SRC_CHUNK));
        d.src_ratio = st.ratio;
        d.end_of_input = 0;
        if (src_process(st.src, &d) != 0 || (d.input_frames_used == 0 && d.output_frames_gen == 0)) {
            // Cannot happen with valid data; never loop for ever.
            if (++idle > 4) break;
            continue;
        }
        st.pos += static_cast<u64>(d.input_frames_used);
        if (st.pos >= frames) st.pos = 0;
        done += static_cast<u64>(d.output_frames_gen);
    }
    std::fill(out + done, out + count, 0.0f);
}

// Length of a whole loop in output samples, near frames * ratio, and the
// file frames that run through the resampler unseen before the loop starts.
// The length may differ from the exact one by LOOP_LENGTH_TOLERANCE, so that
// a short warm-up of whole frames ends on a whole output sample.
void loop_geometry(u64 frames, double ratio, u64* length, u64* warm)
{
    const double exact = static_cast<double>(frames) * ratio;
    const u64 centre = std::max<u64>(1, static_cast<u64>(std::llround(exact)));
    const u64 slack = std::min<u64>(centre - 1, static_cast<u64>(exact * LOOP_LENGTH_TOLERANCE));
    const u64 reach = static_cast<u64>(std::ceil(SINC_REACH / std::min(1.0, ratio)));
    *length = centre;
    *warm = ~u64{0};
    for (u64 l = centre - slack; l <= centre + slack; ++l) {
        const u64 step = frames / std::gcd(frames, l);
        const u64 w = (reach + step - 1) / step * step;
        if (w < *warm) {
            *warm = w;
            *length = l;
        }
    }
}

// Sets the stream up for samples `dt` apart, going on from the file position
// it had reached. A whole loop is resampled here and, with a front end, run
// through it until the integrators have settled; otherwise the resampler
// and the front end run WARM_UP_S unseen.
bool prepare(Stream& st, const std::vector<float>& in, float dt, FrontEnd* front)
{
    if (st.dt == dt && st.dt != 0) return true;
    const u64 frames = in.size();
    const u64 here = st.file_position(frames);
    st.drop();
    int err = 0;
    st.src = src_new(SRC_SINC_BEST_QUALITY, 1, &err);
    if (!st.src) return false;
    st.dt = dt;
    st.ratio = 1.0 / (static_cast<double>(dt) * g_file.rate);
    if (front) front->setup(g_file.quantity, dt);
    double a, v, d;
    if (static_cast<double>(frames) * st.ratio <= static_cast<double>(g_loop_limit)) {
        u64 length, warm;
        loop_geometry(frames, st.ratio, &length, &warm);
        st.ratio = static_cast<double>(length) / static_cast<double>(frames);
        st.pos = (frames - warm % frames) % frames;
        const u64 skip = warm / (frames / std::gcd(frames, length)) * (length / std::gcd(frames, length));
        g_scratch.resize(std::max<u64>(skip, 1));
        pull(st, in, g_scratch.data(), skip);
        st.loop[0].resize(length);
        pull(st, in, st.loop[0].data(), length);
        src_delete(st.src);
        st.src = nullptr;
        if (front) {
            const std::vector<float> x = std::move(st.loop[0]);
            for (auto& l : st.loop) l.resize(length);
            const u64 passes = 1 + static_cast<u64>(std::ceil(WARM_UP_S / (static_cast<double>(length) * dt)));
            for (u64 p = 0; p < passes; ++p)
                for (u64 i = 0; i < length; ++i) {
                    front->step(x[i], &a, &v, &d);
                    st.loop[Q_A][i] = static_cast<float>(a);
                    st.loop[Q_V][i] = static_cast<float>(v);
                    st.loop[Q_D][i] = static_cast<float>(d);
                }
        }
        st.next = static_cast<u64>(std::llround(static_cast<double>(here) * st.ratio)) % length;
        return true;
    }
    const u64 warm_in = static_cast<u64>(WARM_UP_S * g_file.rate) % frames;
    st.pos = (here + frames - warm_in) % frames;
    const u64 warm_out = static_cast<u64>(WARM_UP_S / dt);
    g_scratch.resize(warm_out);
    pull(st, in, g_scratch.data(), warm_out);
    if (front)
        for (u64 i = 0; i < warm_out; ++i) front->step(g_scratch[i], &a, &v, &d);
    return true;
}

// A converter count, clipped as an overloaded converter clips.
u16 clip(double count, u32 top)
{
    return converter_count(count, top, &g_clipped);
}

}  // namespace

bool signal_unit_parse(const std::string& text, SignalUnit* out)
{
    std::string t;
    for (const char c : text)
        if (c != ' ') t += c;
    if (t.empty() || t == "m/s2" || t == "m/s^2" || t == "m/s²") {
        *out = {Q_A, 1.0};
        return true;
    }
    if (t == "g") {
        *out = {Q_A, SIGNAL_G};
        return true;
    }
    if (t == "mm/s") {
        *out = {Q_V, 1.0};
        return true;
    }
    const std::string suffix = "mV/g";
    if (t.size() > suffix.size() && t.compare(t.size() - suffix.size(), suffix.size(), suffix) == 0) {
        double sens = 0;
        if (!parse_double(t.substr(0, t.size() - suffix.size()), &sens) || !(sens > 0)) return false;
        // Volts times 1000 / sensitivity is g.
        *out = {Q_A, MILLI / sens * SIGNAL_G};
        return true;
    }
    return false;
}

bool signal_option_known(const std::string& name)
{
    return name == "--signal" || name == "--signal-channel" || name == "--signal-unit" || name == "--signal-rate" ||
           name == "--rpm" || name == "--signal-shock" || name == "--signal-temp" || name == "--temperature";
}

std::string signal_option_set(const std::string& name, const std::string& value, SignalOptions* o)
{
    if (name == "--signal") {
        if (value.empty()) return "--signal needs a file";
        o->path = value;
    } else if (name == "--signal-channel") {
        if (!parse_channel(value, &o->channel))
            return "--signal-channel '" + value + "' is not a channel number (1, 2, ...)";
    } else if (name == "--signal-shock") {
        if (!parse_channel(value, &o->shock_channel))
            return "--signal-shock '" + value + "' is not a channel number (1, 2, ...)";
    } else if (name == "--signal-temp") {
        if (!parse_channel(value, &o->temperature_channel))
            return "--signal-temp '" + value + "' is not a channel number (1, 2, ...)";
    } else if (name == "--signal-unit") {
        SignalUnit u;
        if (value.empty() || !signal_unit_parse(value, &u))
            return "--signal-unit '" + value + "' is not a unit: use g, m/s2, mm/s or a sensitivity such as 100mV/g";
        o->unit = value;
    } else if (name == "--signal-rate") {
        if (!parse_double(value, &o->rate) || !(o->rate > 0))
            return "--signal-rate '" + value + "' is not a sample rate above 0 Hz";
    } else if (name == "--temperature") {
        if (!parse_double(value, &o->temperature) || o->temperature < SIGNAL_TEMPERATURE_MIN ||
            o->temperature > SIGNAL_TEMPERATURE_MAX)
            return "--temperature '" + value + "' is not a temperature from " +
                   std::to_string(static_cast<int>(SIGNAL_TEMPERATURE_MIN)) + " to " +
                   std::to_string(static_cast<int>(SIGNAL_TEMPERATURE_MAX)) + " degrees Celsius";
    } else if (name == "--rpm") {
        if (!parse_double(value, &o->rpm) || !(o->rpm > 0)) return "--rpm '" + value + "' is not a speed above 0 rpm";
    } else {
        return "unknown option '" + name + "'";
    }
    return "";
}

std::string signal_source_open(const SignalOptions& o)
{
    if (o.path.empty()) return "--signal needs a file";
    SignalUnit unit;
    if (!signal_unit_parse(o.unit, &unit))
        return "--signal-unit '" + o.unit + "' is not a unit: use g, m/s2, mm/s or a sensitivity such as 100mV/g";
    if (o.rate < 0 || !std::isfinite(o.rate)) return "--signal-rate must be above 0 Hz";
    if (o.rpm < 0 || !std::isfinite(o.rpm)) return "--rpm must be above 0";
    SignalRecording rec;
    const std::string error = signal_file_read(o.path, o.rate, &rec);
    if (!error.empty()) return error;
    if (rec.rate < SIGNAL_RATE_MIN || rec.rate > SIGNAL_RATE_MAX)
        return quoted(o.path) + " is sampled at " + std::to_string(rec.rate) + " Hz; the source takes " +
               std::to_string(static_cast<int>(SIGNAL_RATE_MIN)) + " to " +
               std::to_string(static_cast<int>(SIGNAL_RATE_MAX)) + " Hz";
    const auto check = [&](const char* option, u32 ch) -> std::string {
        if (ch <= rec.channels) return "";
        return std::string(option) + " " + std::to_string(ch) + ": " + quoted(o.path) + " has " +
               std::to_string(rec.channels) + (rec.channels == 1 ? " channel" : " channels");
    };
    for (const std::string& e : {check("--signal-channel", o.channel), check("--signal-shock", o.shock_channel),
                                 check("--signal-temp", o.temperature_channel)})
        if (!e.empty()) return e;
    if (o.channel == 0) return "--signal-channel 0: channels are counted from 1";

    Loaded f;
    f.path = o.path;
    f.rate = rec.rate;
    f.quantity = unit.quantity;
    f.rpm = o.rpm;
    f.steady_temperature = o.temperature;
    f.vibration = channel_of(rec, o.channel, unit.factor);
    f.frames = loop_frames(f.vibration, unit.quantity, rec.rate);
    f.vibration.resize(f.frames);
    rec.frames = f.frames;
    if (o.shock_channel) {
        std::vector<float> accel = channel_of(rec, o.shock_channel, unit.factor);
        if (unit.quantity == Q_V) accel = acceleration_of(accel, rec.rate);
        f.envelope = envelope_of(accel, rec.rate);
    }
    if (o.temperature_channel) f.temperature = channel_of(rec, o.temperature_channel, 1.0);

    g_file = std::move(f);
    g_active = true;
    g_clipped = 0;
    g_clipping = SignalClipping{};
    signal_source_reset();
    return "";
}

void signal_source_close()
{
    signal_source_reset();
    g_file = Loaded{};
    g_active = false;
    g_clipping = SignalClipping{};
}

bool signal_source_active()
{
    return g_active;
}

const std::string& signal_source_path()
{
    return g_file.path;
}

void signal_source_reset()
{
    g_vib_stream.drop();
    g_shock_stream.drop();
    g_vib_stream.pos = g_shock_stream.pos = 0;
    g_front = FrontEnd{};
    g_marker_phase = 0;
    g_record_span = 0;
}

void signal_source_set_loop_limit(u64 samples)
{
    g_loop_limit = samples;
    signal_source_reset();
}

u64 signal_source_clipped()
{
    return g_clipped;
}

const SignalClipping& signal_source_clipping()
{
    return g_clipping;
}

u64 signal_source_loop_frames()
{
    return g_active ? g_file.frames : 0;
}

bool signal_source_vibration(VibFrame* frames, u32 count, float dt, const CalibrationSet& scale)
{
    if (!g_active || !(dt > 0)) return false;
    Stream& st = g_vib_stream;
    if (!prepare(st, g_file.vibration, dt, &g_front)) return false;
    if (!st.whole()) {
        g_scratch.resize(count);
        pull(st, g_file.vibration, g_scratch.data(), count);
    }
    const double turn = g_file.rpm / 60.0 * dt;
    const u64 length = st.loop[0].size();
    u64 clipped_frames = 0;
    for (u32 i = 0; i < count; ++i) {
        const u64 clipped_before = g_clipped;
        double a, v, d;
        if (st.whole()) {
            a = st.loop[Q_A][st.next];
            v = st.loop[Q_V][st.next];
            d = st.loop[Q_D][st.next];
            if (++st.next == length) st.next = 0;
        } else {
            g_front.step(g_scratch[i], &a, &v, &d);
        }
        VibFrame& fr = frames[i];
        fr.w[Q_A] = clip(MID_SCALE + a / scale[Q_A], SIGNAL_ADC_MAX);
        fr.w[Q_V] = clip(MID_SCALE + v / scale[Q_V], SIGNAL_ADC_MAX);
        fr.w[Q_D] = clip(MID_SCALE + d / scale[Q_D], SIGNAL_ADC_MAX);
        if (g_clipped != clipped_before) ++clipped_frames;
        const u16 marker = turn > 0 && g_marker_phase < SIGNAL_MARKER_DUTY ? SIGNAL_MARKER_HIGH : MID_SCALE;
        fr.w[3] = fr.w[4] = fr.w[5] = fr.w[6] = marker;
        g_marker_phase += turn;
        g_marker_phase -= std::floor(g_marker_phase);
    }
    g_record_span = std::max<u64>(1, static_cast<u64>(std::llround(count * static_cast<double>(dt) * g_file.rate)));
    ++g_clipping.records;
    g_clipping.frames += count;
    g_clipping.clipped_frames += clipped_frames;
    if (clipped_frames) ++g_clipping.clipped_records;
    g_clipping.last_share = count ? static_cast<double>(clipped_frames) / count : 0.0;
    return true;
}

bool signal_source_shock(u16* buffer, u32 count, float dt, const CalibrationSet& scale)
{
    if (!g_active || g_file.envelope.empty() || !(dt > 0)) return false;
    Stream& st = g_shock_stream;
    if (!prepare(st, g_file.envelope, dt, nullptr)) return false;
    if (!st.whole()) {
        g_scratch.resize(count);
        pull(st, g_file.envelope, g_scratch.data(), count);
    }
    // The shock-pulse input sees the envelope through the acceleration
    // channel's converter scale; it is a magnitude, so its zero is 0.
    const double a_scale = scale[Q_A];
    const u64 length = st.loop[0].size();
    for (u32 i = 0; i < count; ++i) {
        double e;
        if (st.whole()) {
            e = st.loop[0][st.next];
            if (++st.next == length) st.next = 0;
        } else {
            e = g_scratch[i];
        }
        buffer[i] = clip(e / a_scale, SIGNAL_SHOCK_MAX);
    }
    return true;
}

bool signal_source_temperature(float* celsius)
{
    if (!g_active) return false;
    if (g_file.temperature.empty()) {
        const double noise = (2.0 * rand_next() / RAND_NEXT_MAX - 1.0) * SIGNAL_TEMPERATURE_NOISE;
        *celsius = static_cast<float>(g_file.steady_temperature + noise);
        return true;
    }
    const u64 n = g_file.frames;
    const u64 span = std::min<u64>(n, std::max<u64>(1, g_record_span));
    const u64 end = g_vib_stream.file_position(n);
    double sum = 0;
    for (u64 k = 1; k <= span; ++k) sum += g_file.temperature[(end + n - k) % n];
    *celsius = static_cast<float>(sum / static_cast<double>(span));
    return true;
}
