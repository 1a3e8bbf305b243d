#include "screens/vibrometer.h"

#include <cstring>

#include "analysis/meas_module.h"
#include "analysis/measures.h"
#include "analysis/signal.h"
#include "archive/mount.h"
#include "base/cp1251.h"
#include "gfx/dialog.h"
#include "gfx/frame.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/settings.h"
#include "screens/shock_panel.h"
#include "screens/status.h"

VibrometerState vibrometer;

namespace {

// Requests of the live screen: vibration, shock-pulse signal, temperature,
// processing and shock-pulse analysis.
constexpr u32 VIB_REQUEST = REQ_VIBRATION | REQ_SHOCK | REQ_TEMPERATURE | REQ_PROCESS | REQ_SHOCK_ANALYSIS;
static_assert(VIB_REQUEST == 206);
constexpr u32 VIB_GROUP = RMS_TABLE_GROUP;

constexpr u32 QUANTITY_COUNT_VIB = 3;

// Places of the plot.
constexpr i32 PLOT_X0 = 3, PLOT_Y0 = 153, PLOT_X1 = 269, PLOT_Y1 = 211;

constexpr float MIN_SCALE = 0.5f;

// Soft-key slots.
constexpr i32 SLOT_ENTER = -1, SLOT_UP = -2, SLOT_DOWN = -3, SLOT_LEFT = -4, SLOT_RIGHT = -5;

SoftKeyBar g_keys;
bool g_viewing = false;  // the archive view is on screen

float& velocity(RmsTableRecord& r)
{
    return r.values[0][0][1];
}

void fill_record(RmsTableRecord& r)
{
    r.valid = static_cast<u16>(results.valid);
    r.format = RECORD_FORMAT;
    r.group = VIB_GROUP;
    for (u32 q = 0; q < QUANTITY_COUNT_VIB; ++q) r.values[0][0][q] = meas_band_value(VIB_GROUP, q);
    r.temperature[0][0] = meas_temperature();
    r.filled[0] |= 1;
}

void load_settings()
{
    VibrometerState& s = vibrometer;
    s.vib_mode = settings.plot_mode;
    if (s.vib_mode == 2) s.vib_mode = VIB_MODE_SHOCK;
    if (s.vib_mode > VIB_MODE_SHOCK) s.vib_mode = VIB_MODE_WAVEFORM;
    s.vib_quantity = settings.plot_quantity;
    if (s.vib_quantity >= QUANTITY_COUNT_VIB) s.vib_quantity = 1;
    meter_limits_from_settings(&s.warn_idx, &s.alarm_idx);
}

void update_key_visibility()
{
    const VibrometerState& s = vibrometer;
    if (g_viewing) return;
    softbar_show(&g_keys, SLOT_ENTER, 1, s.has_data);
    const u8 plot_keys = s.has_data && s.vib_mode != VIB_MODE_SHOCK;
    softbar_show(&g_keys, SLOT_LEFT, plot_keys, plot_keys);
    softbar_show(&g_keys, SLOT_RIGHT, plot_keys, plot_keys);
}

void set_enter_label()
{
    softbar_set(&g_keys, SLOT_ENTER, vibrometer.running ? "Стоп"_cp : "Пуск"_cp, "Зап"_cp);
    update_key_visibility();
}

void set_running(bool on)
{
    VibrometerState& s = vibrometer;
    s.running = on ? 1 : 0;
    meas_set_running(s.running);
    meter_draw_run_lamps(s.running);
    set_enter_label();
    if (!on) busy_release();
}

void full_redraw(bool allow_data)
{
    VibrometerState& s = vibrometer;
    meter_draw_panels();
    s.has_data = allow_data && s.record->valid != 0 && results.valid != 0;
    meter_forget(&s.meter);
    panel_redraw = 1;
    meter_draw_bar(&s.meter, velocity(*s.record), s.warn_idx, s.alarm_idx);
    meter_draw_caption(s.vib_quantity);
    meter_draw_run_lamps(s.running);
    if (allow_data) set_enter_label();
    update_key_visibility();
    status_mode_icons(s.vib_mode, s.vib_quantity);
}

void draw_values()
{
    VibrometerState& s = vibrometer;
    RmsTableRecord& r = *s.record;
    meter_draw_bar(&s.meter, velocity(r), s.warn_idx, s.alarm_idx);
    meter_draw_value(&s.meter, r.values[0][0][s.vib_quantity], s.vib_quantity, velocity(r), s.warn_idx, s.alarm_idx);
    meter_draw_temperature(&s.meter, r.temperature[0][0]);
}

void store_settings()
{
    const VibrometerState& s = vibrometer;
    settings.plot_mode = s.vib_mode;
    settings.plot_quantity = s.vib_quantity;
    settings.plot_cursor_freq = plot_cursor_freq(&s.plot);
    settings.warn_idx = s.warn_idx;
    settings.alarm_idx = s.alarm_idx;
}

void limits_step(int step)
{
    VibrometerState& s = vibrometer;
    s.warn_idx = static_cast<u32>(static_cast<int>(s.warn_idx) + step);
    s.alarm_idx = static_cast<u32>(static_cast<int>(s.alarm_idx) + step);
}

void enter_screen_frame()
{
    screen_enter(""_cp);
    font_select(4);
    softbar_init(&g_keys, KEY_MOD);
}

}  // namespace

void vibrometer_reset()
{
    VibrometerState& s = vibrometer;
    std::memset(&s.live, 0, sizeof s.live);
    s.record = nullptr;
    s.vib_mode = VIB_MODE_WAVEFORM;
    s.vib_quantity = 1;
    s.warn_idx = WARN_DEFAULT;
    s.alarm_idx = ALARM_DEFAULT;
    s.running = 0;
    s.has_data = 0;
    meter_forget(&s.meter);
    std::memset(&s.plot, 0, sizeof s.plot);
    g_viewing = false;
}

void vibrometer_screen()
{
    VibrometerState& s = vibrometer;
    if (s.record == nullptr) {
        s.record = &s.live;
        std::memset(s.record, 0, sizeof *s.record);
    } else if (results.valid != 0) {
        fill_record(*s.record);
    } else {
        std::memset(s.record, 0, sizeof *s.record);
    }
    load_settings();

    enter_screen_frame();
    softbar_set(&g_keys, SLOT_ENTER, "Пуск"_cp, "Зап"_cp);
    softbar_set(&g_keys, SLOT_UP, "Спек"_cp, "Норм+"_cp);
    softbar_set(&g_keys, SLOT_DOWN, "Един"_cp, "Норм-"_cp);
    softbar_set(&g_keys, SLOT_LEFT, "<<<", ">-<");
    softbar_set(&g_keys, SLOT_RIGHT, ">>>", "<+>");
    s.has_data = 0;
    update_key_visibility();

    set_running(false);
    full_redraw(true);

    PlotView* pv = &s.plot;
    plot_init(pv, PLOT_X0, PLOT_Y0, PLOT_X1, PLOT_Y1);
    plot_set_group(pv, VIB_GROUP);
    plot_set_source(pv, s.vib_mode, s.vib_quantity);
    plot_set_cursor_freq(pv, settings.plot_cursor_freq);
    plot_reset_markers(pv);
    plot_add_marker(pv, 2.0f, "2x");
    plot_add_marker(pv, 3.0f, "3x");
    plot_set_min_scale(pv, MIN_SCALE);
    plot_invalidate(pv);
    meas_start(VIB_REQUEST);

    for (;;) {
        frame_status();
        u32 raw = key_poll_raw();
        while (s.vib_mode <= VIB_MODE_SPECTRUM) {
            const u32 k = raw & 0xFFFF;
            if (k != KEY_LEFT && k != KEY_RIGHT && k != (KEY_SHIFT | KEY_LEFT) && k != (KEY_SHIFT | KEY_RIGHT)) break;
            plot_handle_key(pv, raw);
            raw = key_poll_raw();
        }
        const u32 key = raw & 0xFFFF;
        if (key == KEY_ESC || power_off_flag) {
            set_running(false);
            break;
        }
        switch (key) {
        case KEY_ENTER:
            set_running(!s.running);
            meter_forget_values(&s.meter);
            panel_redraw = 1;
            plot_invalidate(pv);
            break;
        case KEY_DOWN:
            s.vib_quantity = (s.vib_quantity + 1) % QUANTITY_COUNT_VIB;
            plot_set_source(pv, s.vib_mode, s.vib_quantity);
            full_redraw(true);
            break;
        case KEY_UP:
            s.vib_mode = s.vib_mode == VIB_MODE_WAVEFORM   ? VIB_MODE_SPECTRUM
                         : s.vib_mode == VIB_MODE_SPECTRUM ? VIB_MODE_SHOCK
                                                           : VIB_MODE_WAVEFORM;
            plot_set_source(pv, s.vib_mode, s.vib_quantity);
            full_redraw(true);
            break;
        case KEY_SHIFT | KEY_UP:
            if (s.alarm_idx < ALARM_LIMIT_MAX) {
                limits_step(1);
                plot_invalidate(pv);
                full_redraw(true);
            }
            break;
        case KEY_SHIFT | KEY_DOWN:
            if (s.alarm_idx >= 2) {
                limits_step(-1);
                plot_invalidate(pv);
                full_redraw(true);
            }
            break;
        case KEY_SHIFT | KEY_ENTER:
            set_running(false);
            vibrometer_save();
            break;
        case KEY_MOD:
            if (s.vib_mode <= VIB_MODE_SPECTRUM) plot_set_cursor(pv, plot_find_peak(pv));
            break;
        default: break;
        }

        meas_step();
        if (s.running) {
            busy_mark();
            fill_record(*s.record);
            s.record->filled_count = 1;
            s.has_data = static_cast<u8>(results.valid & 0xFF) != 0;
            update_key_visibility();
        } else {
            busy_release();
        }

        softbar_update(&g_keys);
        if (s.vib_mode <= VIB_MODE_SPECTRUM)
            plot_draw(pv);
        else
            shock_panel_draw();
        draw_values();
        idle_yield();
    }
    store_settings();
    busy_release();
}

bool vibrometer_save()
{
    VibrometerState& s = vibrometer;
    if (!s.has_data || s.record == nullptr || s.record->valid == 0) return false;
    if (!archive_wait()) return false;
    s.record->format = RECORD_FORMAT;
    s.record->stamp = results.stamp;
    rms_table_seal(s.record);
    return meas_save(MEAS_KIND_VIBROMETER, s.record->stamp, s.record, sizeof(RmsTableRecord), nullptr, 0, nullptr, 0,
                     false) != 0;
}

void vibrometer_view(RmsTableRecord* loaded)
{
    VibrometerState& s = vibrometer;
    if (!rms_table_verify(loaded)) {
        msg_box("Ошибка !"_cp, "Ошибка в файле замера !"_cp, nullptr, nullptr, true, false);
        return;
    }
    if (loaded->valid == 0) return;
    s.record = loaded;
    load_settings();
    s.vib_mode = VIB_MODE_SHOCK;

    enter_screen_frame();
    g_viewing = true;
    softbar_set(&g_keys, SLOT_ENTER, "Закр"_cp, nullptr);
    softbar_set(&g_keys, SLOT_UP, nullptr, "Норм+"_cp);
    softbar_set(&g_keys, SLOT_DOWN, "Един"_cp, "Норм-"_cp);
    softbar_set(&g_keys, SLOT_LEFT, nullptr, nullptr);
    softbar_set(&g_keys, SLOT_RIGHT, nullptr, nullptr);
    full_redraw(false);

    for (;;) {
        const u16 key = key_poll();
        if (key == KEY_ESC || key == KEY_ENTER || key == KEY_RIGHT || power_off_flag) break;
        if (key == KEY_DOWN) {
            s.vib_quantity = (s.vib_quantity + 1) % QUANTITY_COUNT_VIB;
            full_redraw(false);
        } else if (key == (KEY_SHIFT | KEY_UP) && s.alarm_idx < ALARM_LIMIT_MAX) {
            limits_step(1);
            full_redraw(false);
        } else if (key == (KEY_SHIFT | KEY_DOWN) && s.alarm_idx > 1) {
            limits_step(-1);
            full_redraw(false);
        }
        softbar_update(&g_keys);
        draw_values();
        idle_yield();
    }
    g_viewing = false;
    s.record = &s.live;
}
