#include "screens/meas_setup.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "analysis/meas_module.h"
#include "analysis/measures.h"
#include "analysis/signal.h"
#include "base/cp1251.h"
#include "data/fonts.h"
#include "data/images.h"
#include "gfx/form.h"
#include "gfx/frame.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/settings.h"
#include "screens/bearing_select.h"

namespace {

constexpr u8 FORM_FONT = 4;
constexpr u32 BAR_MIN_CHARS = 9;
constexpr u32 LABEL_FLAGS = TF_OUTLINE | TF_TRANSPARENT;  // 53248
constexpr u8 STRIP_IMAGE_MODE = 3;                        // white pixels left untouched

// The three option bars, each with its focus strip just above it.
constexpr int BAR_COUNT = 3;
constexpr i32 BAR_X = 2;
constexpr i32 BAR_Y[BAR_COUNT] = {28, 60, 92};  // sensor, quantity, mode
constexpr i32 STRIP_X = 1;

// Labels of the three geometry rows.
constexpr i32 LABEL_X = 8;
constexpr i32 LABEL_Y[3] = {125, 147, 169};

// The choice boxes of fields 4 .. 11, in field order.
constexpr int BOX_COUNT = 8;
constexpr int FIRST_BOX_FIELD = SETUP_FIELD_SPECTRUM_STEP;
constexpr i32 SPECTRUM_X = 120, SIGNAL_X = 220;
constexpr i32 ROW_Y[3] = {124, 146, 168};
constexpr i32 AVERAGING_X = 48, AUTOSTART_X = 190, BOTTOM_BOX_Y = 192;
constexpr i32 RULE_ROWS = 2;  // the focus rule above a box

// The two plain items and their markers.
constexpr i32 STORE_X = 20, BEARING_X = 162, PLAIN_Y = 188;

// Soft keys: Enter's slot and a plain key at position 3.
constexpr i32 SLOT_ENTER = -1, BEARING_KEY_POS = 3;

// Values shown for stored values outside their lists.
constexpr u32 SENSOR_COUNT = 3, SENSOR_SHOWN = 1;
constexpr u32 QUANTITY_COUNT = 3, QUANTITY_SHOWN = 0;
constexpr u32 MODE_COUNT = 3, MODE_SHOWN = MEAS_MODE_SPECTRUM;
constexpr u32 LIST_SHOWN = 1;

// Geometry clamps (lines and samples stay inside their two-entry lists).
constexpr int SPECTRUM_STEP_MAX = 4, FMAX_MAX = 3, SIGNAL_STEP_MAX = 3, DURATION_MAX = 4;

// The geometry the spectrum-1000 Hz mode forces.
constexpr MeasGeometry MODE_1000_GEOMETRY = {3, 2, 1, 2, 2, 1};

const char* const SENSOR_TEXTS[] = {"Внутр"_cp, "Внешн"_cp, "Внутр+Отм"_cp};
const char* const QUANTITY_TEXTS[] = {"Ускорение"_cp, "Скорость"_cp, "Перемещен"_cp};
const char* const MODE_TEXTS[] = {"Сп 1000Гц"_cp, "Спектр"_cp, "Сигнал"_cp};
const char* const SPECTRUM_STEP_TEXTS[] = {"0.25 Гц"_cp, "   1 Гц"_cp, " 2.5 Гц"_cp, "  10 Гц"_cp};
const char* const FMAX_TEXTS[] = {" 400 Гц"_cp, "  1 кГц"_cp, "  4 кГц"_cp};
const char* const LINES_TEXTS[] = {"    400", "   1600"};
const char* const SIGNAL_STEP_TEXTS[] = {" 0.1 мс"_cp, " 0.4 мс"_cp, "   1 мс"_cp};
const char* const DURATION_TEXTS[] = {"  0.1 с"_cp, "  0.4 с"_cp, "    1 с"_cp, "    4 с"_cp};
const char* const SAMPLES_TEXTS[] = {"   1024", "   4096"};
const char* const AVERAGING_TEXTS[] = {"Без усредн"_cp, "  4 Усредн"_cp, "  4 + Стоп"_cp,
                                       " 10 Усредн"_cp, " 10 + Стоп"_cp, "999 Усредн"_cp};
const char* const AUTOSTART_TEXTS[] = {"Нет Автозап."_cp, " Автозапись "_cp};

// The texts of one list.
struct TextList {
    const char* const* texts;
    u8 count;
};
// Returns the list of all texts of the array.
template <size_t N>
constexpr TextList list_of(const char* const (&texts)[N])
{
    return {texts, static_cast<u8>(N)};
}

// One choice box of the form: its texts and place.
struct BoxPlace {
    TextList list;
    i32 x, y;
};
const BoxPlace BOXES[BOX_COUNT] = {
    {list_of(SPECTRUM_STEP_TEXTS), SPECTRUM_X, ROW_Y[0]},  {list_of(FMAX_TEXTS), SPECTRUM_X, ROW_Y[1]},
    {list_of(LINES_TEXTS), SPECTRUM_X, ROW_Y[2]},          {list_of(SIGNAL_STEP_TEXTS), SIGNAL_X, ROW_Y[0]},
    {list_of(DURATION_TEXTS), SIGNAL_X, ROW_Y[1]},         {list_of(SAMPLES_TEXTS), SIGNAL_X, ROW_Y[2]},
    {list_of(AVERAGING_TEXTS), AVERAGING_X, BOTTOM_BOX_Y}, {list_of(AUTOSTART_TEXTS), AUTOSTART_X, BOTTOM_BOX_Y},
};
const TextList BARS[BAR_COUNT] = {list_of(SENSOR_TEXTS), list_of(QUANTITY_TEXTS), list_of(MODE_TEXTS)};

// The boxes that show the value of the geometry itself (the list's text is
// the nominal value, which 1600 lines at 1 kHz do not meet: 0.625 Hz, 1.6 s).
constexpr int STEP_BOX = SETUP_FIELD_SPECTRUM_STEP - FIRST_BOX_FIELD;
constexpr int DURATION_BOX = SETUP_FIELD_DURATION - FIRST_BOX_FIELD;
constexpr int BOX_TEXT_CHARS = 7;
constexpr float LINES_PER_SAMPLE = 400.0f / 1024.0f;

// Everything the screen keeps while it runs.
struct SetupScreen {
    OptionBar bars[BAR_COUNT];
    ChoiceBox boxes[BOX_COUNT];
    FormWidget form;
    SoftKeyBar keys;
    int ruled;  // the box field whose focus rule is on screen, 0 none
    char step_text[BOX_TEXT_CHARS + 1];
    char duration_text[BOX_TEXT_CHARS + 1];
};

// Returns the 1-based entry shown for a stored list index: the index itself
// when it names an entry of a list of `count`, else `shown`.
u8 shown_index(u32 stored, u32 count, u32 shown)
{
    return static_cast<u8>(stored >= 1 && stored <= count ? stored : shown);
}

// Returns whether form field `field` is one of the choice boxes.
bool is_box_field(int field)
{
    return field >= FIRST_BOX_FIELD && field < FIRST_BOX_FIELD + BOX_COUNT;
}

// The 11 values of fields 1 .. 11 as the form holds them (the quantity as
// its option number).
struct ShownValues {
    u8 sensor, quantity_option, mode;
    u8 lists[BOX_COUNT];
};

// Returns the stored settings as the form shows them.
ShownValues values_from_settings()
{
    ShownValues v;
    v.sensor = shown_index(settings.sensor, SENSOR_COUNT, SENSOR_SHOWN);
    const u32 quantity = settings.meas_quantity < QUANTITY_COUNT ? settings.meas_quantity : QUANTITY_SHOWN;
    v.quantity_option = static_cast<u8>(quantity + 1);
    v.mode = shown_index(settings.meas_mode, MODE_COUNT, MODE_SHOWN);
    const u32 stored[BOX_COUNT] = {settings.spectrum_step_idx,   settings.spectrum_fmax_idx,
                                   settings.spectrum_lines_idx,  settings.signal_step_idx,
                                   settings.signal_duration_idx, settings.signal_samples_idx,
                                   settings.averaging_idx,       settings.autostart_idx};
    for (int i = 0; i < BOX_COUNT; ++i) v.lists[i] = shown_index(stored[i], BOXES[i].list.count, LIST_SHOWN);
    return v;
}

// Returns what the form shows now.
ShownValues values_from_form(const SetupScreen& s)
{
    ShownValues v;
    v.sensor = s.bars[0].current;
    v.quantity_option = s.bars[1].current;
    v.mode = s.bars[2].current;
    for (int i = 0; i < BOX_COUNT; ++i) v.lists[i] = choice_get(&s.boxes[i]);
    return v;
}

// Returns the geometry the six lists show.
MeasGeometry geometry_of(const SetupScreen& s)
{
    const ShownValues v = values_from_form(s);
    return {v.lists[0], v.lists[1], v.lists[2], v.lists[3], v.lists[4], v.lists[5]};
}

// `value` with up to three decimals (trailing zeros dropped) and `unit`,
// right-aligned in a box text of 7 characters; the blank before the unit
// goes when it would not fit.
void value_text(float value, const char* unit, char* out)
{
    char number[32];
    std::snprintf(number, sizeof number, "%.3f", static_cast<double>(value));
    char* end = number + std::strlen(number);
    while (end > number && end[-1] == '0') *--end = 0;
    if (end > number && end[-1] == '.') *--end = 0;
    char text[48];
    std::snprintf(text, sizeof text, "%s %s", number, unit);
    if (std::strlen(text) > BOX_TEXT_CHARS) std::snprintf(text, sizeof text, "%s%s", number, unit);
    const size_t n = std::min(std::strlen(text), size_t{BOX_TEXT_CHARS});
    std::memset(out, ' ', BOX_TEXT_CHARS - n);
    std::memcpy(out + BOX_TEXT_CHARS - n, text, n);
    out[BOX_TEXT_CHARS] = 0;
}

// Returns the entry `index` (1-based) of a table of the measuring module
// indexed from 1.
template <class T, size_t N>
T table_entry(const T (&table)[N], int index)
{
    return table[std::clamp<size_t>(static_cast<size_t>(index), 1, N - 1)];
}

// The step and duration boxes show the values the geometry gives: the line
// spacing is fmax over the lines, the duration the samples times the sample
// period; the other entries keep their list texts.
void show_geometry_values(SetupScreen& s)
{
    const MeasGeometry g = geometry_of(s);
    const float lines = static_cast<float>(table_entry(SAMPLES_TABLE, g.lines)) * LINES_PER_SAMPLE;
    value_text(table_entry(FMAX_TABLE, g.fmax) / lines, "Гц"_cp, s.step_text);
    value_text(static_cast<float>(table_entry(SAMPLES_TABLE, g.samples)) * table_entry(PERIOD_TABLE, g.signal_step),
               "с"_cp, s.duration_text);
    for (int box : {STEP_BOX, DURATION_BOX}) {
        ChoiceBox& b = s.boxes[box];
        for (u8 t = 0; t < b.count; ++t) b.texts[t] = BOXES[box].list.texts[t];
        b.texts[b.current - 1] = box == STEP_BOX ? s.step_text : s.duration_text;
    }
}

// Puts the geometry into the six lists (without drawing them).
void set_geometry(SetupScreen& s, const MeasGeometry& g)
{
    const int values[6] = {g.spectrum_step, g.fmax, g.lines, g.signal_step, g.duration, g.samples};
    for (int i = 0; i < 6; ++i) choice_set(&s.boxes[i], static_cast<u8>(values[i]));
    show_geometry_values(s);
}

// The colours every widget of the form is drawn with.
void form_colours()
{
    fg_color = COLOR_FORM_TEXT;
    bg_color = COLOR_BACKGROUND;
    outline_color = COLOR_WHITE;
    font_select(FORM_FONT);
}

// Sets up the bars, boxes and the 13 fields of the form with the values `v`.
void build_form(SetupScreen& s, const ShownValues& v)
{
    FormWidget& f = s.form;
    form_init(&f, KEY_UP, KEY_DOWN, KEY_NONE, KEY_NONE, KEY_ENTER);
    const u8 bar_current[BAR_COUNT] = {v.sensor, v.quantity_option, v.mode};
    const void* strip_focus = image_set[IMG_SETUP_STRIP_FOCUS];
    const void* strip = image_set[IMG_SETUP_STRIP];
    const i32 strip_h = static_cast<i32>(image_set_height[IMG_SETUP_STRIP]);
    for (int i = 0; i < BAR_COUNT; ++i) {
        OptionBar& bar = s.bars[i];
        option_init(&bar, BAR_X, BAR_Y[i], FORM_FONT, BAR_MIN_CHARS, KEY_LEFT, KEY_RIGHT);
        for (u8 t = 0; t < BARS[i].count; ++t) option_add(&bar, BARS[i].texts[t]);
        bar.current = bar_current[i];
        form_add(&f, STRIP_X, BAR_Y[i] - strip_h, strip_focus, strip, nullptr, FIELD_OPTION, &bar, KEY_NONE);
    }
    for (int i = 0; i < BOX_COUNT; ++i) {
        ChoiceBox& box = s.boxes[i];
        choice_init(&box, BOXES[i].x, BOXES[i].y, FORM_FONT);
        for (u8 t = 0; t < BOXES[i].list.count; ++t) choice_add(&box, BOXES[i].list.texts[t]);
        choice_set(&box, v.lists[i]);
        form_add(&f, BOXES[i].x, BOXES[i].y, nullptr, nullptr, nullptr, FIELD_CHOICE, &box, KEY_NONE);
    }
    const void* mark_focus = image_set[IMG_FIELD_MARK_FOCUS];
    const void* mark = image_set[IMG_FIELD_MARK];
    form_add(&f, STORE_X, PLAIN_Y, mark_focus, mark, nullptr, FIELD_PLAIN, nullptr, KEY_NONE);
    form_add(&f, BEARING_X, PLAIN_Y, mark_focus, mark, nullptr, FIELD_PLAIN, nullptr, KEY_MOD);
}

// Enables the geometry fields the mode uses; the spectrum-1000 Hz mode also
// puts its fixed geometry into the lists.
void apply_mode(SetupScreen& s)
{
    const u8 mode = s.bars[2].current;
    const bool spectrum = mode == MEAS_MODE_SPECTRUM;
    const bool signal = mode == MEAS_MODE_SIGNAL;
    for (int field = SETUP_FIELD_SPECTRUM_STEP; field <= SETUP_FIELD_LINES; ++field)
        form_enable(&s.form, field, spectrum);
    for (int field = SETUP_FIELD_SIGNAL_STEP; field <= SETUP_FIELD_SAMPLES; ++field)
        form_enable(&s.form, field, signal);
    form_enable(&s.form, SETUP_FIELD_AVERAGING, 1);
    if (mode == MEAS_MODE_SPECTRUM_1000) set_geometry(s, MODE_1000_GEOMETRY);
}

// Returns the width the framed box covers on screen: its left cap, the
// filler strips and its right cap.
i32 box_frame_width(const ChoiceBox& box)
{
    const i32 cw = font_table[box.font - 1].width;
    i32 pos = CHOICE_LEFT_W;
    while (pos < box.w + 2 * cw) pos += CHOICE_FILLER_W;
    return pos + CHOICE_RIGHT_W;
}

// Draws the rule above the box of `field` in `color`.
void draw_rule(const SetupScreen& s, int field, u16 color)
{
    const ChoiceBox& box = s.boxes[field - FIRST_BOX_FIELD];
    fill_rect(box.x, box.y - RULE_ROWS, box.x + box_frame_width(box) - 1, box.y - 1, color);
}

// The focus: the bars' strips and the plain items' markers through the form,
// the rule above a focused box drawn here.
void draw_focus(SetupScreen& s)
{
    const u8 mode = image_mode;
    image_mode = STRIP_IMAGE_MODE;
    form_draw_focus(&s.form);
    image_mode = mode;
    const int sel = s.form.sel;
    if (s.ruled != 0 && s.ruled != sel) draw_rule(s, s.ruled, COLOR_BACKGROUND);
    s.ruled = 0;
    if (is_box_field(sel)) {
        draw_rule(s, sel, IMG_SETUP_RULE_COLOR);
        s.ruled = sel;
    }
}

// Draws the labels of the three geometry rows.
void draw_labels()
{
    static const char* const labels[3] = {"Шаг"_cp, "Длительн."_cp, "Отсчетов"_cp};
    fg_color = COLOR_DARK_BLUE;
    outline_color = COLOR_WHITE;
    font_select(FORM_FONT);
    for (int i = 0; i < 3; ++i) text_draw(LABEL_X, LABEL_Y[i], labels[i], LABEL_FLAGS);
}

// Draws the whole screen: frame, soft keys, labels, widgets and focus.
void draw_screen(SetupScreen& s)
{
    screen_enter("Параметры замера"_cp);
    softbar_init(&s.keys, 0);
    softbar_set(&s.keys, SLOT_ENTER, "Зап"_cp, nullptr);
    softbar_set(&s.keys, BEARING_KEY_POS, "Подш"_cp, nullptr);
    draw_labels();
    form_colours();
    form_draw_widgets(&s.form);
    s.ruled = 0;
    draw_focus(s);
}

// A value of a field changed (form result 203 with the focus on `field`).
void value_changed(SetupScreen& s, int field)
{
    if (field == SETUP_FIELD_MODE) {
        apply_mode(s);
    } else if (field >= SETUP_FIELD_SPECTRUM_STEP && field <= SETUP_FIELD_SAMPLES) {
        set_geometry(s, meas_geometry_couple(geometry_of(s), field));
    } else {
        return;  // the widget has redrawn itself
    }
    form_colours();
    form_draw_widgets(&s.form);
}

// Stores the form's values when any differs from the settings; returns
// MEAS_SETUP_STORED then, MEAS_SETUP_UNCHANGED when nothing differed.
int store_if_changed(const SetupScreen& s)
{
    const ShownValues v = values_from_form(s);
    const u32 quantity = v.quantity_option - 1u;
    u32* const lists[BOX_COUNT] = {&settings.spectrum_step_idx,   &settings.spectrum_fmax_idx,
                                   &settings.spectrum_lines_idx,  &settings.signal_step_idx,
                                   &settings.signal_duration_idx, &settings.signal_samples_idx,
                                   &settings.averaging_idx,       &settings.autostart_idx};
    bool differs = settings.sensor != v.sensor || settings.meas_quantity != quantity || settings.meas_mode != v.mode;
    for (int i = 0; i < BOX_COUNT; ++i) differs = differs || *lists[i] != v.lists[i];
    if (!differs) return MEAS_SETUP_UNCHANGED;
    settings.sensor = v.sensor;
    settings.meas_quantity = quantity;
    settings.meas_mode = v.mode;
    for (int i = 0; i < BOX_COUNT; ++i) *lists[i] = v.lists[i];
    settings.meas_params_changed = 1;
    settings_save();
    results_reset();
    return MEAS_SETUP_STORED;
}

}  // namespace

// The indices relate as fmax = lines + spectrum step - 2 and duration =
// samples + signal step - 1; the two sets match when samples = lines,
// duration = 5 - spectrum step and signal step = 4 - fmax.
MeasGeometry meas_geometry_couple(MeasGeometry g, int changed)
{
    const auto spectrum_from_step = [&g] {  // keep the step, fit fmax, then the step to it
        g.fmax = std::clamp(g.lines + g.spectrum_step - 2, 1, FMAX_MAX);
        g.spectrum_step = std::clamp(g.fmax - g.lines + 2, 1, SPECTRUM_STEP_MAX);
    };
    const auto spectrum_from_fmax = [&g] {
        g.spectrum_step = std::clamp(g.fmax - g.lines + 2, 1, SPECTRUM_STEP_MAX);
        g.fmax = std::clamp(g.lines + g.spectrum_step - 2, 1, FMAX_MAX);
    };
    const auto signal_from_step = [&g] {
        g.duration = std::clamp(g.samples + g.signal_step - 1, 1, DURATION_MAX);
        g.signal_step = std::clamp(g.duration - g.samples + 1, 1, SIGNAL_STEP_MAX);
    };
    const auto signal_from_duration = [&g] {
        g.signal_step = std::clamp(g.duration - g.samples + 1, 1, SIGNAL_STEP_MAX);
        g.duration = std::clamp(g.samples + g.signal_step - 1, 1, DURATION_MAX);
    };
    const auto signal_follows = [&g] {
        g.samples = g.lines;
        g.duration = std::clamp(5 - g.spectrum_step, 1, DURATION_MAX);
        g.signal_step = std::clamp(4 - g.fmax, 1, SIGNAL_STEP_MAX);
    };
    const auto spectrum_follows = [&g] {
        g.lines = g.samples;
        g.spectrum_step = std::clamp(5 - g.duration, 1, SPECTRUM_STEP_MAX);
        g.fmax = std::clamp(4 - g.signal_step, 1, FMAX_MAX);
    };
    switch (changed) {
    case SETUP_FIELD_SPECTRUM_STEP:
    case SETUP_FIELD_LINES:
        spectrum_from_step();
        signal_follows();
        break;
    case SETUP_FIELD_FMAX:
        spectrum_from_fmax();
        signal_follows();
        break;
    case SETUP_FIELD_SIGNAL_STEP:
    case SETUP_FIELD_SAMPLES:
        signal_from_step();
        spectrum_follows();
        break;
    case SETUP_FIELD_DURATION:
        signal_from_duration();
        spectrum_follows();
        break;
    default: break;
    }
    return g;
}

int meas_setup_screen()
{
    SetupScreen s{};
    build_form(s, values_from_settings());
    show_geometry_values(s);
    apply_mode(s);
    draw_screen(s);

    for (;;) {
        frame_status();
        form_colours();
        // The form redraws a field's strip when the focus leaves it.
        const u8 mode = image_mode;
        image_mode = STRIP_IMAGE_MODE;
        const i32 result = form_poll(&s.form, nullptr);
        image_mode = mode;
        if (power_off_flag || result == POLL_ESC) return MEAS_SETUP_UNCHANGED;
        if (result == POLL_FOCUS_MOVED) {
            draw_focus(s);
        } else if (result == POLL_CHANGED) {
            value_changed(s, s.form.sel);
        } else if (result == SETUP_FIELD_BEARING) {
            bearing_select_screen();
            if (power_off_flag) return MEAS_SETUP_UNCHANGED;
            draw_screen(s);
        } else if (result >= SETUP_FIELD_SENSOR && result < SETUP_FIELD_BEARING) {
            return store_if_changed(s);
        }
        softbar_update(&s.keys);
        idle_yield();
    }
}
