#include "analysis/measures.h"

#include <cmath>
#include <cstring>
#include <numbers>

#include "analysis/rounding.h"
#include "analysis/shock.h"
#include "analysis/signal.h"
#include "host/settings.h"

float band_history[4][3][4];
u32 band_history_count;

namespace {
// Private spectrum for the band values, so the store's cells stay as they are.
i32 g_band_buffer[RECORD_VALUES];

// The spectra that the averaging ring keeps.
struct AvgSource {
    u32 group, kind, quantity;
};
constexpr AvgSource AVG_SOURCES[5] = {
    {1, KIND_S, Q_A}, {1, KIND_S, Q_V}, {1, KIND_S, Q_D}, {3, KIND_B, Q_A}, {0, KIND_S, Q_N},
};
constexpr u32 AVG_SLOTS = 11;

// One spectrum of the ring. A spectrum that the store has not derived yet
// is kept as the time record it comes from (`pending`) and transformed only
// when a line of it is asked for: most spectra leave the ring unread.
struct AvgEntry {
    float scale;
    u32 lines;
    u32 pending;          // data holds the samples of `source`, not yet transformed
    u32 window;           // the window the store would have used
    SignalRecord source;  // header of the time record (data points to nothing)
    i32 data[RECORD_VALUES];
};
AvgEntry g_avg_slots[AVG_SLOTS][5];
u32 g_avg_head, g_avg_tail, g_avg_passes;
float g_avg_accumulator[5][RECORD_PAIRS];
u32 g_avg_acc_lines[5];

void avg_store(AvgEntry& e, const SignalRecord* spectrum)
{
    e.pending = 0;
    e.lines = spectrum->count < RECORD_PAIRS ? spectrum->count : RECORD_PAIRS;
    e.scale = spectrum->scale;
    std::memcpy(e.data, spectrum->data, e.lines * 2 * sizeof(i32));
}

// The same header and samples.
bool same_time_record(const SignalRecord& a, const SignalRecord& b)
{
    return a.type == b.type && a.kind == b.kind && a.quantity == b.quantity && a.count == b.count && a.x0 == b.x0 &&
           a.dx == b.dx && a.x_last == b.x_last && a.peak == b.peak && a.scale == b.scale &&
           std::memcmp(a.data, b.data, a.count * sizeof(i32)) == 0;
}

// Transforms a pending entry as the store would have: the spectrum of its
// time record with its window. When the store has meanwhile derived that
// very spectrum (same time record, same window), its lines are taken.
void avg_resolve(AvgEntry& e, u32 s)
{
    if (!e.pending) return;
    const AvgSource& src = AVG_SOURCES[s];
    SignalRecord in = e.source;
    in.data = e.data;
    const SignalRecord* cell = record_at(src.group, src.kind, src.quantity);
    const SignalRecord* from = record_at(src.group, src.kind - 1, src.quantity);
    if (cell->type == REC_COMPUTED && in.scale != 0 && same_time_record(in, *from) &&
        cell->count == spectrum_lines(in.count) && cell->scale == in.scale * window_factor(e.window) * 2.0f) {
        avg_store(e, cell);
        return;
    }
    // In place: the transform reads all samples before it writes a line.
    SignalRecord out{};
    out.data = e.data;
    e.pending = 0;
    if (!spectrum_of(&in, &out, e.window)) {
        e.scale = 0;
        e.lines = 0;
        return;
    }
    e.lines = out.count < RECORD_PAIRS ? out.count : RECORD_PAIRS;
    e.scale = out.scale;
}

int avg_source_index(u32 group, u32 quantity)
{
    for (int i = 0; i < 5; ++i)
        if (AVG_SOURCES[i].group == group && AVG_SOURCES[i].quantity == quantity) return i;
    return -1;
}

float line_amplitude(const i32* pairs, u32 line, float scale)
{
    const double re = pairs[2 * line], im = pairs[2 * line + 1];
    return static_cast<float>(std::sqrt(re * re + im * im) * scale);
}
}  // namespace

void update_band_values_all()
{
    SignalRecord work{};
    work.data = g_band_buffer;
    for (u32 g = 1; g <= results.group_count && g < RESULT_GROUPS; ++g) {
        if (!results.group[g].active) continue;
        for (u32 q = Q_A; q <= Q_D; ++q) {
            const SignalRecord* rec = record_at(g, KIND_W, q);
            if (rec->type != REC_ACQUIRED) continue;
            const SignalRecord* spec;
            if (rec->kind == KIND_W) {
                if (!spectrum_of(rec, &work, 0, true)) continue;
                spec = &work;
            } else if (rec->kind == KIND_S) {
                spec = rec;
            } else {
                continue;
            }
            const int last = static_cast<int>(spec->count) - 1;
            int lo = index_of(spec, 10.0f, 0);
            if (lo < 1) lo = 1;
            int hi, e;
            if (q == Q_D) {
                hi = index_of(spec, 300.0f, 0);
                e = hi + 1;
            } else {
                hi = index_of(spec, 1000.0f, 0);
                e = index_of(spec, 1010.0f, 0);
            }
            if (hi < 0 || hi > last) hi = last;
            double sum = 0;
            for (int k = lo; k <= hi; ++k) sum += static_cast<double>(line_power(spec, static_cast<u32>(k)));
            for (int k = hi + 1; k < e; ++k) {
                const double t = static_cast<double>(e - k) / (e - hi);
                sum += static_cast<double>(line_power(spec, static_cast<u32>(k))) * t * t;
            }
            float* h = band_history[g][q];
            h[3] = h[2];
            h[2] = h[1];
            h[1] = h[0];
            h[0] = static_cast<float>(std::sqrt(sum) * spec->scale);
        }
    }
    if (band_history_count < 4) ++band_history_count;
}

float meas_band_value(u32 group, u32 quantity)
{
    if (band_history_count == 0 || group >= 4 || quantity > Q_D) return 0;
    float sum = 0;
    for (u32 i = 0; i < band_history_count; ++i) sum += band_history[group][quantity][i];
    float v = sum / static_cast<float>(band_history_count);
    if (quantity == Q_V)
        v /= std::numbers::sqrt2_v<float>;
    else if (quantity == Q_D)
        v *= 2.0f;
    return v >= 999.0f ? 999.0f : v;
}

int grade_value(float v, u32 warn_index, u32 alarm_index)
{
    if (alarm_index != 0 && alarm_index < 13 && v >= CLASS_LIMITS[alarm_index]) return 3;
    if (warn_index == 0 || warn_index >= 13) return 1;
    return v >= CLASS_LIMITS[warn_index] ? 2 : 1;
}

int grade_temperature(float t)
{
    if (t >= 100.0f) return 3;
    if (t >= 80.0f) return 2;
    return 1;
}

u32 display_group()
{
    return 1;
}

u32 avg_target()
{
    switch (settings.averaging_idx) {
    case 2:
    case 3: return 4;
    case 4:
    case 5: return 10;
    case 6: return AVG_UNLIMITED;
    default: return 1;
    }
}

void avg_push()
{
    const u32 target = avg_target();
    if (target == 1) return;
    if (target == AVG_UNLIMITED) {
        for (u32 s = 0; s < 5; ++s) {
            SignalRecord* rec;
            const AvgSource& src = AVG_SOURCES[s];
            if (!meas_get_record(src.group, src.kind, src.quantity, &rec)) continue;
            const u32 lines = rec->count < RECORD_PAIRS ? rec->count : RECORD_PAIRS;
            for (u32 k = 0; k < lines; ++k) g_avg_accumulator[s][k] += line_amplitude(rec->data, k, rec->scale);
            if (lines > g_avg_acc_lines[s]) g_avg_acc_lines[s] = lines;
        }
        ++g_avg_passes;
        return;
    }
    if (target < g_avg_passes) g_avg_passes = target;
    g_avg_head = g_avg_head >= AVG_SLOTS - 1 ? 0 : g_avg_head + 1;
    if (g_avg_tail == g_avg_head) g_avg_tail = g_avg_head + 1;
    for (u32 s = 0; s < 5; ++s) {
        AvgEntry& e = g_avg_slots[g_avg_head][s];
        const AvgSource& src = AVG_SOURCES[s];
        u32 window = 0;
        const SignalRecord* from = spectrum_source(src.group, src.kind, src.quantity, &window);
        if (from && from->count <= RECORD_VALUES) {
            // Kept as its time record until a line of it is asked for.
            e.pending = 1;
            e.window = window;
            e.source = *from;
            e.source.data = nullptr;
            std::memcpy(e.data, from->data, from->count * sizeof(i32));
            continue;
        }
        SignalRecord* rec;
        if (!meas_get_record(src.group, src.kind, src.quantity, &rec)) {
            e.pending = 0;
            e.scale = 0;
            e.lines = 0;
            continue;
        }
        avg_store(e, rec);
    }
    if (g_avg_tail > AVG_SLOTS - 1) g_avg_tail = 0;
}

u32 avg_count()
{
    const u32 target = avg_target();
    if (target == AVG_UNLIMITED) return g_avg_passes;
    u32 visited = 0;
    for (u32 i = g_avg_head; visited < target && i != g_avg_tail; i = i == 0 ? AVG_SLOTS - 1 : i - 1) ++visited;
    return visited;
}

float avg_line(u32 group, u32 quantity, u32 line)
{
    const int s = avg_source_index(group, quantity);
    if (s < 0 || line >= RECORD_PAIRS) return 0;
    const u32 target = avg_target();
    if (target == AVG_UNLIMITED) {
        if (g_avg_passes == 0 || line >= g_avg_acc_lines[s]) return 0;
        return g_avg_accumulator[s][line] / static_cast<float>(g_avg_passes);
    }
    if (g_avg_head == g_avg_tail) return 0;
    float sum = 0;
    u32 visited = 0;
    for (u32 i = g_avg_head; visited < target && i != g_avg_tail; i = i == 0 ? AVG_SLOTS - 1 : i - 1) {
        AvgEntry& e = g_avg_slots[i][s];
        avg_resolve(e, static_cast<u32>(s));
        if (line < e.lines) sum += line_amplitude(e.data, line, e.scale);
        ++visited;
    }
    return visited ? sum / static_cast<float>(visited) : 0;
}

void band_values_clear()
{
    std::memset(band_history, 0, sizeof band_history);
    band_history_count = 0;
}

void measures_reset()
{
    band_values_clear();
    avg_clear();
}

void results_reset()
{
    result_store_clear();
    // The values go too: a later pass that skips a quantity must not bring
    // back a value of the previous measurement.
    band_values_clear();
    shock_result.valid = 0;
}

void avg_clear()
{
    g_avg_head = g_avg_tail = g_avg_passes = 0;
    std::memset(g_avg_accumulator, 0, sizeof g_avg_accumulator);
    std::memset(g_avg_acc_lines, 0, sizeof g_avg_acc_lines);
}

float crossing_rate(const i32* samples, u32 n, u32* first, u32* last, u32* periods)
{
    if (n == 0) return 0;
    i32 lo = samples[0], hi = samples[0];
    for (u32 i = 1; i < n; ++i) {
        if (samples[i] < lo) lo = samples[i];
        if (samples[i] > hi) hi = samples[i];
    }
    if (static_cast<i64>(hi) - lo < 50) return 0;
    const i32 mid = static_cast<i32>((static_cast<i64>(hi) + lo) / 2);
    const i32 low = lo + round_half_away(0.3f * static_cast<float>(static_cast<i64>(hi) - lo));
    bool armed = samples[0] > mid;
    int crossings = 0;
    double x_first = 0, x_last = 0;
    u32 count = 0;
    for (u32 i = 1; i < n; ++i) {
        const i32 s = samples[i];
        if (armed) {
            if (s < low) armed = false;
            continue;
        }
        if (s <= mid) continue;
        armed = true;
        const i32 prev = samples[i - 1];
        const double x = s == prev ? static_cast<double>(i)
                                   : i - static_cast<double>(static_cast<i64>(s) - mid) / (static_cast<i64>(s) - prev);
        if (crossings == 0) {
            x_first = x;
        } else {
            x_last = x;
            ++count;
        }
        ++crossings;
    }
    if (crossings < 2) {
        *first = 0;
        *last = n - 1;
        *periods = 1;
        return 0;
    }
    *first = static_cast<u32>(round_half_away(static_cast<float>(x_first)));
    *last = static_cast<u32>(round_half_away(static_cast<float>(x_last)));
    *periods = count;
    return static_cast<float>(count / (x_last - x_first));
}

int tone_fit(const i32* samples, u32 first, u32 last, float freq_hz, float dt, float* a, float* b)
{
    *a = 0;
    *b = 0;
    if (freq_hz == 0 || dt == 0 || last < first) return 0;
    u32 m = last - first + 1;
    const double p = 1.0 / (static_cast<double>(freq_hz) * dt);
    if (p < m) m = static_cast<u32>(round_half_away(static_cast<float>(std::floor(m / p) * p)));
    if (m == 0) return 0;
    i64 sum = 0;
    for (u32 i = 0; i < m; ++i) sum += samples[first + i];
    const i64 mean = sum / static_cast<i64>(m);
    const double w = 2.0 * std::numbers::pi * freq_hz * dt;
    const double c = std::cos(w), s = std::sin(w);
    double y1 = 0, y2 = 0;
    for (u32 i = 0; i < m; ++i) {
        const double y = static_cast<double>(samples[first + i] - mean) + 2.0 * c * y1 - y2;
        y2 = y1;
        y1 = std::trunc(y);
    }
    *a = static_cast<float>((c * y1 - y2) / m * 2.0);
    *b = static_cast<float>(s * y1 / m * 2.0);
    return 1;
}
