#include "screens/plot.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "analysis/format.h"
#include "analysis/measures.h"
#include "analysis/rounding.h"
#include "analysis/shock.h"
#include "analysis/signal.h"
#include "gfx/framebuffer.h"
#include "gfx/text.h"
#include "host/device.h"

namespace {

constexpr u32 TF_OUTLINED = TF_OUTLINE | TF_TRANSPARENT;
constexpr u8 LABEL_FONT = 3;        // unit label, marker labels, cursor readout
constexpr u8 AXIS_FONT_NARROW = 1;  // 5 x 6
constexpr u8 AXIS_FONT_WIDE = 2;    // 6 x 8
constexpr float SQRT2 = 1.4142135f;
constexpr float SHRINK = 0.8f;         // full scale shrinks by 20 % per drawing
constexpr float SHRINK_RATIO = 3.0f;   // once it is more than three times the peak
constexpr float GROW_MARGIN = 1.05f;   // a point above the full scale lifts it 5 % over
constexpr float REDRAW_RATIO = 20.0f;  // a full-scale change of 5 % redraws
constexpr i32 X_GRID_SPACING = 46;     // pixels per X interval at least
constexpr i32 Y_GRID_SPACING_SMALL = 12;
constexpr i32 Y_GRID_SPACING_LARGE = 22;
constexpr i32 Y_GRID_LARGE_FROM = 80;  // half heights from which the larger spacing applies
constexpr int GRID_TICKS_MAX = 1000;   // guard against a degenerate step
// Repeat counts of a held key below which the cursor moves 1 or 10 points.
constexpr u32 REPEAT_SLOW = 65;
constexpr u32 REPEAT_MEDIUM = 161;
constexpr i32 STEP_SLOW = 1, STEP_MEDIUM = 10, STEP_FAST = 50;
constexpr u32 KEY_CODE_MASK = 0xFFFF;
// Marker label box: text width plus this; peak box half side.
constexpr i32 MARKER_BOX_PAD = 12;
constexpr i32 MARKER_TEXT_INSET = 6;
constexpr i32 PEAK_BOX_HALF = 2;
constexpr i32 INSIDE_MARGIN = 2;
// Cursor readout: line offsets and the band it stays in.
constexpr i32 READOUT_ABOVE = 9;
constexpr i32 READOUT_TOP = 19;
constexpr i32 READOUT_BOTTOM = 35;
constexpr i32 READOUT_LINE = 12;
constexpr i32 READOUT_RIGHT = 2;
constexpr i32 BOTTOM_LABEL_RISE = 6;  // X labels and the averaging count sit this far above y1
constexpr i32 SPECTRUM_UNIT_RISE = 3;
// A whole-dB snap ignores this much rounding noise of the dB conversion, so
// that a full scale already on a whole dB stays there.
constexpr float DB_SNAP_TOLERANCE = 1e-3f;
// The nice value of a linear full scale ignores this much of a mantissa above
// a whole number (single-precision noise of values such as 0.2).
constexpr double NICE_TOLERANCE = 1e-5;

int is_db_kind(u32 kind)
{
    return kind == KIND_E || kind == KIND_B;
}

PlotSlot* cursor_slot(PlotView* pv)
{
    return pv->kind < PLOT_CURSOR_SLOTS ? &pv->slots[pv->kind] : nullptr;
}

void clear_slot(PlotSlot* s)
{
    std::memset(s, 0, sizeof *s);
    s->recompute = 1;
    s->screen_x = s->screen_y = -1;
}

i32 capacity_of(const SignalRecord* rec)
{
    return static_cast<i32>(plot_is_spectrum(rec->kind) ? RECORD_PAIRS : RECORD_VALUES);
}

// Points of the record that its buffer really holds.
i32 usable_count(const SignalRecord* rec)
{
    return std::min(static_cast<i32>(std::min<u32>(rec->count, 0x7FFFFFFF)), capacity_of(rec));
}

// Truncated magnitude of a (re, im) pair.
u32 magnitude(u64 power)
{
    u64 m = static_cast<u64>(std::sqrt(static_cast<double>(power)));
    while (m * m > power) --m;
    while ((m + 1) * (m + 1) <= power) ++m;
    return static_cast<u32>(m);
}

u64 pair_power(const i32* data, i32 line)
{
    const i64 re = data[2 * line], im = data[2 * line + 1];
    return static_cast<u64>(re * re) + static_cast<u64>(im * im);
}

// The amplitudes of a spectrum's lines as the trace draws them: the
// averaged lines while averaging runs, else the record's magnitudes. The
// cursor readout, the markers and the peak search read the same values, so
// every number shown is that of the line drawn.
class SpectrumLines {
public:
    SpectrumLines(const PlotView* pv, const SignalRecord* rec)
        : pv_(pv), rec_(rec), scale_(rec->scale == 0 ? 1.0f : rec->scale),
          averaged_(avg_target() > 1 && avg_count() > 0)
    {
    }
    float at(i32 line) const
    {
        if (averaged_) return avg_line(static_cast<u32>(pv_->group), pv_->quantity, static_cast<u32>(line));
        return static_cast<float>(magnitude(pair_power(rec_->data, line))) * scale_;
    }

private:
    const PlotView* pv_;
    const SignalRecord* rec_;
    float scale_;
    bool averaged_;
};

i32 index_for(float freq, const SignalRecord* rec)
{
    if (!(rec->dx > 0)) return 0;
    return round_half_away((freq - rec->x0) / rec->dx);
}

// y rounded up to a whole dB; levels at the bottom of the dB scale stay.
float snap_db(float y)
{
    const float d = to_db(y);
    if (!(d > 0)) return y;
    return from_db(std::ceil(d - DB_SNAP_TOLERANCE));
}

// v rounded up to 1, 2, ... 10 times a power of ten.
float nice_ceiling(float v)
{
    double m;
    int e;
    decompose(v, &m, &e);
    if (m <= 0) return v;
    return static_cast<float>(std::ceil(m - NICE_TOLERANCE) * std::pow(10.0, e));
}

void auto_scale(PlotView* pv, float v)
{
    if (!is_db_kind(pv->kind)) v = nice_ceiling(v);
    if (pv->y_scale < v)
        pv->y_scale = v;
    else if (pv->y_scale / SHRINK_RATIO > v)
        pv->y_scale = SHRINK * pv->y_scale;
    if (pv->min_scale > 0 && pv->y_scale < pv->min_scale) pv->y_scale = pv->min_scale;
    if (is_db_kind(pv->kind)) pv->y_scale = snap_db(pv->y_scale);
}

// The drawing state a screen had before the plot drew; put back at the end.
class DrawingState {
public:
    DrawingState() : fg_(fg_color), bg_(bg_color), outline_(outline_color), font_(font_current) {}
    ~DrawingState()
    {
        fg_color = fg_;
        bg_color = bg_;
        outline_color = outline_;
        font_select(font_);
    }
    DrawingState(const DrawingState&) = delete;
    DrawingState& operator=(const DrawingState&) = delete;

private:
    u16 fg_, bg_, outline_;
    u8 font_;
};

void outlined_text(i32 x, i32 y, const char* s, u32 align, u16 color, u16 outline)
{
    fg_color = color;
    outline_color = outline;
    text_draw(x, y, s, align | TF_OUTLINED);
}

// Everything one drawing needs about the view and its record.
struct Frame {
    PlotView* pv;
    const SignalRecord* rec;
    PlotGeometry g;
    i32 start, end;  // view range
    i32 offset;      // half-bin offset
    float scale;     // record scale, 0 taken as 1
    bool spectrum;
};

void draw_frame(const Frame& f)
{
    const PlotView* pv = f.pv;
    fill_rect(std::max(pv->x0 - 1, 0), pv->y0, pv->plot_left - 1, pv->y1, PLOT_COLOR_FRAME);
    fill_rect(pv->plot_left, f.g.bottom + 1, pv->x1 + 1, pv->y1, PLOT_COLOR_FRAME);
    fill_rect(pv->plot_left, f.g.top, pv->x1, f.g.bottom, PLOT_COLOR_AREA);
    if (!f.spectrum) {
        fg_color = PLOT_COLOR_ZERO;
        draw_dotted_hline(pv->plot_left, pv->x1, f.g.centre);
    }
}

void draw_unit(const Frame& f)
{
    font_select(LABEL_FONT);
    const char* unit = is_db_kind(f.pv->kind) ? "dB" : unit_of_quantity(static_cast<int>(f.rec->quantity));
    const i32 y = f.spectrum ? f.g.centre - SPECTRUM_UNIT_RISE : f.g.centre;
    outlined_text(f.pv->plot_left - 1, y, unit, TF_RIGHT | TF_VCENTER, PLOT_COLOR_UNIT, PLOT_COLOR_LABEL_OUTLINE);
}

void draw_x_grid(const Frame& f)
{
    const PlotView* pv = f.pv;
    const float dx = f.rec->dx;
    if (!(dx > 0)) return;
    double first, step;
    axis_step(static_cast<double>(f.start) * dx, static_cast<double>(f.end - 1) * dx, pv->plot_width / X_GRID_SPACING,
              &first, &step);
    if (!(step > 0)) return;
    const i32 label_y = pv->y1 - BOTTOM_LABEL_RISE;
    for (int k = -1; k < GRID_TICKS_MAX; ++k) {
        const double t = first + k * step;
        const i32 px = plot_px(pv, round_half_away(static_cast<float>(t / dx))) + f.offset;
        if (px > pv->plot_width) break;
        if (px < 0) continue;
        const i32 x = pv->plot_left + px;
        fg_color = PLOT_COLOR_GRID;
        draw_dotted_vline(x, f.g.top, f.g.bottom);
        if (!pv->labels_on) continue;
        char text[32];
        format_sig(t, 5, text);
        const i32 w = text_width(text);
        if (x - w / 2 < pv->plot_left)
            outlined_text(pv->plot_left, label_y, text, 0, PLOT_COLOR_LABEL, PLOT_COLOR_LABEL_OUTLINE);
        else if (x - w / 2 + w > pv->plot_left + pv->plot_width)
            outlined_text(pv->plot_left + pv->plot_width, label_y, text, TF_RIGHT, PLOT_COLOR_LABEL,
                          PLOT_COLOR_LABEL_OUTLINE);
        else
            outlined_text(x, label_y, text, TF_HCENTER, PLOT_COLOR_LABEL, PLOT_COLOR_LABEL_OUTLINE);
    }
}

void y_label(const Frame& f, i32 label_y, float t, bool lower)
{
    char text[40];
    char* p = text;
    if (lower && f.pv->kind == KIND_W) *p++ = '-';
    if (is_db_kind(f.pv->kind))
        format_sig(to_db(t), 4, p);
    else
        format_sig(t, 5, p);
    outlined_text(f.pv->plot_left - 1, label_y + 1, text, TF_RIGHT | TF_VCENTER, PLOT_COLOR_LABEL,
                  PLOT_COLOR_LABEL_OUTLINE);
}

void draw_y_grid(const Frame& f)
{
    const PlotView* pv = f.pv;
    const i32 half = f.g.half;
    const int n = half < Y_GRID_LARGE_FROM ? half / Y_GRID_SPACING_SMALL : half / Y_GRID_SPACING_LARGE;
    double first, step;
    axis_step(0, pv->y_scale, n, &first, &step);
    if (!(step > 0)) return;
    const bool db = is_db_kind(pv->kind);
    const i32 fh = font_height;
    const i32 label_from = fh / 2 + 8;
    bool have_label = false;
    i32 last_label_y = 0;
    float t = static_cast<float>(first);
    if (db) t = snap_db(t);
    for (int k = 1; k <= GRID_TICKS_MAX; ++k) {
        const i32 o = round_half_away(t * static_cast<float>(half) / pv->y_scale);
        if (o > half) break;
        fg_color = PLOT_COLOR_GRID;
        draw_dotted_hline(pv->plot_left, pv->plot_left + pv->plot_width, f.g.centre - o);
        if (!f.spectrum && o != 0) draw_dotted_hline(pv->plot_left, pv->plot_left + pv->plot_width, f.g.centre + o);
        if (o > label_from) {
            i32 label_y = f.g.centre - o;
            if (label_y - fh / 2 < f.g.top) label_y = f.g.top + fh / 2;
            if (have_label && last_label_y - label_y < fh + 1) break;
            y_label(f, label_y, t, false);
            have_label = true;
            last_label_y = label_y;
            if (!f.spectrum) {
                i32 lower_y = f.g.centre + o;
                if (lower_y + fh / 2 > f.g.bottom) lower_y = f.g.bottom - fh / 2;
                y_label(f, lower_y, t, true);
            }
        }
        t = db ? snap_db(t + static_cast<float>(step)) : static_cast<float>(first + k * step);
    }
}

void draw_averaging(const Frame& f)
{
    const u32 target = avg_target();
    if (!f.pv->labels_on || !f.spectrum || target <= 1) return;
    char text[32];
    std::snprintf(text, sizeof text, "%u/%u", static_cast<unsigned>(std::min(avg_count(), target)),
                  static_cast<unsigned>(target));
    outlined_text(f.pv->x0, f.pv->y1 - BOTTOM_LABEL_RISE, text, 0, PLOT_COLOR_UNIT, PLOT_COLOR_LABEL_OUTLINE);
}

// Slot positions forgotten, the cursor index (and for spectra the markers'
// indices) brought up to date.
void prepare_slots(const Frame& f)
{
    PlotView* pv = f.pv;
    for (u32 k = 0; k < pv->slot_count && k < PLOT_SLOTS; ++k) {
        PlotSlot& s = pv->slots[k];
        s.screen_x = s.screen_y = -1;
        s.amplitude = 0;
        s.box_left = s.box_top = 0;
    }
    PlotSlot& c = *cursor_slot(pv);
    if (c.moved) {
        c.freq = static_cast<float>(c.index) * f.rec->dx + f.rec->x0;
        c.moved = 0;
        c.recompute = 1;
    }
    if (c.recompute && c.freq >= 0) {
        if (c.freq > f.rec->x_last) c.freq = f.rec->x_last;
        c.index = index_for(c.freq, f.rec);
        if (f.spectrum) {
            for (u32 k = PLOT_CURSOR_SLOTS; k < pv->slot_count && k < PLOT_SLOTS; ++k) {
                PlotSlot& m = pv->slots[k];
                m.freq = m.multiplier * c.freq;
                m.index = index_for(m.freq, f.rec);
            }
        }
    }
    c.recompute = 0;
    c.moved = 0;
}

// Largest amplitude of each pixel column (0 = nothing there), and the full
// scale lifted over any of them. The lift is what restarting the drawing at
// every column above the full scale ends with.
using Columns = std::array<float, LCD_WIDTH + 1>;

i32 column_count(const PlotView* pv)
{
    return std::clamp(pv->plot_width + 1, 0, LCD_WIDTH + 1);
}

void spectrum_columns(Frame& f, Columns& cols)
{
    PlotView* pv = f.pv;
    const i32 n = column_count(pv);
    const i64 span = f.end - f.start;
    const SpectrumLines lines(pv, f.rec);
    for (i32 c = 0; c < n; ++c) {
        cols[c] = 0;
        if (pv->plot_width <= 0) continue;
        i32 b0 = static_cast<i32>(f.start + span * c / pv->plot_width);
        i32 b1 = static_cast<i32>(f.start + span * (c + 1) / pv->plot_width);
        b0 = std::max(b0, f.start);
        b1 = std::min(b1, f.end - 1);
        if (b1 == b0) b1 = b0 + 1;
        float p = 0;
        for (i32 b = b0; b < b1; ++b) p = std::max(p, lines.at(b));
        cols[c] = p;
        if (p > 0 && p > pv->y_scale) pv->y_scale = GROW_MARGIN * p;
    }
}

void draw_spectrum_trace(const Frame& f, const Columns& cols)
{
    const PlotView* pv = f.pv;
    const i32 n = column_count(pv);
    for (i32 c = 0; c < n; ++c) {
        if (!(cols[c] > 0)) continue;
        const i32 h = round_half_away(static_cast<float>(f.g.half) * cols[c] / pv->y_scale);
        draw_vline(pv->plot_left + c, f.g.centre, f.g.centre - std::min(h, f.g.half), PLOT_COLOR_TRACE);
    }
}

i32 full_scale_counts(const Frame& f)
{
    return std::max(round_half_away(f.pv->y_scale / f.scale), 1);
}

// Height of `raw` above the centre (raw x half / full, truncated), kept
// within the amplitude height. The quotient of two integers below 2^53 in
// double precision truncates to the integer quotient.
i32 wave_height(const Frame& f, i64 raw, i32 full)
{
    const double h = std::trunc(static_cast<double>(raw * f.g.half) / full);
    return static_cast<i32>(std::clamp<double>(h, -f.g.half, f.g.half));
}

// The columns of the points of the view in order, as plot_px gives them,
// by stepping instead of dividing for every point.
class ColumnStepper {
public:
    explicit ColumnStepper(const Frame& f)
        : width_(f.pv->plot_width),
          span_(f.spectrum ? f.end - f.start : f.end - f.start - 1),
          stepping_(width_ >= 0 && span_ > 0)
    {
    }
    // Returns the column of the next point, the first call giving the view's start.
    i32 next()
    {
        if (!stepping_) return 0;
        const i32 column = column_;
        remainder_ += width_;
        if (remainder_ >= span_) {
            column_ += static_cast<i32>(remainder_ / span_);
            remainder_ %= span_;
        }
        return column;
    }

private:
    i64 width_, span_;
    bool stepping_;
    i32 column_ = 0;
    i64 remainder_ = 0;
};

// Shock-pulse waveform: the largest |raw| of each column, the full scale
// lifted over any sample above it.
void shock_columns(Frame& f, std::array<i64, LCD_WIDTH + 1>& cols, std::array<u8, LCD_WIDTH + 1>& used)
{
    PlotView* pv = f.pv;
    const i32 n = column_count(pv);
    std::fill(cols.begin(), cols.end(), 0);
    std::fill(used.begin(), used.end(), 0);
    i32 full = full_scale_counts(f);
    ColumnStepper columns(f);
    for (i32 i = f.start; i < f.end; ++i) {
        const i64 a = std::abs(static_cast<i64>(f.rec->data[i]));
        if (a > full) {
            pv->y_scale = GROW_MARGIN * static_cast<float>(a) * f.scale;
            full = full_scale_counts(f);
        }
        const i32 c = columns.next();
        if (c < 0 || c >= n) continue;
        cols[c] = std::max(cols[c], a);
        used[c] = 1;
    }
}

void draw_shock_trace(const Frame& f, const std::array<i64, LCD_WIDTH + 1>& cols,
                      const std::array<u8, LCD_WIDTH + 1>& used)
{
    const PlotView* pv = f.pv;
    const i32 full = full_scale_counts(f);
    const i32 n = column_count(pv);
    for (i32 c = 0; c < n; ++c) {
        if (!used[c]) continue;
        const i32 h = wave_height(f, cols[c], full);
        draw_vline(pv->plot_left + c, f.g.centre - h, f.g.centre + h, PLOT_COLOR_TRACE);
    }
}

// The polyline through every sample in view. Consecutive points in one
// column are joined by one vertical run from their lowest to their highest
// point, which covers the same pixels as the segments between them.
void draw_wave_trace(const Frame& f)
{
    const PlotView* pv = f.pv;
    const i32 full = full_scale_counts(f);
    i32 run_x = 0, run_lo = 0, run_hi = 0, last_y = 0;
    bool have = false;
    ColumnStepper columns(f);
    for (i32 i = f.start; i < f.end; ++i) {
        const i32 x = pv->plot_left + columns.next();
        const i32 y = f.g.centre - wave_height(f, f.rec->data[i], full);
        if (have && x == run_x) {
            run_lo = std::min(run_lo, y);
            run_hi = std::max(run_hi, y);
        } else {
            if (have) {
                if (run_hi > run_lo) draw_vline(run_x, run_lo, run_hi, PLOT_COLOR_TRACE);
                draw_line_color(run_x, last_y, x, y, PLOT_COLOR_TRACE);
            } else {
                put_pixel(x, y, PLOT_COLOR_TRACE);
            }
            run_x = x;
            run_lo = run_hi = y;
        }
        last_y = y;
        have = true;
    }
    if (have && run_hi > run_lo) draw_vline(run_x, run_lo, run_hi, PLOT_COLOR_TRACE);
}

void place_wave_cursor(const Frame& f)
{
    PlotSlot& c = *cursor_slot(f.pv);
    if (c.index < f.start || c.index >= f.end) return;
    const i64 raw = f.rec->data[c.index];
    const i64 shown = f.pv->kind == KIND_E ? std::abs(raw) : raw;
    c.screen_x = f.pv->plot_left + plot_px(f.pv, c.index);
    c.screen_y = f.g.centre - wave_height(f, shown, full_scale_counts(f));
    c.amplitude = static_cast<float>(shown) * f.scale;
}

// A slot of a spectrum: the strongest line near its index gives its
// amplitude and screen position.
void locate_spectrum_slot(const Frame& f, PlotSlot& s)
{
    if (s.index < f.start || s.index >= f.end) return;
    const i64 r = f.rec->dx > 0 ? std::max(round_half_away(s.multiplier / f.rec->dx * 0.5f), 0) : 0;
    const i32 lo = static_cast<i32>(std::max<i64>(f.start, s.index - r));
    const i32 hi = static_cast<i32>(std::min<i64>(f.end - 1, s.index + r));
    const SpectrumLines lines(f.pv, f.rec);
    i32 best = lo;
    float best_amplitude = lines.at(lo);
    for (i32 b = lo + 1; b <= hi; ++b) {
        const float a = lines.at(b);
        if (a > best_amplitude) {
            best_amplitude = a;
            best = b;
        }
    }
    s.amplitude = best_amplitude;
    s.screen_x = f.pv->plot_left + plot_px(f.pv, best);
    const i32 h = round_half_away(static_cast<float>(f.g.half) * s.amplitude / f.pv->y_scale);
    s.screen_y = f.g.centre - std::clamp(h, 0, f.g.half);
    s.recompute = 0;
    s.moved = 0;
}

void locate_spectrum_slots(const Frame& f)
{
    PlotView* pv = f.pv;
    locate_spectrum_slot(f, pv->slots[KIND_S]);
    locate_spectrum_slot(f, pv->slots[KIND_B]);
    if (cursor_slot(pv)->index <= 0) return;
    for (u32 k = PLOT_CURSOR_SLOTS; k < pv->slot_count && k < PLOT_SLOTS; ++k) locate_spectrum_slot(f, pv->slots[k]);
}

bool boxes_touch(const PlotSlot& a, const PlotSlot& b)
{
    return a.box_left <= b.box_right && b.box_left <= a.box_right && a.box_top <= b.box_bottom &&
           b.box_top <= a.box_bottom;
}

void draw_markers(const Frame& f)
{
    PlotView* pv = f.pv;
    const u32 end = std::min(pv->slot_count, PLOT_SLOTS);
    const float threshold = 0.01f * static_cast<float>(pv->label_threshold) * pv->y_scale;
    bool shown[PLOT_SLOTS] = {};
    for (u32 k = PLOT_CURSOR_SLOTS; k < end; ++k) {
        const PlotSlot& m = pv->slots[k];
        shown[k] = m.screen_x >= 0 && m.amplitude > threshold;
        if (!shown[k]) continue;
        const i32 x = m.screen_x + f.offset;
        fg_color = PLOT_COLOR_MARKER;
        draw_dotted_vline(x, f.g.top, f.g.bottom);
        if (x >= pv->plot_left + INSIDE_MARGIN && x <= pv->plot_left + pv->plot_width - INSIDE_MARGIN &&
            m.screen_y >= f.g.centre - f.g.half + INSIDE_MARGIN && m.screen_y <= f.g.centre - INSIDE_MARGIN)
            draw_rect(x - PEAK_BOX_HALF, m.screen_y - PEAK_BOX_HALF, x + PEAK_BOX_HALF, m.screen_y + PEAK_BOX_HALF,
                      PLOT_COLOR_PEAK_BOX);
    }
    font_select(LABEL_FONT);
    const i32 right_edge = pv->plot_left + pv->plot_width;
    u32 placed[PLOT_SLOTS];
    u32 placed_count = 0;
    for (u32 k = PLOT_CURSOR_SLOTS; k < end; ++k) {
        PlotSlot& m = pv->slots[k];
        if (!shown[k] || m.label[0] == 0) continue;
        const i32 x = m.screen_x + f.offset;
        const i32 w = text_width(m.label) + MARKER_BOX_PAD;
        i32 left = x - w / 2, right = x + w / 2;
        if (left <= pv->plot_left) {
            right += pv->plot_left + 1 - left;
            left = pv->plot_left + 1;
        } else if (right >= right_edge) {
            left -= right - (right_edge - 1);
            right = right_edge - 1;
        }
        m.box_left = left;
        m.box_right = right;
        m.box_top = f.g.top + 1;
        m.box_bottom = m.box_top + font_height + 1;
        for (u32 j = 0; j < placed_count;) {
            if (boxes_touch(m, pv->slots[placed[j]])) {
                m.box_top += PLOT_MARKER_STACK;
                m.box_bottom += PLOT_MARKER_STACK;
                j = 0;
            } else {
                ++j;
            }
        }
        placed[placed_count++] = k;
        if (m.box_top >= f.g.top && m.box_bottom <= f.g.bottom)
            outlined_text(m.box_left + MARKER_TEXT_INSET, m.box_top + 1, m.label, 0, PLOT_COLOR_MARKER,
                          PLOT_COLOR_READOUT_OUTLINE);
    }
}

void draw_cursor(const Frame& f)
{
    const PlotView* pv = f.pv;
    const PlotSlot& c = pv->slots[pv->kind];
    if (c.screen_x >= 0) {
        fg_color = PLOT_COLOR_CURSOR;
        draw_dashed_vline(c.screen_x + f.offset, f.g.top, f.g.bottom);
        if (c.screen_y >= 0) draw_dashed_hline(pv->plot_left, pv->x1, c.screen_y);
    }
    if (c.index < 0) return;
    font_select(LABEL_FONT);
    i32 y = c.screen_y - READOUT_ABOVE;
    if (c.screen_y < pv->y0 + READOUT_TOP)
        y = pv->y0 + READOUT_TOP;
    else if (c.screen_y > pv->y1 - READOUT_BOTTOM)
        y = pv->y1 - READOUT_BOTTOM;
    char line[64];
    format_sig(static_cast<float>(c.index) * f.rec->dx + f.rec->x0, f.spectrum ? 4 : 5, line);
    std::strcat(line, unit_of_kind(pv->kind));
    outlined_text(pv->x1 - READOUT_RIGHT, y, line, TF_RIGHT, PLOT_COLOR_UNIT, PLOT_COLOR_READOUT_OUTLINE);
    if (is_db_kind(pv->kind)) {
        format_sig(to_db(c.amplitude), 3, line);
        std::strcat(line, "dB");
    } else {
        format_sig(c.amplitude, 5, line);
        std::strcat(line, unit_of_quantity(static_cast<int>(f.rec->quantity)));
    }
    outlined_text(pv->x1 - READOUT_RIGHT, y + READOUT_LINE, line, TF_RIGHT, PLOT_COLOR_UNIT,
                  PLOT_COLOR_READOUT_OUTLINE);
}

void zoom_to(PlotView* pv, i32 w)
{
    PlotSlot* c = cursor_slot(pv);
    SignalRecord* rec = plot_record(pv);
    if (pv->data_start < 0 || pv->data_end < 0) {
        if (!rec) return;
        pv->data_start = 0;
        pv->data_end = usable_count(rec);
    }
    w = std::min(std::max(w, PLOT_MIN_ZOOM), pv->data_end - pv->data_start);
    if (w <= 0) return;
    i32 start = c->index - w / 2;
    if (start < pv->data_start)
        start = pv->data_start;
    else if (start + w > pv->data_end)
        start = pv->data_end - w;
    pv->view_start[pv->kind] = start;
    pv->view_end[pv->kind] = start + w;
    // A cursor moved by keys since the last drawing keeps its place.
    if (c->moved && rec) c->freq = static_cast<float>(c->index) * rec->dx + rec->x0;
    c->recompute = 1;
    c->moved = 0;
    pv->dirty = 1;
}

}  // namespace

int plot_is_spectrum(u32 kind)
{
    return kind == KIND_S || kind == KIND_B;
}

void plot_init(PlotView* pv, i32 x0, i32 y0, i32 x1, i32 y1)
{
    std::memset(pv, 0, sizeof *pv);
    pv->labels_on = 1;
    plot_set_rect(pv, x0, y0, x1, y1);
    for (PlotSlot& s : pv->slots) clear_slot(&s);
    for (u32 k = 0; k < PLOT_CURSOR_SLOTS; ++k) pv->slots[k].multiplier = 1.0f;
    pv->label_threshold = PLOT_LABEL_THRESHOLD;
    plot_reset_ranges(pv);
    pv->group = -1;
    pv->min_scale = 0;
    pv->seen_stamp = pv->seen_tick = 0;
    plot_reset_markers(pv);
    pv->kind = 0;
    pv->quantity = 0;
}

void plot_set_rect(PlotView* pv, i32 x0, i32 y0, i32 x1, i32 y1)
{
    pv->x0 = x0;
    pv->y0 = y0;
    pv->x1 = x1;
    pv->y1 = y1;
    const bool wide = x1 - x0 >= PLOT_WIDE_FROM;
    pv->plot_left = x0 + (wide ? PLOT_LABEL_COLUMN_WIDE : PLOT_LABEL_COLUMN);
    pv->plot_width = x1 - pv->plot_left;
    pv->font_scale = wide ? 2 : 1;
    pv->dirty = 1;
}

void plot_reset_ranges(PlotView* pv)
{
    for (u32 k = 0; k < PLOT_KINDS; ++k) pv->view_start[k] = pv->view_end[k] = -1;
    pv->data_start = pv->data_end = -1;
    pv->dirty = 1;
}

void plot_set_group(PlotView* pv, i32 group)
{
    if (pv->group == group) return;
    pv->group = group;
    pv->data_start = pv->data_end = -1;
    pv->y_scale = 0;
    if (PlotSlot* c = cursor_slot(pv)) {
        c->recompute = 1;
        c->moved = 0;
    }
    pv->dirty = 1;
}

void plot_set_source(PlotView* pv, u32 kind, u32 quantity)
{
    if (pv->kind == kind && pv->quantity == quantity) return;
    if (pv->kind != kind) pv->data_start = pv->data_end = -1;
    pv->kind = kind;
    pv->quantity = quantity;
    pv->y_scale = 0;
    if (PlotSlot* c = cursor_slot(pv)) {
        c->recompute = 1;
        c->moved = 0;
    }
    pv->dirty = 1;
}

void plot_set_min_scale(PlotView* pv, float v)
{
    pv->min_scale = v;
    pv->dirty = 1;
}

void plot_reset_markers(PlotView* pv)
{
    pv->slot_count = PLOT_CURSOR_SLOTS;
    for (u32 k = PLOT_CURSOR_SLOTS; k < PLOT_SLOTS; ++k) {
        PlotSlot& s = pv->slots[k];
        s.freq = 0;
        s.recompute = 1;
        s.moved = 0;
    }
    pv->dirty = 1;
}

void plot_add_marker(PlotView* pv, float multiplier, const char* label)
{
    if (pv->slot_count >= PLOT_SLOTS) return;
    PlotSlot& s = pv->slots[pv->slot_count++];
    s.multiplier = multiplier;
    std::snprintf(s.label, sizeof s.label, "%s", label ? label : "");
}

void plot_set_cursor_freq(PlotView* pv, float f)
{
    for (u32 k : {KIND_S, KIND_B}) {
        PlotSlot& s = pv->slots[k];
        s.recompute = 1;
        s.moved = 0;
        if (f > 0) s.freq = f;
    }
    pv->dirty = 1;
}

float plot_cursor_freq(const PlotView* pv)
{
    return pv->slots[KIND_S].freq;
}

float plot_cursor_x(const PlotView* pv)
{
    if (pv->kind >= PLOT_CURSOR_SLOTS) return -1.0f;
    const PlotSlot& c = pv->slots[pv->kind];
    if (!c.moved) return c.freq;
    const SignalRecord* rec = plot_record(pv);
    return rec ? static_cast<float>(c.index) * rec->dx + rec->x0 : c.freq;
}

float plot_find_peak(PlotView* pv)
{
    const SignalRecord* rec = plot_record(pv);
    if (!rec) return -1.0f;
    const i32 count = usable_count(rec);
    i32 start = pv->view_start[pv->kind], end = pv->view_end[pv->kind];
    if (start < 0 || end > count || start >= end) {
        start = 0;
        end = count;
    }
    if (start >= end) return -1.0f;
    i32 best = start;
    if (plot_is_spectrum(pv->kind)) {
        const SpectrumLines lines(pv, rec);
        float best_amplitude = lines.at(start);
        for (i32 b = start + 1; b < end; ++b) {
            const float a = lines.at(b);
            if (a > best_amplitude) {
                best_amplitude = a;
                best = b;
            }
        }
    } else {
        i64 best_abs = std::abs(static_cast<i64>(rec->data[start]));
        for (i32 i = start + 1; i < end; ++i) {
            const i64 a = std::abs(static_cast<i64>(rec->data[i]));
            if (a > best_abs) {
                best_abs = a;
                best = i;
            }
        }
    }
    return static_cast<float>(best) * rec->dx;
}

void plot_set_cursor(PlotView* pv, float x)
{
    PlotSlot* c = cursor_slot(pv);
    if (!c) return;
    if (x >= 0) c->freq = x;
    c->recompute = 1;
    c->moved = 0;
    pv->dirty = 1;
}

void plot_copy_cursors(PlotView* dst, const PlotView* src)
{
    for (u32 k = 0; k < PLOT_CURSOR_SLOTS; ++k) dst->slots[k] = src->slots[k];
    dst->dirty = 1;
}

void plot_show_labels(PlotView* pv, u8 on)
{
    if (pv->labels_on == on) return;
    pv->labels_on = on;
    pv->dirty = 1;
}

void plot_follow(PlotView* pv, const PlotView* src)
{
    if (pv->kind >= PLOT_KINDS) return;
    const u32 k = pv->kind == KIND_B ? KIND_S : pv->kind == KIND_E ? KIND_W : pv->kind;
    bool changed = false;
    if (pv->view_start[pv->kind] != src->view_start[k] || pv->view_end[pv->kind] != src->view_end[k]) {
        pv->view_start[pv->kind] = src->view_start[k];
        pv->view_end[pv->kind] = src->view_end[k];
        changed = true;
    }
    if (pv->data_start != src->data_start || pv->data_end != src->data_end) {
        pv->data_start = src->data_start;
        pv->data_end = src->data_end;
        changed = true;
    }
    PlotSlot& c = pv->slots[pv->kind];
    if (c.freq != src->slots[k].freq) {
        c.freq = src->slots[k].freq;
        c.recompute = 1;
        changed = true;
    }
    if (changed) pv->dirty = 1;
}

i32 plot_key_step(u32 key)
{
    const u32 repeats = (key >> KEY_REPEAT_SHIFT) & KEY_REPEAT_MAX;
    if (repeats < REPEAT_SLOW) return STEP_SLOW;
    if (repeats < REPEAT_MEDIUM) return STEP_MEDIUM;
    return STEP_FAST;
}

int plot_handle_key(PlotView* pv, u32 key)
{
    PlotSlot* c = cursor_slot(pv);
    if (!c) return 0;
    const u32 code = key & KEY_CODE_MASK;
    const i32 start = pv->view_start[pv->kind], end = pv->view_end[pv->kind];
    const bool has_view = start >= 0 && end > start;
    switch (code) {
    case KEY_LEFT:
    case KEY_RIGHT: {
        // Before the first drawing there is no view to move in.
        if (!has_view) return 1;
        const i32 step = plot_key_step(key);
        const i32 index = code == KEY_LEFT ? std::max(c->index - step, start) : std::min(c->index + step, end - 1);
        if (index != c->index) {
            c->index = index;
            c->moved = 1;
            pv->dirty = 1;
        }
        return 1;
    }
    case KEY_LEFT | KEY_SHIFT: zoom_to(pv, 2 * (end - start)); return 1;
    case KEY_RIGHT | KEY_SHIFT: zoom_to(pv, (end - start) / 2); return 1;
    default: return 0;
    }
}

void plot_invalidate(PlotView* pv)
{
    pv->dirty = 1;
}

PlotGeometry plot_geometry(const PlotView* pv)
{
    const i32 h = pv->labels_on ? pv->y1 - pv->y0 - 8 : pv->y1 - pv->y0 - 2;
    PlotGeometry g;
    g.half = h / 2 - 1;
    g.top = pv->y0;
    if (plot_is_spectrum(pv->kind)) {
        g.half *= 2;
        g.centre = g.bottom = pv->y0 + g.half + 2;
    } else {
        g.centre = pv->y0 + g.half + 1;
        g.bottom = pv->y0 + 2 * g.half + 2;
    }
    return g;
}

i32 plot_px(const PlotView* pv, i32 i)
{
    if (pv->kind >= PLOT_KINDS) return 0;
    const i32 start = pv->view_start[pv->kind], end = pv->view_end[pv->kind];
    const i64 span = plot_is_spectrum(pv->kind) ? end - start : end - start - 1;
    if (span <= 0) return 0;
    return static_cast<i32>(static_cast<i64>(i - start) * pv->plot_width / span);
}

i32 plot_half_bin(const PlotView* pv)
{
    if (!plot_is_spectrum(pv->kind)) return 0;
    const i32 span = pv->view_end[pv->kind] - pv->view_start[pv->kind];
    if (span <= 0) return 0;
    return round_half_away(static_cast<float>(pv->plot_width) * 0.5f / static_cast<float>(span));
}

SignalRecord* plot_record(const PlotView* pv)
{
    if (pv->kind >= PLOT_KINDS || pv->group < 0 || static_cast<u32>(pv->group) >= RESULT_GROUPS) return nullptr;
    if (pv->quantity >= RESULT_SLOTS) return nullptr;
    SignalRecord* rec = record_at(static_cast<u32>(pv->group), pv->kind, pv->quantity);
    if (rec->type == REC_EMPTY && !meas_get_record(static_cast<u32>(pv->group), pv->kind, pv->quantity, &rec))
        return nullptr;
    if (rec->type == REC_EMPTY || !rec->data) return nullptr;
    return rec;
}

void plot_draw(PlotView* pv)
{
    SignalRecord* rec = plot_record(pv);
    if (!rec) {
        plot_draw_empty(pv);
        return;
    }
    const bool spectrum = plot_is_spectrum(pv->kind);
    const i32 peak = std::max(rec->peak, 1);
    const float scale = rec->scale == 0 ? 1.0f : rec->scale;
    const float old_scale = pv->y_scale;
    auto_scale(pv, static_cast<float>(peak) * scale * (spectrum ? SQRT2 : 1.0f));
    if (!(pv->y_scale > 0)) pv->y_scale = 1.0f;
    const bool rescaled = pv->y_scale <= REDRAW_RATIO * std::fabs(old_scale - pv->y_scale);
    if (!pv->dirty && results.stamp == pv->seen_stamp && results.tick == pv->seen_tick && !rescaled) return;
    pv->seen_stamp = results.stamp;
    pv->seen_tick = results.tick;

    const i32 count = usable_count(rec);
    if (pv->data_start != 0 || pv->data_end != count) {
        pv->data_start = 0;
        pv->data_end = count;
    }
    i32& start = pv->view_start[pv->kind];
    i32& end = pv->view_end[pv->kind];
    const bool inside = end > start && start >= pv->data_start && end <= pv->data_end;
    if (pv->data_end > pv->data_start && !inside) {
        start = pv->data_start;
        end = pv->data_end;
    }
    // An empty record leaves nothing to show (and no view to read through).
    if (end <= start || start < pv->data_start || end > pv->data_end) return;

    DrawingState saved;
    Frame f{pv, rec, plot_geometry(pv), start, end, plot_half_bin(pv), scale, spectrum};

    // The trace first decides whether a point lifts the full scale, so the
    // grid is drawn once, on the final scale.
    Columns spectrum_cols;
    std::array<i64, LCD_WIDTH + 1> shock_cols;
    std::array<u8, LCD_WIDTH + 1> shock_used;
    if (spectrum)
        spectrum_columns(f, spectrum_cols);
    else if (pv->kind == KIND_E)
        shock_columns(f, shock_cols, shock_used);

    draw_frame(f);
    draw_unit(f);
    font_select(pv->font_scale == 2 ? AXIS_FONT_WIDE : AXIS_FONT_NARROW);
    draw_x_grid(f);
    draw_y_grid(f);
    draw_averaging(f);
    prepare_slots(f);
    if (spectrum) {
        draw_spectrum_trace(f, spectrum_cols);
        locate_spectrum_slots(f);
        draw_markers(f);
    } else {
        if (pv->kind == KIND_E)
            draw_shock_trace(f, shock_cols, shock_used);
        else
            draw_wave_trace(f);
        place_wave_cursor(f);
    }
    draw_cursor(f);
    pv->dirty = 0;
}

void plot_draw_empty(PlotView* pv)
{
    if (!pv->dirty && pv->seen_stamp == 0) return;
    pv->seen_stamp = 0;
    const PlotGeometry g = plot_geometry(pv);
    fill_rect(std::max(pv->x0 - 1, 0), pv->y0, pv->x1 + 1, pv->y1, PLOT_COLOR_FRAME);
    draw_rect(pv->plot_left, g.top, pv->x1 + 1, g.bottom, PLOT_COLOR_GRID);
    pv->dirty = 0;
}
