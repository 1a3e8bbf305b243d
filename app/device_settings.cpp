// The device settings: date and time, shown live and edited in place, and
// the automatic power-off and backlight delays on two option bars.
#include "app/settings_screens.h"
#include "base/cp1251.h"
#include "base/text.h"
#include "gfx/dialog.h"
#include "gfx/form.h"
#include "gfx/frame.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/settings.h"

namespace {

// Fields of the form, by the numbers its poll returns.
enum : i32 { FIELD_DATE = 1, FIELD_TIME = 2, FIELD_POWER_OFF = 3, FIELD_BACKLIGHT = 4, FIELD_SAVE = 5 };

constexpr i32 SLOT_SAVE = -1;           // soft key of Enter
constexpr u8 KEEP_FOREGROUND_MODE = 5;  // image mode: pixels of the foreground colour stay as they are
constexpr u8 LABEL_FONT = 4, CLOCK_FONT = 6;
constexpr u32 LABEL_FLAGS = TF_SHADOW_DR | TF_TRANSPARENT;
constexpr i32 LABEL_X = 10;
constexpr i32 DATE_LABEL_Y = 40, TIME_LABEL_Y = 70, POWER_LABEL_Y = 100, BACKLIGHT_LABEL_Y = 156;
constexpr i32 CLOCK_X = 140, DATE_Y = 40, TIME_Y = 70;
constexpr i32 BAR_X = 62, POWER_BAR_Y = 120, BACKLIGHT_BAR_Y = 176;
constexpr u32 BAR_MIN_CHARS = 6;
constexpr i32 CLOCK_MARK_X = 106, DATE_MARK_Y = 36, TIME_MARK_Y = 66;
constexpr i32 BAR_MARK_X = 30, POWER_MARK_Y = 122, BACKLIGHT_MARK_Y = 178;
constexpr i32 SAVE_MARK_X = 20, SAVE_MARK_Y = 188;
constexpr u8 DELAY_MAX = 2;  // stored delays run 0..2; larger ones show as the first option

// Option of a stored delay (1-based).
u8 option_of(u8 stored)
{
    return stored > DELAY_MAX ? 1 : static_cast<u8>(stored + 1);
}

void draw_labels()
{
    const u8 font = font_current;
    font_select(LABEL_FONT);
    fg_color = COLOR_BLACK;
    text_draw(LABEL_X, DATE_LABEL_Y, "Дата:"_cp, LABEL_FLAGS);
    text_draw(LABEL_X, TIME_LABEL_Y, "Время:"_cp, LABEL_FLAGS);
    text_draw(LABEL_X, POWER_LABEL_Y, "Отключение прибора:"_cp, LABEL_FLAGS);
    text_draw(LABEL_X, BACKLIGHT_LABEL_Y, "Отключение подсветки:"_cp, LABEL_FLAGS);
    font_select(font);
}

void form_colours()
{
    fg_color = COLOR_FORM_TEXT;
    bg_color = COLOR_BACKGROUND;
    outline_color = COLOR_WHITE;
}

struct Clock {
    u16 year, month, day, hours, minutes, seconds;  // year modulo 100, as the clock gives it
};

Clock clock_now()
{
    Clock c{};
    rtc_read(&c.year, &c.month, &c.day, &c.hours, &c.minutes, &c.seconds);
    return c;
}

void draw_clock()
{
    fg_color = COLOR_BLACK;
    bg_color = COLOR_BACKGROUND;
    const u8 font = font_current;
    font_select(CLOCK_FONT);
    const u32 now = pack_now();
    char text[16];
    text_draw(CLOCK_X, DATE_Y, format_date(now, text), 0);
    text_draw(CLOCK_X, TIME_Y, format_time(now, text), 0);
    font_select(font);
}

// The editors draw in the clock's font and colours.
void editor_colours()
{
    font_select(CLOCK_FONT);
    fg_color = COLOR_BLACK;
    bg_color = COLOR_BACKGROUND;
}

void edit_date()
{
    Clock c = clock_now();
    editor_colours();
    u32 last = KEY_NONE;
    date_edit(CLOCK_X, DATE_Y, &c.day, &c.month, &c.year, &last);
    if (last == KEY_ENTER) rtc_write(c.year, c.month, c.day, c.hours, c.minutes, c.seconds);
}

void edit_time()
{
    Clock c = clock_now();
    editor_colours();
    u32 last = KEY_NONE;
    time_edit(CLOCK_X, TIME_Y, &c.hours, &c.minutes, &c.seconds, &last);
    if (last == KEY_ENTER) rtc_write(c.year, c.month, c.day, c.hours, c.minutes, c.seconds);
}

// The markers of the fields, the focused one with its focus picture. The
// markers of the backlight bar and of the last field overlap: their
// pictures are drawn once more without their background, so that both
// show whole.
void draw_markers(const FormWidget* form)
{
    form_draw_focus(form);
    const u8 mode = image_mode;
    const u16 fg = fg_color;
    image_mode = KEEP_FOREGROUND_MODE;
    fg_color = COLOR_BACKGROUND;
    for (int n : {FIELD_BACKLIGHT, FIELD_SAVE}) {
        const FormField& f = form->fields[n - 1];
        image_draw(f.x, f.y, form->sel == n ? f.focus_image : f.normal_image);
    }
    image_mode = mode;
    fg_color = fg;
}

}  // namespace

void device_settings_screen()
{
    screen_enter("Настройки параметров    "_cp);
    softkey_draw(SLOT_SAVE, "Зап"_cp);
    draw_labels();

    OptionBar power_off, backlight;
    option_init(&power_off, BAR_X, POWER_BAR_Y, LABEL_FONT, BAR_MIN_CHARS, KEY_LEFT, KEY_RIGHT);
    option_add(&power_off, "нет"_cp);
    option_add(&power_off, "10 мин"_cp);
    option_add(&power_off, "30 мин"_cp);
    power_off.current = option_of(settings.power_off_delay);
    option_init(&backlight, BAR_X, BACKLIGHT_BAR_Y, LABEL_FONT, BAR_MIN_CHARS, KEY_LEFT, KEY_RIGHT);
    option_add(&backlight, "нет"_cp);
    option_add(&backlight, "1 мин"_cp);
    option_add(&backlight, "5 мин"_cp);
    backlight.current = option_of(settings.backlight_delay);

    FormWidget form;
    form_init(&form, KEY_UP, KEY_DOWN, KEY_NONE, KEY_NONE, KEY_ENTER);
    const void* focus = image_set[IMG_FIELD_MARK_FOCUS];
    const void* mark = image_set[IMG_FIELD_MARK];
    form_add(&form, CLOCK_MARK_X, DATE_MARK_Y, focus, mark, "", FIELD_PLAIN, nullptr, KEY_NONE);
    form_add(&form, CLOCK_MARK_X, TIME_MARK_Y, focus, mark, "", FIELD_PLAIN, nullptr, KEY_NONE);
    form_add(&form, BAR_MARK_X, POWER_MARK_Y, focus, mark, "", FIELD_OPTION, &power_off, KEY_NONE);
    form_add(&form, BAR_MARK_X, BACKLIGHT_MARK_Y, focus, mark, "", FIELD_OPTION, &backlight, KEY_NONE);
    form_add(&form, SAVE_MARK_X, SAVE_MARK_Y, focus, img_field_mark_plain, "", FIELD_PLAIN, nullptr, KEY_NONE);
    form_colours();
    form_draw_widgets(&form);
    draw_markers(&form);

    for (;;) {
        frame_status();
        draw_clock();
        form_colours();
        u32 last = KEY_NONE;
        const i32 r = form_poll(&form, &last);
        if (r == POLL_ESC) return;
        if (r == FIELD_DATE || r == FIELD_TIME) {
            if (r == FIELD_DATE)
                edit_date();
            else
                edit_time();
            last = KEY_NONE;
        }
        if (r == FIELD_SAVE || last == KEY_ENTER) break;
        if (r == POLL_FOCUS_MOVED) {
            form_colours();
            draw_markers(&form);
        }
        if (power_off_flag) return;
        idle_yield();
    }
    settings.power_off_delay = static_cast<u8>(power_off.current - 1);
    settings.backlight_delay = static_cast<u8>(backlight.current - 1);
    settings_save();
}
