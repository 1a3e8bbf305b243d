#include "host/settings.h"

#include <cmath>
#include <cstring>

#include "base/checksum.h"
#include "base/cp1251.h"
#include "host/fram.h"

SettingsBlock settings;

namespace {

constexpr u32 CHECKSUM_FIELD = offsetof(SettingsBlock, checksum);

SettingsBlock default_block()
{
    SettingsBlock b;
    std::memset(&b, 0, sizeof b);
    b.last_main_item = MENU_ITEM_NONE;
    b.last_special_item = MENU_ITEM_NONE;
    b.volume = 100;
    b.plot_quantity = 1;
    b.warn_idx = 7;
    b.alarm_idx = 8;
    b.meas_params_changed = 1;
    b.sensor = 1;
    b.meas_mode = 2;
    b.meas_quantity = 1;
    b.signal_step_idx = 1;
    b.signal_duration_idx = 2;
    b.signal_samples_idx = 2;
    b.spectrum_step_idx = 3;
    b.spectrum_fmax_idx = 3;
    b.spectrum_lines_idx = 2;
    b.averaging_idx = 2;
    b.autostart_idx = 1;
    std::memcpy(b.sensor_model, "ДЛ-470Б"_cp, cp_length<"ДЛ-470Б">);
    b.sensor_sens_1 = 140.0f;
    b.sensor_sens_2 = 140.0f;
    return b;
}

// What a stored value must satisfy to be used as it is.
enum class Check : u8 {
    Range,        // lo..hi
    MenuItem,     // lo..hi, or MENU_ITEM_NONE
    Volume,       // 0..100 in steps of 10
    Frequency,    // a finite float, not negative
    Sensitivity,  // a finite float above 0
    Text,         // a NUL within the field
};

struct FieldRule {
    u32 offset;
    u32 size;   // bytes of one value: 1 or 4 (or the text length)
    u32 count;  // values in a row (arrays)
    Check check;
    u32 lo, hi;
};

#define FIELD(name) static_cast<u32>(offsetof(SettingsBlock, name)), static_cast<u32>(sizeof(SettingsBlock::name))
#define ITEM(name, n) \
    static_cast<u32>(offsetof(SettingsBlock, name)), static_cast<u32>(sizeof(SettingsBlock::name) / (n)), (n)

// Every field a screen reads. Not listed, because every value is handled
// where it is used: current_object and last_route (looked up in the archive,
// a missing one means none), meas_params_changed (set after every load) and
// the reserved bytes.
constexpr FieldRule RULES[] = {
    {FIELD(last_main_item), 1, Check::MenuItem, 1, 4},
    {FIELD(last_special_item), 1, Check::MenuItem, 1, 1},
    {FIELD(power_off_delay), 1, Check::Range, 0, 2},
    {FIELD(backlight_delay), 1, Check::Range, 0, 2},
    {FIELD(volume), 1, Check::Volume, 0, 100},
    {FIELD(plot_mode), 1, Check::Range, 0, 3},
    {FIELD(plot_quantity), 1, Check::Range, 0, 2},
    {FIELD(plot_layout), 1, Check::Range, 0, 3},
    {FIELD(plot_cursor_freq), 1, Check::Frequency, 0, 0},
    {FIELD(warn_idx), 1, Check::Range, 0, 11},
    {FIELD(alarm_idx), 1, Check::Range, 0, 12},
    {FIELD(sensor), 1, Check::Range, 1, 4},  // 4 is measured like 3
    {FIELD(meas_mode), 1, Check::Range, 1, 3},
    {FIELD(meas_quantity), 1, Check::Range, 0, 2},
    {FIELD(signal_step_idx), 1, Check::Range, 1, 3},
    {FIELD(signal_duration_idx), 1, Check::Range, 1, 4},
    {FIELD(signal_samples_idx), 1, Check::Range, 1, 2},
    {FIELD(spectrum_step_idx), 1, Check::Range, 1, 4},
    {FIELD(spectrum_fmax_idx), 1, Check::Range, 1, 3},
    {FIELD(spectrum_lines_idx), 1, Check::Range, 1, 2},
    {FIELD(averaging_idx), 1, Check::Range, 1, 6},
    {FIELD(autostart_idx), 1, Check::Range, 1, 2},
    {ITEM(spectra_flags, 4), Check::Range, 0, 2},
    {FIELD(bearing_name), 1, Check::Text, 0, 0},
    {FIELD(sensor_model), 1, Check::Text, 0, 0},
    {FIELD(sensor_sens_1), 1, Check::Sensitivity, 0, 0},
    {FIELD(sensor_sens_2), 1, Check::Sensitivity, 0, 0},
    {FIELD(last_route_item), 1, Check::Range, 0, 1023},  // a route holds at most 1024 items
};

#undef FIELD
#undef ITEM

bool value_ok(const FieldRule& r, const u8* p)
{
    u32 v = 0;
    float f = 0;
    if (r.size == 1) v = *p;
    if (r.size == 4) {
        std::memcpy(&v, p, 4);
        std::memcpy(&f, p, 4);
    }
    switch (r.check) {
    case Check::Range: return v >= r.lo && v <= r.hi;
    case Check::MenuItem: return (v >= r.lo && v <= r.hi) || v == MENU_ITEM_NONE;
    case Check::Volume: return v <= 100 && v % 10 == 0;
    case Check::Frequency: return std::isfinite(f) && f >= 0.0f;
    case Check::Sensitivity: return std::isfinite(f) && f > 0.0f;
    case Check::Text: return std::memchr(p, 0, r.size) != nullptr;
    }
    return false;
}

}  // namespace

void settings_defaults()
{
    settings = default_block();
}

int settings_sanitise(SettingsBlock* block)
{
    static const SettingsBlock defaults = default_block();
    auto* bytes = reinterpret_cast<u8*>(block);
    const auto* fallback = reinterpret_cast<const u8*>(&defaults);
    int replaced = 0;
    for (const FieldRule& r : RULES) {
        for (u32 i = 0; i < r.count; ++i) {
            const u32 at = r.offset + i * r.size;
            if (value_ok(r, bytes + at)) continue;
            std::memcpy(bytes + at, fallback + at, r.size);
            ++replaced;
        }
    }
    return replaced;
}

void settings_save()
{
    checksum_store(&settings, SETTINGS_SIZE, CHECKSUM_FIELD);
    param_write_verified(SETTINGS_OFFSET, &settings, SETTINGS_SIZE);
}

void settings_load()
{
    settings_defaults();
    SettingsBlock stored;
    if (param_read_checked(SETTINGS_OFFSET, &stored, SETTINGS_SIZE, CHECKSUM_FIELD)) {
        settings = stored;
        // A block that a damaged or foreign fram.dat left with a good
        // checksum must still give a usable instrument. The stored copy is
        // left as it is; power-off saves the block if it then differs.
        settings_sanitise(&settings);
        settings.meas_params_changed = 1;
        return;
    }
    settings_save();
}

void settings_save_if_changed()
{
    SettingsBlock stored;
    if (param_read_checked(SETTINGS_OFFSET, &stored, SETTINGS_SIZE, CHECKSUM_FIELD)) {
        // Compare with the checksum the RAM block would carry.
        SettingsBlock current = settings;
        checksum_store(&current, SETTINGS_SIZE, CHECKSUM_FIELD);
        if (std::memcmp(&stored, &current, SETTINGS_SIZE) == 0) return;
    }
    settings_save();
}
