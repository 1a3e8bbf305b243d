// Plot view: geometry, index to pixel, full scale, redraw rule, grid labels,
// traces, cursor, markers, averaging count, keys and zoom.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "analysis/format.h"
#include "analysis/measures.h"
#include "analysis/shock.h"
#include "analysis/signal.h"
#include "base/cp1251.h"
#include "gfx/framebuffer.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/settings.h"
#include "screens/plot.h"
#include "tests/support/support.h"

namespace {

// The vibrometer's plot rectangle: label column 36 px, plot 230 px wide.
constexpr i32 X0 = 3, Y0 = 153, X1 = 269, Y1 = 211;
constexpr i32 LEFT = X0 + 36;
// Rows of that rectangle with labels: waveforms and spectra.
constexpr i32 WAVE_CENTRE = 178, WAVE_BOTTOM = 203, WAVE_HALF = 24;
constexpr i32 BASELINE = 203, SPEC_HALF = 48;

constexpr u32 LINES = 1601;     // spectrum of 4096 samples
constexpr float DX = 0.625f;    // Hz per line
constexpr float SCALE = 0.01f;  // physical units per raw unit

constexpr u32 TF_OUTLINED = TF_OUTLINE | TF_TRANSPARENT;

using Screen = std::vector<u16>;

Screen screen()
{
    return Screen(framebuffer, framebuffer + LCD_PIXELS);
}

u16 at(const Screen& px, int x, int y)
{
    return px[static_cast<size_t>(y * LCD_WIDTH + x)];
}

// True when drawing the text as the plot does, over the picture, changes no
// pixel: its glyph pixels and outline are there already.
bool shows_text(const Screen& px, i32 x, i32 y, const char* text, u8 font, u32 align, u16 fg, u16 outline)
{
    std::copy(px.begin(), px.end(), framebuffer);
    const u8 old_font = font_current;
    font_select(font);
    fg_color = fg;
    outline_color = outline;
    text_draw(x, y, text, align | TF_OUTLINED);
    const bool same = std::equal(px.begin(), px.end(), framebuffer);
    std::copy(px.begin(), px.end(), framebuffer);
    font_select(old_font);
    return same;
}

// Grid and unit labels: magenta in yellow; readout: blue in white.
bool shows_label(const Screen& px, i32 x, i32 y, const char* text, u32 align, u8 font = 1)
{
    return shows_text(px, x, y, text, font, align, PLOT_COLOR_LABEL, PLOT_COLOR_LABEL_OUTLINE);
}
bool shows_readout(const Screen& px, i32 x, i32 y, const char* text)
{
    return shows_text(px, x, y, text, 3, TF_RIGHT, PLOT_COLOR_UNIT, PLOT_COLOR_READOUT_OUTLINE);
}

int count_colour(const Screen& px, int x0, int y0, int x1, int y1, u16 colour)
{
    int n = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) n += at(px, x, y) == colour;
    return n;
}

// Rows of column x that hold the trace colour, as [first, last]; {-1, -1}
// when none.
std::pair<int, int> trace_rows(const Screen& px, int x, int y0, int y1)
{
    int first = -1, last = -1;
    for (int y = y0; y <= y1; ++y)
        if (at(px, x, y) == PLOT_COLOR_TRACE) {
            if (first < 0) first = y;
            last = y;
        }
    return {first, last};
}

class PlotTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        settings_defaults();
        settings.averaging_idx = 1;  // no averaging unless a test asks for it
        results_reset();
        avg_clear();
        results.group[1].active = 1;
        results.group[3].active = 1;
        results.stamp = 1000;
        results.tick = 50;
        bg_color = COLOR_BACKGROUND;
        lcd_clear();
    }

    void open(u32 kind, u32 quantity, i32 group = 1)
    {
        plot_init(&pv, X0, Y0, X1, Y1);
        plot_set_group(&pv, group);
        plot_set_source(&pv, kind, quantity);
    }

    static SignalRecord* put_wave(u32 group, u32 kind, u32 q, const std::vector<i32>& samples, float dt, float scale,
                                  i32 peak = -1)
    {
        SignalRecord* r = record_at(group, kind, q);
        const u32 n = static_cast<u32>(samples.size());
        r->type = REC_ACQUIRED;
        r->kind = kind;
        r->quantity = q;
        r->count = n;
        r->x0 = 0;
        r->dx = dt;
        r->x_last = static_cast<float>(n - 1) * dt;
        r->scale = scale;
        r->data_bytes = n * 4;
        i32 largest = 0;
        for (u32 i = 0; i < n; ++i) {
            r->data[i] = samples[i];
            largest = std::max(largest, std::abs(samples[i]));
        }
        r->peak = peak >= 0 ? peak : largest;
        return r;
    }

    // A spectrum with the given lines (re only), all others zero.
    static SignalRecord* put_spectrum(u32 group, u32 kind, u32 q, const std::vector<std::pair<u32, i32>>& lines,
                                      i32 peak = -1, float scale = SCALE, u32 count = LINES, float dx = DX)
    {
        SignalRecord* r = record_at(group, kind, q);
        r->type = REC_COMPUTED;
        r->kind = kind;
        r->quantity = q;
        r->count = count;
        r->x0 = 0;
        r->dx = dx;
        r->x_last = static_cast<float>(count - 1) * dx;
        r->scale = scale;
        r->data_bytes = count * 8;
        std::fill(r->data, r->data + 2 * count, 0);
        i32 largest = 0;
        for (const auto& [line, re] : lines) {
            r->data[2 * line] = re;
            largest = std::max(largest, std::abs(re));
        }
        r->peak = peak >= 0 ? peak : largest;
        return r;
    }

    static std::vector<i32> single(u32 n, u32 at_index, i32 value)
    {
        std::vector<i32> s(n, 0);
        s[at_index] = value;
        return s;
    }

    VirtualHostScope scope;
    PlotView pv{};
};

TEST(PlotGeometry, LabelColumnAndAxisFontFollowTheWidth)
{
    struct Case {
        i32 x0, x1, left, width, font;
    };
    const std::vector<Case> cases = {
        {0, 400, 36, 364, 1},                                                  // 400 px keeps the narrow layout
        {0, 401, 39, 362, 2},                                                  // 401 px switches to the wide one
        {10, 410, 46, 364, 1}, {10, 411, 49, 362, 2}, {X0, X1, LEFT, 230, 1},  // the vibrometer
    };
    for (const auto& c : cases) {
        PlotView pv;
        plot_init(&pv, c.x0, 20, c.x1, 100);
        EXPECT_EQ(pv.plot_left, c.left) << c.x1 - c.x0;
        EXPECT_EQ(pv.plot_width, c.width) << c.x1 - c.x0;
        EXPECT_EQ(pv.font_scale, c.font) << c.x1 - c.x0;
    }
}

TEST(PlotGeometry, RowsByKindAndLabels)
{
    struct Case {
        u32 kind;
        u8 labels;
        PlotGeometry want;
    };
    const std::vector<Case> cases = {
        {KIND_W, 1, {WAVE_HALF, Y0, WAVE_CENTRE, WAVE_BOTTOM}},
        {KIND_S, 1, {SPEC_HALF, Y0, BASELINE, BASELINE}},
        {KIND_E, 0, {27, Y0, 181, 209}},  // labels off: two rows of margin instead of eight
        {KIND_B, 0, {54, Y0, 209, 209}},
    };
    for (const auto& c : cases) {
        PlotView pv;
        plot_init(&pv, X0, Y0, X1, Y1);
        plot_set_source(&pv, c.kind, Q_A);
        plot_show_labels(&pv, c.labels);
        const PlotGeometry g = plot_geometry(&pv);
        EXPECT_EQ(g.half, c.want.half) << c.kind;
        EXPECT_EQ(g.top, c.want.top) << c.kind;
        EXPECT_EQ(g.centre, c.want.centre) << c.kind;
        EXPECT_EQ(g.bottom, c.want.bottom) << c.kind;
    }
}

TEST(PlotGeometry, IndexToPixelAndHalfBinOffset)
{
    struct Case {
        u32 kind;
        i32 start, end, index, px, half_bin;
    };
    const std::vector<Case> cases = {
        {KIND_S, 0, 1601, 0, 0, 0},      {KIND_S, 0, 1601, 800, 114, 0},   // 800 * 230 / 1601 truncated
        {KIND_S, 0, 1601, 1600, 229, 0}, {KIND_S, 184, 216, 200, 115, 4},  // 32 bins: 7.19 px each, offset round(3.59)
        {KIND_S, 184, 216, 201, 122, 4}, {KIND_B, 0, 20, 5, 57, 6},        // offset round(5.75)
        {KIND_B, 0, 10, 5, 115, 12},                                       // offset round(11.5), halves away from zero
        {KIND_W, 0, 4096, 4095, 230, 0},  // waveforms: the last sample on the last column
        {KIND_W, 0, 4096, 2048, 115, 0}, {KIND_E, 100, 132, 116, 118, 0},  // 16 * 230 / 31
        {KIND_W, 100, 132, 99, -7, 0},                                     // before the view: negative
    };
    for (const auto& c : cases) {
        PlotView pv;
        plot_init(&pv, X0, Y0, X1, Y1);
        plot_set_source(&pv, c.kind, Q_A);
        pv.view_start[c.kind] = c.start;
        pv.view_end[c.kind] = c.end;
        EXPECT_EQ(plot_px(&pv, c.index), c.px) << c.kind << " " << c.start << ".." << c.end << " @" << c.index;
        EXPECT_EQ(plot_half_bin(&pv), c.half_bin) << c.kind << " " << c.start << ".." << c.end;
    }
}

TEST_F(PlotTest, SpectrumBinFillsItsColumnsAndTheCursorSitsHalfABinRight)
{
    put_spectrum(1, KIND_S, Q_A, {{200, 1000}});
    open(KIND_S, Q_A);
    plot_set_cursor_freq(&pv, 125.0f);  // bin 200
    plot_draw(&pv);
    // Zoom in to 32 bins around the cursor: [184, 216).
    for (int i = 0; i < 6; ++i) plot_handle_key(&pv, KEY_RIGHT | KEY_SHIFT);
    ASSERT_EQ(pv.view_start[KIND_S], 184);
    ASSERT_EQ(pv.view_end[KIND_S], 216);
    plot_draw(&pv);
    const Screen px = screen();

    // Full scale 20 (14.1 rounded up); the line (10) is 24 px high. Bin 200
    // covers columns 115..122 of the plot; row 189 is clear of grid and cursor dashes.
    EXPECT_FLOAT_EQ(pv.y_scale, 20.0f);
    for (int c = 110; c <= 127; ++c) {
        const bool in_bin = c >= 115 && c <= 122;
        EXPECT_EQ(at(px, LEFT + c, 189) == PLOT_COLOR_TRACE, in_bin) << c;
    }
    EXPECT_EQ(trace_rows(px, LEFT + 117, BASELINE - 30, BASELINE), std::make_pair(BASELINE - 24, BASELINE));

    // The cursor: red dashes (rows with bit 1 set) at 115 + offset 4, none at 115 itself.
    EXPECT_EQ(pv.slots[KIND_S].screen_x, LEFT + 115);
    EXPECT_EQ(at(px, LEFT + 119, 170), PLOT_COLOR_CURSOR);
    EXPECT_NE(at(px, LEFT + 119, 168), PLOT_COLOR_CURSOR);
    EXPECT_EQ(at(px, LEFT + 115, 170), PLOT_COLOR_AREA);
    // The horizontal dashes at the line's height.
    EXPECT_EQ(pv.slots[KIND_S].screen_y, BASELINE - 24);
    EXPECT_EQ(at(px, LEFT + 3, BASELINE - 24), PLOT_COLOR_CURSOR);
    EXPECT_NE(at(px, LEFT + 5, BASELINE - 24), PLOT_COLOR_CURSOR);

    // Readout: below y1 - 35 it stays at y1 - 35; x with 4 characters, amplitude with 5.
    EXPECT_TRUE(shows_readout(px, X1 - 2, Y1 - 35, "125Гц"_cp));
    EXPECT_TRUE(shows_readout(px, X1 - 2, Y1 - 35 + 12, "10м/сЅ"_cp));
    EXPECT_FALSE(shows_readout(px, X1 - 2, Y1 - 35 + 12, "20м/сЅ"_cp));
}

TEST_F(PlotTest, ColumnShowsItsLargestLineAndALineAboveFullScaleLiftsIt)
{
    // Lines 700 and 701 share column 100: the taller one is drawn.
    put_spectrum(1, KIND_S, Q_A, {{700, 500}, {701, 900}});
    open(KIND_S, Q_A);
    plot_draw(&pv);
    Screen px = screen();
    EXPECT_FLOAT_EQ(pv.y_scale, 20.0f);
    // (The cursor, on line 0, dashes the baseline.)
    const int h = static_cast<int>(std::lround(SPEC_HALF * 9.0 / 20.0));  // 22
    EXPECT_EQ(trace_rows(px, LEFT + 100, Y0, BASELINE - 1), std::make_pair(BASELINE - h, BASELINE - 1));

    // A record whose peak understates its lines: the full scale becomes 5 %
    // over the tallest column and the drawing is done again on it.
    SetUp();
    put_spectrum(1, KIND_S, Q_A, {{700, 500}, {701, 900}}, /*peak=*/100);
    open(KIND_S, Q_A);
    plot_draw(&pv);
    px = screen();
    EXPECT_FLOAT_EQ(pv.y_scale, 1.05f * 9.0f);
    EXPECT_EQ(trace_rows(px, LEFT + 100, Y0, BASELINE - 1), std::make_pair(BASELINE - 46, BASELINE - 1));
    EXPECT_TRUE(shows_label(px, LEFT - 1, BASELINE - 41 + 1 - 3, "8", TF_RIGHT)) << "grid drawn on the lifted scale";
}

TEST_F(PlotTest, AveragedSpectrumIsDrawnInsteadOfTheRecord)
{
    settings.averaging_idx = 2;  // 4 spectra
    SignalRecord* rec = put_spectrum(1, KIND_S, Q_A, {{700, 1000}});
    avg_push();
    avg_push();
    // The record now holds a weaker line; the average of the two pushed stays 10.
    rec->data[2 * 700] = 100;
    rec->peak = 100;
    open(KIND_S, Q_A);
    plot_draw(&pv);
    EXPECT_FLOAT_EQ(pv.y_scale, 1.05f * 10.0f);
    EXPECT_EQ(trace_rows(screen(), LEFT + 100, Y0, BASELINE).first, BASELINE - 46);
}

TEST_F(PlotTest, CursorMarkersAndPeakReadTheAveragedLinesThePlotDraws)
{
    // Two spectra averaged with a line of 10 at bin 700 (437.5 Hz); the
    // last single spectrum then holds 1 there and 5 at bin 300 (187.5 Hz),
    // which the averaged trace does not show.
    settings.averaging_idx = 2;  // 4 spectra
    SignalRecord* rec = put_spectrum(1, KIND_S, Q_A, {{700, 1000}});
    avg_push();
    avg_push();
    rec->data[2 * 700] = 100;
    rec->data[2 * 300] = 500;
    rec->peak = 500;
    open(KIND_S, Q_A);
    plot_add_marker(&pv, 2.0f, "2x");  // 437.5 Hz from a cursor at 218.75 Hz
    plot_draw(&pv);

    // The peak search finds the line drawn, and the cursor there reads it.
    const float peak = plot_find_peak(&pv);
    EXPECT_FLOAT_EQ(peak, 700 * DX);
    plot_set_cursor(&pv, peak);
    plot_draw(&pv);
    Screen px = screen();
    const PlotSlot& cursor = pv.slots[KIND_S];
    EXPECT_FLOAT_EQ(cursor.amplitude, 10.0f);
    // Its line at the top of the averaged trace (46 px, as the trace test shows).
    EXPECT_EQ(cursor.screen_y, BASELINE - 46);
    const i32 line_y = std::clamp(cursor.screen_y - 9, Y0 + 19, Y1 - 35);
    char x_text[32];
    format_sig(700 * DX, 4, x_text);
    std::strcat(x_text, "Гц"_cp);
    EXPECT_TRUE(shows_readout(px, X1 - 2, line_y, x_text)) << x_text;
    EXPECT_TRUE(shows_readout(px, X1 - 2, line_y + 12, "10м/сЅ"_cp));

    // A marker at twice the cursor reads the averaged line too.
    plot_set_cursor(&pv, 350 * DX);
    plot_draw(&pv);
    EXPECT_FLOAT_EQ(pv.slots[PLOT_CURSOR_SLOTS].amplitude, 10.0f);
    EXPECT_FLOAT_EQ(pv.slots[KIND_S].amplitude, 0.0f) << "nothing drawn at bin 350";
}

TEST_F(PlotTest, ShockPulseWaveformIsSymmetricBars)
{
    // 231 samples: sample i on column i.
    std::vector<i32> s(231, 0);
    s[100] = 800;
    s[101] = -400;
    put_wave(3, KIND_E, Q_A, s, 1e-4f, 1.0f);
    open(KIND_E, Q_A, 3);
    plot_draw(&pv);
    Screen px = screen();
    // 800 is 77.1 dB, rounded up to 78 dB.
    EXPECT_NEAR(to_db(pv.y_scale), 78.0f, 1e-3f);
    const i32 full = static_cast<i32>(std::lround(pv.y_scale));
    const int h800 = 800 * WAVE_HALF / full, h400 = 400 * WAVE_HALF / full;
    EXPECT_EQ(trace_rows(px, LEFT + 100, Y0, WAVE_BOTTOM), std::make_pair(WAVE_CENTRE - h800, WAVE_CENTRE + h800));
    EXPECT_EQ(trace_rows(px, LEFT + 101, Y0, WAVE_BOTTOM), std::make_pair(WAVE_CENTRE - h400, WAVE_CENTRE + h400));

    // A sample above the full scale (peak understated) lifts it 5 % over the sample.
    SetUp();
    s[101] = 2000;
    put_wave(3, KIND_E, Q_A, s, 1e-4f, 1.0f, /*peak=*/800);
    open(KIND_E, Q_A, 3);
    plot_draw(&pv);
    px = screen();
    EXPECT_FLOAT_EQ(pv.y_scale, 2100.0f);
    EXPECT_EQ(trace_rows(px, LEFT + 101, Y0, WAVE_BOTTOM), std::make_pair(WAVE_CENTRE - 22, WAVE_CENTRE + 22));
    EXPECT_EQ(trace_rows(px, LEFT + 100, Y0, WAVE_BOTTOM), std::make_pair(WAVE_CENTRE - 9, WAVE_CENTRE + 9));
}

TEST_F(PlotTest, WaveformPolylineCoversExactlyTheSegmentsThroughItsSamples)
{
    struct Case {
        u32 n;
        i32 peak;  // -1: the true peak; else understated (samples clipped at full scale)
    };
    for (const Case c : {Case{4096, -1}, Case{100, -1}, Case{1000, 3000}}) {
        SCOPED_TRACE(c.n);
        SetUp();
        std::vector<i32> s(c.n);
        for (u32 i = 0; i < c.n; ++i)
            s[i] = static_cast<i32>(6000 * std::sin(i * 0.05) + 2500 * std::sin(i * 1.7) + ((i * 7919) % 1500) - 750);
        put_wave(1, KIND_W, Q_A, s, 1.0f / 2560, 0.001f, c.peak);
        open(KIND_W, Q_A);
        pv.slots[KIND_W].freq = -1;  // no cursor over the trace
        pv.slots[KIND_W].index = -1;
        plot_draw(&pv);
        const Screen px = screen();

        // The same polyline drawn segment by segment on a blank screen.
        std::fill_n(framebuffer, LCD_PIXELS, PLOT_COLOR_AREA);
        const i64 full = std::lround(pv.y_scale / 0.001f);
        auto point = [&](u32 i) {
            const i64 h = std::clamp<i64>(static_cast<i64>(s[i]) * WAVE_HALF / full, -WAVE_HALF, WAVE_HALF);
            return std::make_pair(LEFT + plot_px(&pv, static_cast<i32>(i)), WAVE_CENTRE - static_cast<i32>(h));
        };
        for (u32 i = 1; i < c.n; ++i) {
            const auto [xa, ya] = point(i - 1);
            const auto [xb, yb] = point(i);
            draw_line_color(xa, ya, xb, yb, PLOT_COLOR_TRACE);
        }
        int differing = 0;
        for (int y = Y0; y <= WAVE_BOTTOM; ++y)
            for (int x = LEFT; x <= X1; ++x)
                differing += (at(px, x, y) == PLOT_COLOR_TRACE) != (framebuffer[y * LCD_WIDTH + x] == PLOT_COLOR_TRACE);
        EXPECT_EQ(differing, 0);
        EXPECT_GT(count_colour(px, LEFT, Y0, X1, WAVE_BOTTOM, PLOT_COLOR_TRACE), 200);
    }
}

TEST_F(PlotTest, FullScaleGrowsAtOnceAndShrinksByAFifthPerDrawing)
{
    open(KIND_W, Q_A);
    put_wave(1, KIND_W, Q_A, single(1024, 5, 12345), 1e-3f, 0.001f);
    plot_draw(&pv);
    EXPECT_FLOAT_EQ(pv.y_scale, 20.0f) << "12.345 rounded up to a nice value";
    put_wave(1, KIND_W, Q_A, single(1024, 5, 25000), 1e-3f, 0.001f);
    plot_draw(&pv);
    EXPECT_FLOAT_EQ(pv.y_scale, 30.0f) << "grows at once";

    // Peak 2: shrinks while more than three times the peak.
    put_wave(1, KIND_W, Q_A, single(1024, 5, 2000), 1e-3f, 0.001f);
    float want = 30.0f;
    for (int i = 0; i < 8; ++i) {
        want *= 0.8f;
        plot_draw(&pv);
        EXPECT_FLOAT_EQ(pv.y_scale, want) << i;
    }
    EXPECT_NEAR(want, 5.03f, 0.01f);
    plot_draw(&pv);
    EXPECT_FLOAT_EQ(pv.y_scale, want) << "5.03 / 3 is below 2: stays";
}

TEST_F(PlotTest, FullScaleByKindMinimumAndCorrectedRecords)
{
    struct Case {
        u32 kind;
        i32 peak;
        float scale;
        float min_scale;
        float want;
    };
    const std::vector<Case> cases = {
        {KIND_S, 700, 0.01f, 0, 10.0f},     // 7 x 1.414 = 9.9, rounded up
        {KIND_S, 1000, 0.01f, 0, 20.0f},    // 14.1
        {KIND_W, 100, 0.001f, 0, 0.1f},     // 0.1 stays
        {KIND_W, 100, 0.001f, 0.5f, 0.5f},  // the minimum
        {KIND_W, 0, 0, 0, 1.0f},            // peak 0 taken as 1, scale 0 as 1.0
        {KIND_W, 1, 3.5e-4f, 0, 4e-4f},
    };
    for (const auto& c : cases) {
        SetUp();
        if (plot_is_spectrum(c.kind))
            put_spectrum(1, c.kind, Q_A, {{50, c.peak}}, c.peak, c.scale);
        else
            put_wave(1, c.kind, Q_A, single(512, 3, c.peak), 1e-3f, c.scale);
        open(c.kind, Q_A);
        plot_set_min_scale(&pv, c.min_scale);
        plot_draw(&pv);
        EXPECT_FLOAT_EQ(pv.y_scale, c.want) << c.kind << " " << c.peak << " " << c.min_scale;
    }
}

TEST_F(PlotTest, DecibelKindsGetAWholeDbFullScaleThatStaysPut)
{
    struct Case {
        u32 kind;
        i32 peak;
        float scale;
        float min_scale;
        float want_db;
    };
    const std::vector<Case> cases = {
        {KIND_E, 1000, 0.5f, 0, 73.0f},     // 500: 72.99 dB
        {KIND_B, 1000, 0.5f, 0, 77.0f},     // 707 after the 1.414 of spectra: 76.005 dB
        {KIND_E, 10, 0.5f, 500.0f, 73.0f},  // the minimum, rounded up too
        {KIND_B, 3, 0.5f, 100.0f, 60.0f},   // 100 is 59.02 dB
    };
    for (const auto& c : cases) {
        SetUp();
        if (plot_is_spectrum(c.kind))
            put_spectrum(3, c.kind, Q_A, {{50, c.peak}}, c.peak, c.scale);
        else
            put_wave(3, c.kind, Q_A, single(512, 3, c.peak), 1e-3f, c.scale);
        open(c.kind, Q_A, 3);
        plot_set_min_scale(&pv, c.min_scale);
        plot_draw(&pv);
        const float first = pv.y_scale;
        EXPECT_NEAR(to_db(first), c.want_db, 1e-3f) << c.kind << " " << c.peak;
        for (int i = 0; i < 10; ++i) plot_draw(&pv);
        EXPECT_EQ(pv.y_scale, first) << "no creep from drawing to drawing";
    }
}

TEST_F(PlotTest, RedrawsOnlyWhenDirtyNewResultsOrFivePercentScaleChange)
{
    put_wave(1, KIND_W, Q_A, single(1024, 5, 20000), 1e-3f, 0.001f);
    open(KIND_W, Q_A);
    plot_draw(&pv);
    ASSERT_EQ(pv.dirty, 0);
    ASSERT_FLOAT_EQ(pv.y_scale, 20.0f);
    constexpr i32 PX = LEFT + 150, PY = Y0 + 5;
    auto scribble = [] { put_pixel(PX, PY, COLOR_RED); };
    auto redrawn = [] { return framebuffer[PY * LCD_WIDTH + PX] != COLOR_RED; };

    scribble();
    plot_draw(&pv);
    EXPECT_FALSE(redrawn()) << "nothing changed";

    struct Step {
        const char* what;
        void (*change)(PlotView*);
        bool redraw;
    };
    const std::vector<Step> steps = {
        {"new tick", [](PlotView*) { ++results.tick; }, true},
        {"new stamp", [](PlotView*) { ++results.stamp; }, true},
        {"invalidated", [](PlotView* p) { plot_invalidate(p); }, true},
        {"4 % grow", [](PlotView* p) { p->y_scale = 19.2f; }, false},
        {"exactly 5 %", [](PlotView* p) { p->y_scale = 19.0f; }, true},
        {"unchanged", [](PlotView*) {}, false},
    };
    for (const auto& s : steps) {
        scribble();
        s.change(&pv);
        plot_draw(&pv);
        EXPECT_EQ(redrawn(), s.redraw) << s.what;
        EXPECT_FLOAT_EQ(pv.y_scale, 20.0f) << s.what;
        EXPECT_EQ(pv.seen_stamp, results.stamp);
        EXPECT_EQ(pv.seen_tick, results.tick);
    }
    // A 20 % shrink redraws by itself.
    put_wave(1, KIND_W, Q_A, single(1024, 5, 1000), 1e-3f, 0.001f);
    scribble();
    plot_draw(&pv);
    EXPECT_TRUE(redrawn());
    EXPECT_FLOAT_EQ(pv.y_scale, 16.0f);
}

TEST_F(PlotTest, AccelerationUnitEndsInTheSquareSign)
{
    // The unit label "м/сЅ" right-aligned on the label column: its last
    // cell holds font 3's 0xBD (the square sign) in the unit's blue, rows
    // 0 .. 4 only, and nothing of the letter Ѕ's lower rows.
    put_wave(1, KIND_W, Q_A, single(1024, 5, 20000), 1e-3f, 0.001f);
    open(KIND_W, Q_A);
    plot_draw(&pv);
    const Screen px = screen();
    const i32 cell_x = LEFT - 1 - 8, cell_y = WAVE_CENTRE - 4;
    font_select(3);
    int ink = 0;
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) {
            const bool set = (glyph_row(0xBD, r) & (0x80 >> c)) != 0;
            ink += set;
            if (set) {
                EXPECT_EQ(at(px, cell_x + c, cell_y + r), PLOT_COLOR_UNIT) << c << "," << r;
            }
            if (r >= 5) {
                EXPECT_NE(at(px, cell_x + c, cell_y + r), PLOT_COLOR_UNIT) << c << "," << r;
            }
        }
    EXPECT_GT(ink, 0);
}

TEST_F(PlotTest, WaveformGridLabelsBelowTheZeroLineCarryASignForKindZeroOnly)
{
    // Full scale 20: ticks 10 (12 px) and 20 (24 px), both far enough from the unit label.
    put_wave(1, KIND_W, Q_A, single(1024, 5, 20000), 1e-3f, 0.001f);
    open(KIND_W, Q_A);
    plot_draw(&pv);
    Screen px = screen();
    // Labels are centred one row below their line, in font 1 (6 rows).
    EXPECT_TRUE(shows_label(px, LEFT - 1, WAVE_CENTRE - 12 + 1 - 3, "10", TF_RIGHT));
    EXPECT_TRUE(shows_label(px, LEFT - 1, WAVE_CENTRE + 12 + 1 - 3, "-10", TF_RIGHT));
    // 20 sits at the edges: raised to top + 3, lowered to bottom - 3.
    EXPECT_TRUE(shows_label(px, LEFT - 1, Y0 + 3 + 1 - 3, "20", TF_RIGHT));
    EXPECT_TRUE(shows_label(px, LEFT - 1, WAVE_BOTTOM - 3 + 1 - 3, "-20", TF_RIGHT));
    // Grey dotted grid lines both ways, on even columns.
    EXPECT_EQ(at(px, LEFT + 11, WAVE_CENTRE - 12), PLOT_COLOR_GRID);
    EXPECT_EQ(at(px, LEFT + 11, WAVE_CENTRE + 12), PLOT_COLOR_GRID);
    EXPECT_EQ(at(px, LEFT + 12, WAVE_CENTRE + 12), PLOT_COLOR_AREA);
    // The unit, font 3, centred on the zero line.
    EXPECT_TRUE(
        shows_text(px, LEFT - 1, WAVE_CENTRE - 4, "м/сЅ"_cp, 3, TF_RIGHT, PLOT_COLOR_UNIT, PLOT_COLOR_LABEL_OUTLINE));

    // The shock-pulse waveform: full scale 73 dB, one tick at the edge, the
    // same dB text above and below.
    SetUp();
    put_wave(3, KIND_E, Q_A, single(1024, 5, 1000), 1e-3f, 0.5f);
    open(KIND_E, Q_A, 3);
    plot_draw(&pv);
    px = screen();
    EXPECT_TRUE(shows_label(px, LEFT - 1, Y0 + 3 + 1 - 3, "73", TF_RIGHT));
    EXPECT_TRUE(shows_label(px, LEFT - 1, WAVE_BOTTOM - 3 + 1 - 3, "73", TF_RIGHT));
    EXPECT_FALSE(shows_label(px, LEFT - 1, WAVE_BOTTOM - 3 + 1 - 3, "-73", TF_RIGHT));
    EXPECT_TRUE(
        shows_text(px, LEFT - 1, WAVE_CENTRE - 4, "dB", 3, TF_RIGHT, PLOT_COLOR_UNIT, PLOT_COLOR_LABEL_OUTLINE));
}

TEST_F(PlotTest, YLabelsKeepClearOfTheUnitAndOfEachOther)
{
    // Full scale 21.8: tick 10 lands 11 px from the zero line, one short of
    // the 12 px a label needs (font 1: 6 / 2 + 8 = 11 is not enough).
    put_wave(1, KIND_W, Q_A, single(1024, 5, 1000), 1e-3f, 0.001f);
    open(KIND_W, Q_A);
    plot_set_min_scale(&pv, 21.8f);
    plot_draw(&pv);
    Screen px = screen();
    EXPECT_EQ(at(px, LEFT + 11, WAVE_CENTRE - 11), PLOT_COLOR_GRID);
    EXPECT_FALSE(shows_label(px, LEFT - 1, WAVE_CENTRE - 11 + 1 - 3, "10", TF_RIGHT));
    EXPECT_EQ(count_colour(px, X0, WAVE_CENTRE - 16, LEFT - 1, WAVE_CENTRE - 5, PLOT_COLOR_LABEL), 0);
    EXPECT_TRUE(shows_label(px, LEFT - 1, WAVE_CENTRE - 22 + 1 - 3, "20", TF_RIGHT));

    // Full scale 2.95: ticks 1, 2, 3 at 8, 16 and 24 px. The label of 3,
    // raised to the top, would come within 6 px of the label of 2: its lines
    // are drawn, its labels are not, and the grid ends there.
    open(KIND_W, Q_A);
    plot_set_min_scale(&pv, 2.95f);
    lcd_clear();
    plot_draw(&pv);
    px = screen();
    EXPECT_TRUE(shows_label(px, LEFT - 1, WAVE_CENTRE - 16 + 1 - 3, "2", TF_RIGHT));
    EXPECT_TRUE(shows_label(px, LEFT - 1, WAVE_CENTRE + 16 + 1 - 3, "-2", TF_RIGHT));
    EXPECT_EQ(at(px, LEFT + 11, WAVE_CENTRE - 24), PLOT_COLOR_GRID);
    EXPECT_EQ(at(px, LEFT + 11, WAVE_CENTRE + 24), PLOT_COLOR_GRID);
    EXPECT_EQ(count_colour(px, X0, Y0, LEFT - 1, Y0 + 6, PLOT_COLOR_LABEL), 0) << "no label 3";
    EXPECT_EQ(count_colour(px, X0, WAVE_BOTTOM - 5, LEFT - 1, WAVE_BOTTOM + 1, PLOT_COLOR_LABEL), 0) << "no -3";
}

TEST_F(PlotTest, DecibelFullScaleBelowTheScaleFloorIsKept)
{
    // 0.15 lies below the lowest level the dB scale knows (0.2 is 0 dB):
    // rounding it "up" to 0 dB would give 0.112, under the signal, and the
    // full scale would jump between the two at every drawing.
    put_wave(3, KIND_E, Q_A, single(512, 3, 15), 1e-3f, 0.01f);
    open(KIND_E, Q_A, 3);
    plot_draw(&pv);
    EXPECT_FLOAT_EQ(pv.y_scale, 0.15f);
    put_pixel(LEFT + 150, Y0 + 5, COLOR_RED);
    plot_draw(&pv);
    EXPECT_FLOAT_EQ(pv.y_scale, 0.15f);
    EXPECT_EQ(at(screen(), LEFT + 150, Y0 + 5), COLOR_RED) << "no redraw";
}

TEST_F(PlotTest, XLabelsCentreOnTheirLinesAndStayInsideThePlot)
{
    // 0 .. 1 s: ticks every 0.2 s.
    put_wave(1, KIND_W, Q_A, single(4096, 5, 20000), 1.0f / 4095, 0.001f);
    open(KIND_W, Q_A);
    plot_draw(&pv);
    const Screen px = screen();
    EXPECT_TRUE(shows_label(px, LEFT, Y1 - 6, "0", 0)) << "would stick out left: starts at plot_left";
    EXPECT_TRUE(shows_label(px, LEFT + 92, Y1 - 6, "0.4", TF_HCENTER));
    EXPECT_TRUE(shows_label(px, LEFT + 230, Y1 - 6, "1", TF_RIGHT)) << "would stick out right: ends at the edge";
    EXPECT_EQ(at(px, LEFT + 92, Y0 + 1), PLOT_COLOR_GRID);
    EXPECT_EQ(at(px, LEFT + 92, Y0 + 2), PLOT_COLOR_AREA) << "dotted";
}

TEST_F(PlotTest, CursorBeyondTheLastLineLandsOnIt)
{
    put_spectrum(1, KIND_S, Q_A, {{200, 1000}});
    open(KIND_S, Q_A);
    plot_set_cursor_freq(&pv, 5000.0f);
    plot_draw(&pv);
    EXPECT_EQ(pv.slots[KIND_S].index, static_cast<i32>(LINES - 1));
    EXPECT_FLOAT_EQ(pv.slots[KIND_S].freq, (LINES - 1) * DX);
    EXPECT_EQ(pv.slots[KIND_S].screen_x, LEFT + 229);
    const Screen px = screen();
    EXPECT_TRUE(shows_readout(px, X1 - 2, Y1 - 35, "1000Гц"_cp));
    EXPECT_TRUE(shows_readout(px, X1 - 2, Y1 - 23, "0м/сЅ"_cp));
    EXPECT_FLOAT_EQ(plot_cursor_freq(&pv), 1000.0f);
}

TEST_F(PlotTest, ReadoutFollowsTheCursorHeightWithinItsBand)
{
    // Waveform cursors: screen_y = centre - raw * half / F; the readout is 9 px above,
    // kept between y0 + 19 and y1 - 35.
    struct Case {
        i32 raw;
        i32 line_y;
    };
    const std::vector<Case> cases = {
        {20000, Y0 + 19},             // at the top
        {-20000, Y1 - 35},            // at the bottom
        {2500, WAVE_CENTRE - 3 - 9},  // 2500 * 24 / 20000 = 3
    };
    for (const auto& c : cases) {
        SetUp();
        std::vector<i32> s(1024, 0);
        s[0] = 20000;
        s[512] = c.raw;
        put_wave(1, KIND_W, Q_A, s, 1e-3f, 0.001f);
        open(KIND_W, Q_A);
        plot_set_cursor(&pv, 0.512f);
        plot_draw(&pv);
        ASSERT_EQ(pv.slots[KIND_W].index, 512);
        EXPECT_EQ(pv.slots[KIND_W].screen_x, LEFT + plot_px(&pv, 512));
        EXPECT_FLOAT_EQ(pv.slots[KIND_W].amplitude, c.raw * 0.001f);
        const Screen px = screen();
        char amp[32];
        std::snprintf(amp, sizeof amp, "%g%s", c.raw * 0.001, "м/сЅ"_cp);
        EXPECT_TRUE(shows_readout(px, X1 - 2, c.line_y, "0.512с"_cp)) << c.raw;
        EXPECT_TRUE(shows_readout(px, X1 - 2, c.line_y + 12, amp)) << c.raw << " " << amp;
    }
}

TEST_F(PlotTest, AveragingCountShowsOnlyForSpectraWithATargetAboveOne)
{
    put_spectrum(1, KIND_S, Q_A, {{200, 1000}});
    auto count_shown = [&](const char* text) {
        return shows_text(screen(), X0, Y1 - 6, text, 1, 0, PLOT_COLOR_UNIT, PLOT_COLOR_LABEL_OUTLINE);
    };
    // Below the unit label's outline the corner is plain frame.
    auto corner_blank = [&] { return count_colour(screen(), X0 - 1, Y1 - 6, X0 + 20, Y1, PLOT_COLOR_FRAME) == 22 * 7; };
    // The same plot drawn again without averaging.
    auto same_without_averaging = [&] {
        const Screen with = screen();
        const u32 idx = settings.averaging_idx;
        settings.averaging_idx = 1;
        lcd_clear();
        plot_invalidate(&pv);
        plot_draw(&pv);
        settings.averaging_idx = idx;
        return screen() == with;
    };

    open(KIND_S, Q_A);
    plot_draw(&pv);
    EXPECT_TRUE(corner_blank()) << "target 1: no count";

    settings.averaging_idx = 2;  // target 4
    avg_push();
    avg_push();
    open(KIND_S, Q_A);
    plot_draw(&pv);
    EXPECT_TRUE(count_shown("2/4"));
    EXPECT_FALSE(count_shown("1/4"));

    for (int i = 0; i < 5; ++i) avg_push();
    plot_invalidate(&pv);
    plot_draw(&pv);
    EXPECT_TRUE(count_shown("4/4")) << "never above the target";

    settings.averaging_idx = 6;  // unlimited
    avg_clear();
    for (int i = 0; i < 12; ++i) avg_push();
    plot_invalidate(&pv);
    plot_draw(&pv);
    EXPECT_TRUE(count_shown("12/999"));

    EXPECT_FALSE(same_without_averaging());

    plot_show_labels(&pv, 0);
    lcd_clear();
    plot_draw(&pv);
    EXPECT_TRUE(same_without_averaging()) << "labels off";

    put_wave(1, KIND_W, Q_A, single(1024, 5, 20000), 1e-3f, 0.001f);
    open(KIND_W, Q_A);
    lcd_clear();
    plot_draw(&pv);
    EXPECT_TRUE(corner_blank()) << "waveform";
    EXPECT_TRUE(same_without_averaging()) << "waveform";
}

TEST_F(PlotTest, OverlappingMarkerLabelsStackElevenPixelsApart)
{
    // A weak line under the cursor keeps its horizontal dashes below the labels.
    put_spectrum(1, KIND_S, Q_A, {{100, 100}, {200, 1000}, {202, 1000}, {204, 1000}, {206, 1000}, {208, 1000}});
    open(KIND_S, Q_A);
    const char* labels[5] = {"A", "B", "C", "D", "E"};
    for (int i = 0; i < 5; ++i) plot_add_marker(&pv, 2.0f + 0.02f * static_cast<float>(i), labels[i]);
    plot_set_cursor_freq(&pv, 100 * DX);
    plot_draw(&pv);
    const Screen px = screen();

    ASSERT_EQ(pv.slot_count, 9u);
    EXPECT_EQ(pv.slots[4].index, 200);
    EXPECT_EQ(pv.slots[8].index, 208);
    // A at bin 200, column 28: box of 8 + 12 px centred there.
    EXPECT_EQ(pv.slots[4].box_left, LEFT + 28 - 10);
    EXPECT_EQ(pv.slots[4].box_right, LEFT + 28 + 10);
    for (int i = 0; i < 5; ++i) {
        const PlotSlot& m = pv.slots[4 + i];
        EXPECT_EQ(m.box_top, Y0 + 1 + 11 * i) << labels[i];
        EXPECT_EQ(m.box_bottom, m.box_top + 9) << labels[i];
        const bool inside = m.box_bottom <= BASELINE;
        EXPECT_EQ(inside, i < 4) << labels[i];
        EXPECT_EQ(shows_text(px, m.box_left + 6, m.box_top + 1, labels[i], 3, 0, PLOT_COLOR_MARKER,
                             PLOT_COLOR_READOUT_OUTLINE),
                  inside)
            << labels[i];
    }
    EXPECT_EQ(count_colour(px, LEFT, BASELINE + 1, X1, Y1, PLOT_COLOR_MARKER), 0) << "E is not drawn below";
    EXPECT_GT(count_colour(px, LEFT + 28, Y0, LEFT + 29, BASELINE, PLOT_COLOR_MARKER), 10) << "dotted lines";
}

TEST_F(PlotTest, MarkerBoxesMoveInsideTheEdgesAndWeakMarkersStayHidden)
{
    put_spectrum(1, KIND_S, Q_A, {{100, 1000}, {10, 1000}, {1590, 200}, {300, 40}});
    open(KIND_S, Q_A);
    plot_add_marker(&pv, 0.1f, "L");   // bin 10, column 1
    plot_add_marker(&pv, 15.9f, "R");  // bin 1590, column 228
    plot_add_marker(&pv, 3.0f, "W");   // bin 300: 0.4, below 5 % of 20
    plot_set_cursor_freq(&pv, 100 * DX);
    plot_draw(&pv);
    const Screen px = screen();
    EXPECT_EQ(pv.slots[4].box_left, LEFT + 1);
    EXPECT_EQ(pv.slots[4].box_right, LEFT + 21);
    EXPECT_EQ(pv.slots[5].box_right, X1 - 1);
    EXPECT_EQ(pv.slots[5].box_left, X1 - 21);
    EXPECT_EQ(pv.slots[4].box_top, Y0 + 1);
    EXPECT_EQ(pv.slots[5].box_top, Y0 + 1);
    EXPECT_TRUE(shows_text(px, LEFT + 7, Y0 + 2, "L", 3, 0, PLOT_COLOR_MARKER, PLOT_COLOR_READOUT_OUTLINE));
    EXPECT_TRUE(shows_text(px, X1 - 15, Y0 + 2, "R", 3, 0, PLOT_COLOR_MARKER, PLOT_COLOR_READOUT_OUTLINE));
    // Peak boxes only where the point is 2 px inside: R (267, 198) has one,
    // L (40, 179) is too close to the left edge.
    EXPECT_EQ(pv.slots[5].screen_y, BASELINE - 5);
    EXPECT_EQ(at(px, LEFT + 228, BASELINE - 3), PLOT_COLOR_PEAK_BOX);
    EXPECT_EQ(at(px, LEFT + 226, BASELINE - 5), PLOT_COLOR_PEAK_BOX);
    EXPECT_EQ(count_colour(px, LEFT, Y0, LEFT + 5, BASELINE, PLOT_COLOR_PEAK_BOX), 0);
    // The weak marker is located but not shown.
    const i32 wx = pv.slots[6].screen_x;
    ASSERT_GE(wx, 0);
    EXPECT_EQ(count_colour(px, wx, Y0, wx, BASELINE, PLOT_COLOR_MARKER), 0);
    EXPECT_EQ(pv.slots[6].box_top, 0);

    // With the cursor on line 0 no marker is located.
    plot_set_cursor(&pv, 0);
    plot_draw(&pv);
    for (u32 k = 4; k < 7; ++k) EXPECT_EQ(pv.slots[k].screen_x, -1) << k;
}

TEST_F(PlotTest, KeysMoveTheCursorByTheRepeatCountWithinTheView)
{
    struct StepCase {
        u32 key;
        i32 step;
    };
    for (const auto& c : std::vector<StepCase>{{KEY_LEFT, 1},
                                               {KEY_LEFT | 64u << 16, 1},
                                               {KEY_LEFT | 65u << 16, 10},
                                               {KEY_LEFT | 160u << 16, 10},
                                               {KEY_LEFT | 161u << 16, 50},
                                               {KEY_LEFT | 0x7FFFu << 16, 50},
                                               {KEY_LEFT | 0x80000000u | 64u << 16, 1}})  // bit 31 is no count
        EXPECT_EQ(plot_key_step(c.key), c.step) << std::hex << c.key;

    put_wave(1, KIND_W, Q_A, single(4096, 5, 20000), 1e-3f, 0.001f);
    open(KIND_W, Q_A);
    plot_draw(&pv);
    ASSERT_EQ(pv.slots[KIND_W].index, 0);
    struct Move {
        u32 key;
        i32 index;
    };
    const std::vector<Move> moves = {
        {KEY_RIGHT, 1},
        {KEY_RIGHT | 100u << 16, 11},
        {KEY_RIGHT | 200u << 16, 61},
        {KEY_LEFT | 200u << 16, 11},
        {KEY_LEFT | 200u << 16, 0},  // not below the view's start
    };
    for (const auto& m : moves) {
        pv.dirty = 0;
        EXPECT_EQ(plot_handle_key(&pv, m.key), 1);
        EXPECT_EQ(pv.slots[KIND_W].index, m.index) << std::hex << m.key;
        EXPECT_EQ(pv.slots[KIND_W].moved, 1);
        EXPECT_EQ(pv.dirty, 1);
    }
    pv.dirty = 0;
    pv.slots[KIND_W].moved = 0;
    plot_handle_key(&pv, KEY_LEFT);
    EXPECT_EQ(pv.dirty, 0) << "no change at the start";
    EXPECT_EQ(pv.slots[KIND_W].moved, 0);

    pv.slots[KIND_W].index = 4090;
    plot_handle_key(&pv, KEY_RIGHT | 200u << 16);
    EXPECT_EQ(pv.slots[KIND_W].index, 4095) << "not beyond the view's end";
    plot_draw(&pv);
    EXPECT_FLOAT_EQ(pv.slots[KIND_W].freq, 4095 * 1e-3f) << "the moved index sets the frequency";
    EXPECT_EQ(pv.slots[KIND_W].index, 4095);
    EXPECT_EQ(pv.slots[KIND_W].moved, 0);

    EXPECT_EQ(plot_handle_key(&pv, KEY_UP), 0);
    EXPECT_EQ(plot_handle_key(&pv, KEY_ENTER), 0);
}

TEST_F(PlotTest, ZoomStaysBetweenThirtyTwoPointsAndTheWholeRecord)
{
    put_spectrum(1, KIND_S, Q_A, {{800, 1000}});
    open(KIND_S, Q_A);
    plot_set_cursor_freq(&pv, 800 * DX);
    plot_draw(&pv);
    ASSERT_EQ(pv.slots[KIND_S].index, 800);
    auto view = [&] { return std::make_pair(pv.view_start[KIND_S], pv.view_end[KIND_S]); };
    using Range = std::pair<i32, i32>;
    const std::vector<Range> zoom_in = {{400, 1200}, {600, 1000}, {700, 900}, {750, 850},
                                        {775, 825},  {784, 816},  {784, 816}};
    for (const auto& want : zoom_in) {
        EXPECT_EQ(plot_handle_key(&pv, KEY_RIGHT | KEY_SHIFT | 300u << 16), 1);
        EXPECT_EQ(view(), want);
        EXPECT_EQ(pv.slots[KIND_S].recompute, 1);
    }
    const std::vector<Range> zoom_out = {{768, 832},  {736, 864}, {672, 928}, {544, 1056},
                                         {288, 1312}, {0, 1601},  {0, 1601}};
    for (const auto& want : zoom_out) {
        plot_handle_key(&pv, KEY_LEFT | KEY_SHIFT);
        EXPECT_EQ(view(), want);
    }

    // Near the ends the view keeps its width and stops at the record.
    plot_set_cursor_freq(&pv, 1595 * DX);
    plot_draw(&pv);
    for (int i = 0; i < 8; ++i) plot_handle_key(&pv, KEY_RIGHT | KEY_SHIFT);
    EXPECT_EQ(view(), Range(1569, 1601));
    plot_set_cursor_freq(&pv, 3 * DX);
    plot_draw(&pv);
    plot_handle_key(&pv, KEY_LEFT | KEY_SHIFT);
    EXPECT_EQ(view(), Range(0, 64));
    plot_draw(&pv);
    EXPECT_EQ(pv.slots[KIND_S].index, 3) << "zoom recentres on the cursor, the cursor stays";

    // A tiny record: the view never exceeds it.
    SetUp();
    put_spectrum(1, KIND_S, Q_A, {{10, 1000}}, -1, SCALE, 20);
    open(KIND_S, Q_A);
    plot_draw(&pv);
    plot_handle_key(&pv, KEY_RIGHT | KEY_SHIFT);
    EXPECT_EQ(view(), Range(0, 20));
}

TEST_F(PlotTest, ZoomBeforeDrawingTakesTheRecordAndKeepsAMovedCursor)
{
    // No record: nothing happens.
    open(KIND_S, Q_A);
    pv.dirty = 0;
    plot_handle_key(&pv, KEY_RIGHT | KEY_SHIFT);
    EXPECT_EQ(pv.view_start[KIND_S], -1);
    EXPECT_EQ(pv.data_end, -1);
    EXPECT_EQ(pv.dirty, 0);

    // With a record the data range comes from it first.
    put_spectrum(1, KIND_S, Q_A, {{800, 1000}});
    plot_handle_key(&pv, KEY_RIGHT | KEY_SHIFT);
    EXPECT_EQ(pv.data_start, 0);
    EXPECT_EQ(pv.data_end, static_cast<i32>(LINES));
    EXPECT_EQ(pv.view_start[KIND_S], 0);
    EXPECT_EQ(pv.view_end[KIND_S], 32);
    EXPECT_EQ(pv.dirty, 1);

    // Cursor keys and a zoom with no drawing between: the zoom centres on the
    // moved cursor and the cursor stays there.
    plot_set_cursor_freq(&pv, 800 * DX);
    plot_draw(&pv);
    plot_handle_key(&pv, KEY_LEFT | KEY_SHIFT);
    plot_handle_key(&pv, KEY_LEFT | KEY_SHIFT);
    for (int i = 0; i < 3; ++i) plot_handle_key(&pv, KEY_RIGHT | 100u << 16);
    ASSERT_EQ(pv.slots[KIND_S].index, 830);
    plot_handle_key(&pv, KEY_RIGHT | KEY_SHIFT);
    EXPECT_EQ(pv.view_start[KIND_S], 830 - 32);
    plot_draw(&pv);
    EXPECT_EQ(pv.slots[KIND_S].index, 830);
}

TEST_F(PlotTest, SpectrumIsDerivedOnDemand)
{
    std::vector<i32> s(4096);
    for (u32 i = 0; i < 4096; ++i) s[i] = static_cast<i32>(16000 * std::sin(2 * 3.14159265 * 80.0 * i / 2560.0));
    put_wave(1, KIND_W, Q_A, s, 1.0f / 2560, 0.001f);
    open(KIND_S, Q_V);
    plot_draw(&pv);
    EXPECT_NE(record_at(1, KIND_S, Q_A)->type, REC_EMPTY);
    EXPECT_EQ(record_at(1, KIND_S, Q_V)->type, REC_COMPUTED);
    EXPECT_EQ(pv.data_end, static_cast<i32>(LINES));
    EXPECT_GT(count_colour(screen(), LEFT, Y0, X1, BASELINE, PLOT_COLOR_TRACE), 10);
    EXPECT_TRUE(shows_text(screen(), LEFT - 1, BASELINE - 3 - 4, "мм/с"_cp, 3, TF_RIGHT, PLOT_COLOR_UNIT,
                           PLOT_COLOR_LABEL_OUTLINE));
    EXPECT_GT(plot_find_peak(&pv), 75.0f);
    EXPECT_LT(plot_find_peak(&pv), 85.0f);
}

TEST_F(PlotTest, WithoutARecordTheEmptyFrameIsDrawnOnce)
{
    open(KIND_S, Q_A);  // group 1 holds nothing
    plot_draw(&pv);
    Screen px = screen();
    EXPECT_EQ(at(px, X0 - 1, Y0), PLOT_COLOR_FRAME);
    EXPECT_EQ(at(px, X1 + 1, Y1), PLOT_COLOR_FRAME);
    EXPECT_EQ(at(px, LEFT, Y0), PLOT_COLOR_GRID);
    EXPECT_EQ(at(px, X1 + 1, BASELINE), PLOT_COLOR_GRID);
    EXPECT_EQ(at(px, LEFT + 1, Y0 + 1), PLOT_COLOR_FRAME);
    EXPECT_EQ(at(px, LEFT, BASELINE + 1), PLOT_COLOR_FRAME);
    EXPECT_EQ(pv.dirty, 0);
    put_pixel(LEFT + 5, Y0 + 5, COLOR_RED);
    plot_draw(&pv);
    EXPECT_EQ(at(screen(), LEFT + 5, Y0 + 5), COLOR_RED) << "drawn once";

    // A plot that showed a record draws the empty frame when it goes.
    put_spectrum(1, KIND_S, Q_A, {{200, 1000}});
    plot_draw(&pv);
    EXPECT_EQ(pv.seen_stamp, results.stamp);
    results_reset();
    plot_draw(&pv);
    EXPECT_EQ(at(screen(), LEFT + 5, Y0 + 5), PLOT_COLOR_FRAME);
    EXPECT_EQ(pv.seen_stamp, 0u);
}

TEST_F(PlotTest, FindPeakLooksInTheViewOnly)
{
    open(KIND_W, Q_A);
    EXPECT_FLOAT_EQ(plot_find_peak(&pv), -1.0f) << "no record";
    std::vector<i32> s(1024, 0);
    s[10] = -900;
    s[20] = 900;  // as large: the first wins
    s[600] = 500;
    put_wave(1, KIND_W, Q_A, s, 1e-3f, 0.001f);
    EXPECT_FLOAT_EQ(plot_find_peak(&pv), 10 * 1e-3f);
    pv.view_start[KIND_W] = 500;
    pv.view_end[KIND_W] = 700;
    EXPECT_FLOAT_EQ(plot_find_peak(&pv), 600 * 1e-3f);

    put_spectrum(1, KIND_S, Q_A, {{300, 700}, {301, -900}, {900, 800}});
    plot_set_source(&pv, KIND_S, Q_A);
    EXPECT_FLOAT_EQ(plot_find_peak(&pv), 301 * DX);
    plot_set_cursor(&pv, plot_find_peak(&pv));
    plot_draw(&pv);
    EXPECT_EQ(pv.slots[KIND_S].index, 301);
}

TEST_F(PlotTest, FollowerTakesTheMatchingKindsViewAndCursor)
{
    PlotView main_plot;
    plot_init(&main_plot, 2, 21, 317, 119);
    plot_set_source(&main_plot, KIND_S, Q_A);
    main_plot.view_start[KIND_S] = 184;
    main_plot.view_end[KIND_S] = 216;
    main_plot.view_start[KIND_W] = 10;
    main_plot.view_end[KIND_W] = 100;
    main_plot.data_start = 0;
    main_plot.data_end = LINES;
    main_plot.slots[KIND_S].freq = 125.0f;
    main_plot.slots[KIND_W].freq = 0.25f;

    struct Case {
        u32 kind;
        i32 start, end;
        float freq;
    };
    for (const auto& c : {Case{KIND_B, 184, 216, 125.0f}, Case{KIND_E, 10, 100, 0.25f}}) {
        PlotView follower;
        plot_init(&follower, 2, 121, 317, 215);
        plot_set_group(&follower, 3);
        plot_set_source(&follower, c.kind, Q_A);
        follower.slots[c.kind].recompute = 0;
        follower.dirty = 0;
        plot_follow(&follower, &main_plot);
        EXPECT_EQ(follower.view_start[c.kind], c.start);
        EXPECT_EQ(follower.view_end[c.kind], c.end);
        EXPECT_EQ(follower.data_end, static_cast<i32>(LINES));
        EXPECT_FLOAT_EQ(follower.slots[c.kind].freq, c.freq);
        EXPECT_EQ(follower.slots[c.kind].recompute, 1);
        EXPECT_EQ(follower.dirty, 1);
        follower.dirty = 0;
        plot_follow(&follower, &main_plot);
        EXPECT_EQ(follower.dirty, 0) << "nothing changed";
    }
}

TEST_F(PlotTest, SourceGroupAndSlotSettings)
{
    open(KIND_S, Q_A);
    pv.data_start = 0;
    pv.data_end = 100;
    pv.y_scale = 5;
    pv.slots[KIND_S].recompute = 0;
    pv.slots[KIND_S].moved = 1;
    pv.dirty = 0;
    plot_set_source(&pv, KIND_S, Q_V);  // same kind: the data range stays
    EXPECT_EQ(pv.data_end, 100);
    EXPECT_EQ(pv.y_scale, 0);
    EXPECT_EQ(pv.slots[KIND_S].recompute, 1);
    EXPECT_EQ(pv.slots[KIND_S].moved, 0);
    EXPECT_EQ(pv.dirty, 1);
    plot_set_source(&pv, KIND_W, Q_V);  // a new kind forgets it
    EXPECT_EQ(pv.data_end, -1);
    pv.dirty = 0;
    plot_set_source(&pv, KIND_W, Q_V);
    plot_set_group(&pv, 1);
    plot_show_labels(&pv, 1);
    EXPECT_EQ(pv.dirty, 0) << "no change, no redraw";

    plot_set_cursor_freq(&pv, 0);  // recompute, keep the frequency
    pv.slots[KIND_S].freq = 40;
    plot_set_cursor_freq(&pv, 0);
    EXPECT_FLOAT_EQ(pv.slots[KIND_S].freq, 40);
    plot_set_cursor_freq(&pv, 60);
    EXPECT_FLOAT_EQ(pv.slots[KIND_S].freq, 60);
    EXPECT_FLOAT_EQ(pv.slots[KIND_B].freq, 60);

    for (int i = 0; i < 20; ++i) plot_add_marker(&pv, 1.0f + i, "x");
    EXPECT_EQ(pv.slot_count, PLOT_SLOTS) << "16 markers at most";
    plot_reset_markers(&pv);
    EXPECT_EQ(pv.slot_count, PLOT_CURSOR_SLOTS);

    PlotView other;
    plot_init(&other, X0, Y0, X1, Y1);
    other.dirty = 0;
    plot_copy_cursors(&other, &pv);
    EXPECT_FLOAT_EQ(other.slots[KIND_B].freq, 60);
    EXPECT_EQ(other.dirty, 1);
}

}  // namespace
