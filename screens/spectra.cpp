#include "screens/spectra.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "analysis/meas_module.h"
#include "analysis/measures.h"
#include "analysis/signal.h"
#include "archive/mount.h"
#include "base/cp1251.h"
#include "gfx/dialog.h"
#include "gfx/frame.h"
#include "gfx/framebuffer.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/settings.h"
#include "screens/bearings.h"
#include "screens/meas_setup.h"
#include "screens/status.h"
#include "spectra_internal.h"

SpectraState spectra;

namespace {

// Requests of the screen: vibration, shock-pulse signal, temperature,
// processing, shock-pulse analysis and the marker channel.
constexpr u32 SPECTRA_REQUEST =
    REQ_VIBRATION | REQ_SHOCK | REQ_TEMPERATURE | REQ_PROCESS | REQ_SHOCK_ANALYSIS | REQ_MARKER;
static_assert(SPECTRA_REQUEST == 462);

// Channel groups of the three plots.
constexpr i32 MAIN_GROUP = 1, SHOCK_GROUP = 3, MARKER_GROUP = 0;

constexpr u32 KIND_COUNT = 2, QUANTITY_COUNT = 3;
constexpr u32 DEFAULT_KIND = KIND_S, DEFAULT_QUANTITY = Q_V;
constexpr u32 SENSOR_WITH_MARKER = 3;

// The plot area and the plots' rectangles by layout.
constexpr i32 AREA_X0 = 0, AREA_Y0 = 21, AREA_X1 = 319, AREA_Y1 = 215;
constexpr i32 PLOT_X0 = 2, PLOT_X1 = 317;
constexpr i32 MAIN_Y0 = 21, MAIN_Y1_ALONE = 215, MAIN_Y1 = 119;
constexpr i32 LOWER_Y0 = 121, LOWER_Y1 = 215;  // the one plot below the main plot
constexpr i32 SHOCK_Y1_OF_TWO = 167;           // layout 3: shock plot above the marker plot
constexpr i32 MARKER_Y0_OF_TWO = 169;

// Lowest full scales.
constexpr float MAIN_MIN_SCALE = 0.5f;
constexpr float SHOCK_MIN_SCALE_SPECTRUM = 100.0f, SHOCK_MIN_SCALE_SIGNAL = 500.0f;
constexpr float MARKER_MIN_SCALE = 0.01f;

// Averaging choices that stop acquisition once the target is reached, and
// the range of targets that can stop.
constexpr u32 AVG_IDX_NONE = 1, AVG_IDX_4_STOP = 3, AVG_IDX_10_STOP = 5;
constexpr u32 AVG_STOP_MIN = 2, AVG_STOP_LIMIT = 999;
constexpr u32 AUTO_RECORD_ON = 2;

// Soft-key slots.
constexpr i32 SLOT_ENTER = -1, SLOT_UP = -2, SLOT_DOWN = -3, SLOT_LEFT = -4, SLOT_RIGHT = -5;

// Room for section 2 of a saved record: the data of all four slots.
i32 g_save_data[MEAS_SPECTRA_DATA_CAPACITY / sizeof(i32)];

bool has_shock_plot(u32 layout)
{
    return (layout & SPECTRA_LAYOUT_SHOCK_BIT) != 0;
}
bool has_marker_plot(u32 layout)
{
    return (layout & SPECTRA_LAYOUT_MARKER_BIT) != 0;
}

u32 shock_kind(u32 view_kind)
{
    return view_kind == KIND_S ? KIND_B : KIND_E;
}

float shock_min_scale(u32 view_kind)
{
    return view_kind == KIND_S ? SHOCK_MIN_SCALE_SPECTRUM : SHOCK_MIN_SCALE_SIGNAL;
}

void restore_state()
{
    SpectraState& s = spectra;
    s.view_kind = settings.plot_mode >= KIND_COUNT ? DEFAULT_KIND : settings.plot_mode;
    s.view_quantity = settings.plot_quantity >= QUANTITY_COUNT ? DEFAULT_QUANTITY : settings.plot_quantity;
    s.view_layout = settings.plot_layout;
}

void store_state()
{
    const SpectraState& s = spectra;
    settings.plot_mode = s.view_kind;
    settings.plot_quantity = s.view_quantity;
    settings.plot_layout = s.view_layout;
    settings.plot_cursor_freq = plot_cursor_freq(&s.main);
}

void invalidate_plots()
{
    plot_invalidate(&spectra.main);
    plot_invalidate(&spectra.shock);
    plot_invalidate(&spectra.marker);
}

void clear_plot_area()
{
    fill_rect(AREA_X0, AREA_Y0, AREA_X1, AREA_Y1, COLOR_BACKGROUND);
}

// The soft keys of the run loop by `running` and `shown_valid`.
void show_run_keys()
{
    SpectraState& s = spectra;
    const u8 valid = s.shown_valid != 0;
    softbar_show(&s.keys, SLOT_ENTER, 1, valid);
    softbar_show(&s.keys, SLOT_LEFT, valid, valid);
    softbar_show(&s.keys, SLOT_RIGHT, valid, valid);
}

void set_enter_label()
{
    softbar_set(&spectra.keys, SLOT_ENTER, spectra.running ? "Стоп"_cp : "Пуск"_cp, "Зап"_cp);
    show_run_keys();
}

void set_running(bool on, bool save_on_stop)
{
    SpectraState& s = spectra;
    const bool auto_save = save_on_stop && results.valid != 0 && s.running && !on;
    s.running = on ? 1 : 0;
    meas_set_running(s.running);
    set_enter_label();
    invalidate_plots();
    if (on) return;
    busy_release();
    if (settings.autostart_idx == AUTO_RECORD_ON && auto_save && results.valid != 0)
        spectra_save(s.view_kind, s.view_quantity, s.view_layout, false);
}

// The markers of the chosen bearing's defect frequencies on the shock plot.
void add_bearing_markers(PlotView* pv)
{
    if (settings.bearing_name[0] == '\0') return;
    char name[sizeof settings.bearing_name + 1] = {};
    std::memcpy(name, settings.bearing_name, sizeof settings.bearing_name);
    const BearingRecord* b = bearing_at(bearing_find(name));
    if (!b) return;
    const float factors[4] = {b->ftf, b->bpfi, b->bpfo, b->bsf};
    static const char* const labels[4] = {"FTF", "BPFI", "BPFO", "BSF"};
    static const char* const doubles[4] = {"2FTF", "2BPFI", "2BPFO", "2BSF"};
    for (int i = 0; i < 4; ++i) plot_add_marker(pv, factors[i], labels[i]);
    for (int i = 0; i < 4; ++i) plot_add_marker(pv, 2.0f * factors[i], doubles[i]);
}

// Rectangles, sources, lowest scales and markers of the three plots.
void setup_plots()
{
    SpectraState& s = spectra;
    const u32 layout = s.view_layout;
    plot_set_rect(&s.main, PLOT_X0, MAIN_Y0, PLOT_X1, layout == SPECTRA_LAYOUT_MAIN ? MAIN_Y1_ALONE : MAIN_Y1);
    if (layout == SPECTRA_LAYOUT_ALL) {
        plot_set_rect(&s.shock, PLOT_X0, LOWER_Y0, PLOT_X1, SHOCK_Y1_OF_TWO);
        plot_set_rect(&s.marker, PLOT_X0, MARKER_Y0_OF_TWO, PLOT_X1, LOWER_Y1);
    } else {
        plot_set_rect(&s.shock, PLOT_X0, LOWER_Y0, PLOT_X1, LOWER_Y1);
        plot_set_rect(&s.marker, PLOT_X0, LOWER_Y0, PLOT_X1, LOWER_Y1);
    }

    plot_set_group(&s.main, MAIN_GROUP);
    plot_set_source(&s.main, s.view_kind, s.view_quantity);
    plot_set_min_scale(&s.main, MAIN_MIN_SCALE);
    plot_reset_markers(&s.main);
    plot_add_marker(&s.main, 2.0f, "2x");
    plot_add_marker(&s.main, 3.0f, "3x");

    plot_set_group(&s.shock, SHOCK_GROUP);
    plot_set_source(&s.shock, shock_kind(s.view_kind), Q_A);
    plot_set_min_scale(&s.shock, shock_min_scale(s.view_kind));
    plot_show_labels(&s.shock, 0);
    plot_reset_markers(&s.shock);
    add_bearing_markers(&s.shock);

    plot_set_group(&s.marker, MARKER_GROUP);
    plot_set_source(&s.marker, s.view_kind, Q_N);
    plot_set_min_scale(&s.marker, MARKER_MIN_SCALE);
    plot_show_labels(&s.marker, 0);
    invalidate_plots();
}

// The layout `layout` when its plots are all in `allowed` (bits), else the
// next one upward that is, wrapping to 0 after 3; values above 3 start at 0.
u32 allowed_layout(u32 layout, u32 allowed)
{
    if (layout > SPECTRA_LAYOUT_ALL) layout = SPECTRA_LAYOUT_MAIN;
    while ((layout & ~allowed) != 0) layout = layout >= SPECTRA_LAYOUT_ALL ? SPECTRA_LAYOUT_MAIN : layout + 1;
    return layout;
}

// New sources after a change of kind or quantity; the plots start afresh.
void change_view()
{
    SpectraState& s = spectra;
    plot_set_source(&s.main, s.view_kind, s.view_quantity);
    plot_set_source(&s.shock, shock_kind(s.view_kind), Q_A);
    plot_set_min_scale(&s.shock, shock_min_scale(s.view_kind));
    plot_set_source(&s.marker, s.view_kind, Q_N);
    status_mode_icons(s.view_kind, s.view_quantity);
    s.last_rms = s.last_temp = -1.0f;
    clear_plot_area();
    invalidate_plots();
}

void draw_plots()
{
    SpectraState& s = spectra;
    plot_draw(&s.main);
    plot_follow(&s.shock, &s.main);
    if (has_shock_plot(s.view_layout)) plot_draw(&s.shock);
    plot_follow(&s.marker, &s.main);
    if (has_marker_plot(s.view_layout)) plot_draw(&s.marker);
}

void print_values()
{
    SpectraState& s = spectra;
    if (s.shown_valid == 0) return;
    status_rms_print(meas_band_value(display_group(), Q_V), &s.last_rms);
    status_temp_print(meas_temperature(), &s.last_temp);
}

void peak_cursor()
{
    SpectraState& s = spectra;
    const float x = plot_find_peak(&s.main);
    plot_set_cursor(&s.main, x);
    plot_set_cursor(&s.shock, x);
    plot_set_cursor(&s.marker, x);
}

// The cursors of the shock-pulse and marker plots at the main plot's cursor
// (a frequency in spectra, a time in signals), each on its own nearest line.
void align_cursors()
{
    SpectraState& s = spectra;
    const float x = plot_cursor_x(&s.main);
    plot_set_cursor(&s.shock, x);
    plot_set_cursor(&s.marker, x);
}

// The header fields a stored slot shares with a signal record, either way.
template <class From, class To>
void copy_header(const From& from, To& to)
{
    to.type = from.type;
    to.stamp = from.stamp;
    to.kind = from.kind;
    to.quantity = from.quantity;
    to.count = from.count;
    to.x0 = from.x0;
    to.dx = from.dx;
    to.x_last = from.x_last;
    to.peak = from.peak;
    to.scale = from.scale;
    to.tick = from.tick;
}

// A stored amplitude word: truncated towards zero, held inside the i32 range.
i32 to_word(float v)
{
    constexpr float WORD_LIMIT = 2147483520.0f;  // largest float below 2^31
    if (v >= WORD_LIMIT) return static_cast<i32>(WORD_LIMIT);
    if (v <= -WORD_LIMIT) return -static_cast<i32>(WORD_LIMIT);
    return static_cast<i32>(v);
}

// One record into the data area at word `offset` and its slot: the header,
// the data offset in place of the pointer, and the data; averaged spectra
// store the averaged amplitudes, rescaled until every line fits. Returns the
// words written.
u32 convert_section(const SignalRecord* rec, u32 group, SpectraSlot* slot, i32* out)
{
    copy_header(*rec, *slot);

    const bool spectrum = plot_is_spectrum(rec->kind) != 0;
    const u32 capacity = spectrum ? RECORD_PAIRS : RECORD_VALUES;
    const u32 count = rec->count < capacity ? rec->count : capacity;
    const u32 words = spectrum ? 2 * count : count;
    slot->data_bytes = words * sizeof(i32);

    if (!spectrum || avg_target() == 1) {
        std::memcpy(out, rec->data, slot->data_bytes);
        return words;
    }

    float s = rec->scale != 0 ? rec->scale : 1.0f;
    float limit = 2.0f * static_cast<float>(rec->peak) * rec->scale;
    if (limit == 0) limit = 1.0f;
    i32 peak = 0;
    for (u32 line = 0; line < count; ++line) {
        float a = avg_line(group, rec->quantity, line);
        if (!std::isfinite(a)) a = 0;
        if (std::fabs(a) >= limit) {
            const float grow = 2.0f * std::fabs(a) / limit;
            s *= grow;
            limit *= grow;
            peak = 0;
            line = static_cast<u32>(-1);  // restart from line 0
            continue;
        }
        const i32 v = to_word(a / s);
        out[2 * line] = v;
        out[2 * line + 1] = 0;
        const i32 m = v < 0 ? -v : v;
        if (m > peak) peak = m;
    }
    slot->scale = s;
    slot->peak = peak;
    return words;
}

// The slot's header into the store's cell, keeping the cell's buffer, and
// its data.
void load_slot(const SpectraRecord* header, int slot, const i32* data, u32 group, u32 kind, u32 quantity)
{
    const SpectraSlot& s = header->slot[slot];
    SignalRecord* rec = record_at(group, kind, quantity);
    copy_header(s, *rec);
    rec->data_bytes = s.data_bytes;
    if (s.data_bytes != 0) std::memcpy(rec->data, data + s.data_offset, s.data_bytes);
    results.group[group].active = 1;
}

// Keys that move the main plot's cursor or zoom.
bool is_plot_key(u32 k)
{
    return k == KEY_LEFT || k == KEY_RIGHT || k == (KEY_SHIFT | KEY_LEFT) || k == (KEY_SHIFT | KEY_RIGHT);
}

void load_error()
{
    msg_box("Ошибка !"_cp, "Ошибка в файле замера !"_cp, nullptr, nullptr, true, false);
}

// The passes of the screen until it is left or redrawn and restarted.
SpectraPass screen_loop()
{
    SpectraState& s = spectra;
    for (;;) {
        frame_status();
        u32 raw = key_poll_raw();
        while (is_plot_key(raw & 0xFFFF)) {
            plot_handle_key(&s.main, raw);
            raw = key_poll_raw();
        }
        if (power_off_flag) break;
        const SpectraPass r = spectra_pass(raw & 0xFFFF);
        if (r != SPECTRA_PASS_ON) return r;
        idle_yield();
    }
    set_running(false, false);
    return SPECTRA_PASS_LEAVE;
}

}  // namespace

SpectraPass spectra_pass(u32 key)
{
    SpectraState& s = spectra;
    switch (key) {
    case KEY_ENTER: set_running(!s.running, s.running != 0); break;
    case KEY_ESC: set_running(false, false); return SPECTRA_PASS_LEAVE;
    case KEY_DOWN:
        s.view_quantity = (s.view_quantity + 1) % QUANTITY_COUNT;
        change_view();
        break;
    case KEY_UP:
        s.view_kind = (s.view_kind + 1) % KIND_COUNT;
        change_view();
        break;
    case KEY_SHIFT | KEY_DOWN:
        set_running(false, false);
        if (meas_setup_screen() == MEAS_SETUP_STORED) {
            plot_reset_ranges(&s.main);
            plot_reset_ranges(&s.shock);
            plot_reset_ranges(&s.marker);
            spectra_set_layout(s.view_layout);
        }
        return SPECTRA_PASS_RESTART;
    case KEY_SHIFT | KEY_UP: spectra_set_layout(s.view_layout + 1); return SPECTRA_PASS_RESTART;
    case KEY_SHIFT | KEY_ENTER:
        set_running(false, false);
        if (s.shown_valid != 0) spectra_save(s.view_kind, s.view_quantity, s.view_layout, false);
        break;
    case KEY_MOD: peak_cursor(); break;
    default: break;
    }

    meas_step();
    if (s.running) {
        busy_mark();
        const u32 avg = settings.averaging_idx;
        const u32 target = avg_target();
        if ((avg == AVG_IDX_4_STOP || avg == AVG_IDX_10_STOP) && target >= AVG_STOP_MIN && target < AVG_STOP_LIMIT &&
            avg_count() >= target)
            set_running(false, true);
    } else {
        busy_release();
    }
    s.shown_valid = results.valid;
    show_run_keys();

    softbar_update(&s.keys);
    draw_plots();
    print_values();
    return SPECTRA_PASS_ON;
}

void spectra_start()
{
    spectra_draw(1);
    meas_start(SPECTRA_REQUEST);
}

u32 spectra_set_layout(u32 layout)
{
    const u32 allowed =
        SPECTRA_LAYOUT_SHOCK_BIT | (settings.sensor == SENSOR_WITH_MARKER ? SPECTRA_LAYOUT_MARKER_BIT : 0);
    spectra.view_layout = allowed_layout(layout, allowed);
    return spectra.view_layout;
}

void spectra_draw(int with_run)
{
    SpectraState& s = spectra;
    screen_frame(""_cp);
    font_select(4);
    status_mode_icons(s.view_kind, s.view_quantity);

    softbar_init(&s.keys, KEY_MOD);
    if (with_run) {
        set_enter_label();
        softbar_set(&s.keys, SLOT_DOWN, "Един"_cp, "Парам"_cp);
    } else {
        softbar_set(&s.keys, SLOT_ENTER, "Закр"_cp, nullptr);
    }
    softbar_set(&s.keys, SLOT_UP, "Спек"_cp, "1/2");
    softbar_set(&s.keys, SLOT_LEFT, "<<<", ">-<");
    softbar_set(&s.keys, SLOT_RIGHT, ">>>", "<+>");
    if (with_run) show_run_keys();

    clear_plot_area();
    setup_plots();
    if (has_shock_plot(s.view_layout)) plot_draw_empty(&s.shock);
    if (has_marker_plot(s.view_layout)) plot_draw_empty(&s.marker);
    invalidate_plots();
    s.last_rms = s.last_temp = -1.0f;
}

void spectra_enter()
{
    SpectraState& s = spectra;
    restore_state();
    s.running = 0;
    s.shown_valid = results.valid;
    plot_init(&s.main, PLOT_X0, MAIN_Y0, PLOT_X1, MAIN_Y1_ALONE);
    plot_init(&s.shock, PLOT_X0, LOWER_Y0, PLOT_X1, LOWER_Y1);
    plot_init(&s.marker, PLOT_X0, LOWER_Y0, PLOT_X1, LOWER_Y1);
    plot_set_group(&s.main, MAIN_GROUP);
    plot_set_source(&s.main, s.view_kind, s.view_quantity);
    plot_set_cursor_freq(&s.main, settings.plot_cursor_freq);
    spectra_set_layout(s.view_layout);
}

void spectra_screen()
{
    keys_reset();
    spectra_enter();
    do {
        spectra_start();
    } while (screen_loop() == SPECTRA_PASS_RESTART && !power_off_flag);
    store_state();
    busy_release();
}

u32 spectra_save(u32 kind, u32 quantity, u32 layout, bool silent)
{
    if (!archive_wait()) return 0;
    const u32 group = display_group();
    SignalRecord* main_rec = nullptr;
    if (!meas_get_record(group, kind, quantity, &main_rec) || main_rec == nullptr || main_rec->type == REC_EMPTY)
        return 0;

    static SpectraRecord record;
    std::memset(&record, 0, sizeof record);
    record.type = static_cast<u16>(main_rec->type);
    record.format = RECORD_FORMAT;
    record.kind = kind;
    record.quantity = quantity;
    record.stamp = results.stamp;
    record.velocity = meas_band_value(group, Q_V);
    record.temperature = meas_temperature();
    record.averaging = avg_target();
    record.averaged = record.averaging == 1 ? 1 : std::min(avg_count(), record.averaging);

    u32 words = convert_section(main_rec, group, &record.slot[group], g_save_data);
    record.slot[group].data_offset = 0;
    SignalRecord* rec = nullptr;
    if (has_shock_plot(layout) && meas_get_record(SHOCK_GROUP, shock_kind(kind), Q_A, &rec) && rec &&
        rec->type != REC_EMPTY) {
        SpectraSlot* slot = &record.slot[SHOCK_GROUP];
        slot->data_offset = words;
        words += convert_section(rec, SHOCK_GROUP, slot, g_save_data + words);
    }
    if (has_marker_plot(layout) && meas_get_record(MARKER_GROUP, kind, Q_N, &rec) && rec && rec->type != REC_EMPTY) {
        SpectraSlot* slot = &record.slot[MARKER_GROUP];
        slot->data_offset = words;
        words += convert_section(rec, MARKER_GROUP, slot, g_save_data + words);
        std::memcpy(&record.rotation, &results.rotation_hz, sizeof record.rotation);
    }
    const u32 bytes = words * sizeof(i32);
    spectra_record_seal(&record, g_save_data, bytes);
    return meas_save(kind, record.stamp, &record, SPECTRA_RECORD_SIZE, g_save_data, bytes, nullptr, 0, silent);
}

int spectra_load(SpectraRecord* header, const i32* data, u32 data_bytes)
{
    // Everything is checked before the store changes: a damaged record
    // leaves the shown measurement as it was.
    const int check = spectra_record_check(header, data, data_bytes);
    if (check != SPECTRA_CHECK_OK) {
        if (spectra_check_is_damage(check)) load_error();
        return 0;
    }
    const int main_slot = spectra_find_slot(header, SPECTRA_MAIN);
    int shock_slot = spectra_find_slot(header, SPECTRA_SHOCK);
    if (shock_slot != SPECTRA_NO_SLOT && header->slot[shock_slot].quantity != Q_A) shock_slot = SPECTRA_NO_SLOT;
    const int marker_slot = spectra_find_slot(header, SPECTRA_MARKER);

    results_reset();
    results.valid = header->type;
    results.stamp = header->stamp;
    std::memcpy(&results.rotation_hz, &header->rotation, sizeof results.rotation_hz);
    load_slot(header, main_slot, data, MAIN_GROUP, header->kind, header->quantity);
    if (shock_slot != SPECTRA_NO_SLOT)
        load_slot(header, shock_slot, data, SHOCK_GROUP, header->slot[shock_slot].kind, Q_A);
    if (marker_slot != SPECTRA_NO_SLOT)
        load_slot(header, marker_slot, data, MARKER_GROUP, header->slot[marker_slot].kind, Q_N);
    return 1;
}

void stored_spectra_view(SpectraRecord* record, const i32* data, u32 data_bytes)
{
    SpectraState& s = spectra;
    if (record == nullptr || record->type == 0 || spectra_find_slot(record, SPECTRA_MAIN) == SPECTRA_NO_SLOT) return;
    const u32 available =
        (spectra_find_slot(record, SPECTRA_SHOCK) != SPECTRA_NO_SLOT ? SPECTRA_LAYOUT_SHOCK_BIT : 0) |
        (spectra_find_slot(record, SPECTRA_MARKER) != SPECTRA_NO_SLOT ? SPECTRA_LAYOUT_MARKER_BIT : 0);
    if (!spectra_load(record, data, data_bytes)) return;

    // The stored spectra are shown as they are: no averaging meanwhile.
    const u32 averaging = settings.averaging_idx;
    settings.averaging_idx = AVG_IDX_NONE;
    s.running = 0;
    s.shown_valid = results.valid;
    s.view_kind = record->kind < PLOT_KINDS ? record->kind : KIND_S;
    s.view_quantity = record->quantity;
    s.view_layout = allowed_layout(settings.plot_layout & available, available);
    plot_init(&s.main, PLOT_X0, MAIN_Y0, PLOT_X1, MAIN_Y1_ALONE);
    plot_init(&s.shock, PLOT_X0, LOWER_Y0, PLOT_X1, LOWER_Y1);
    plot_init(&s.marker, PLOT_X0, LOWER_Y0, PLOT_X1, LOWER_Y1);
    plot_set_cursor_freq(&s.main, settings.plot_cursor_freq);
    const bool stored_signal = record->kind == KIND_W;

    bool redraw = true;
    for (;;) {
        if (redraw) {
            spectra_draw(0);
            plot_copy_cursors(&s.shock, &s.main);
            plot_copy_cursors(&s.marker, &s.main);
            align_cursors();
            softbar_show(&s.keys, SLOT_UP, stored_signal, available != 0);
            redraw = false;
        }
        frame_status();
        const u32 raw = key_poll_raw();
        const u32 key = raw & 0xFFFF;
        if (key == KEY_ESC || key == KEY_ENTER || power_off_flag) break;
        if (key == KEY_LEFT || key == KEY_RIGHT) {
            // The other plots' records may have other line spacings: they
            // take the main cursor's place rather than step on their own.
            plot_handle_key(&s.main, raw);
            align_cursors();
        } else if (is_plot_key(key)) {
            plot_handle_key(&s.main, raw);
            plot_handle_key(&s.shock, raw);
            plot_handle_key(&s.marker, raw);
        } else if (key == KEY_UP && stored_signal) {
            s.view_kind = s.view_kind == KIND_W ? KIND_S : KIND_W;
            redraw = true;
        } else if (key == (KEY_SHIFT | KEY_UP) && available != 0) {
            s.view_layout = allowed_layout(s.view_layout + 1, available);
            redraw = true;
        } else if (key == KEY_MOD) {
            align_cursors();
        }
        if (redraw) continue;
        softbar_update(&s.keys);
        plot_draw(&s.main);
        if (has_shock_plot(s.view_layout)) plot_draw(&s.shock);
        if (has_marker_plot(s.view_layout)) plot_draw(&s.marker);
        status_rms_print(record->velocity, &s.last_rms);
        status_temp_print(record->temperature, &s.last_temp);
        idle_yield();
    }
    settings.averaging_idx = averaging;
}

void spectra_reset()
{
    SpectraState& s = spectra;
    s.view_kind = DEFAULT_KIND;
    s.view_quantity = DEFAULT_QUANTITY;
    s.view_layout = SPECTRA_LAYOUT_MAIN;
    s.running = 0;
    s.shown_valid = 0;
    s.last_rms = s.last_temp = -1.0f;
    plot_init(&s.main, PLOT_X0, MAIN_Y0, PLOT_X1, MAIN_Y1_ALONE);
    plot_init(&s.shock, PLOT_X0, LOWER_Y0, PLOT_X1, LOWER_Y1);
    plot_init(&s.marker, PLOT_X0, LOWER_Y0, PLOT_X1, LOWER_Y1);
    softbar_init(&s.keys, KEY_MOD);
    std::memset(g_save_data, 0, sizeof g_save_data);
}
