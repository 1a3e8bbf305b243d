#include "screens/saved_dialog.h"

#include "archive/measurement.h"
#include "base/cp1251.h"
#include "data/images.h"
#include "gfx/frame.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/sound.h"

namespace {

// Places on the saved dialog.
constexpr i32 DIALOG_X = 1;
constexpr i32 DIALOG_Y = 50;
constexpr i32 MARK_X = 281;
constexpr i32 MARK_Y = 141;
constexpr i32 MARK_W = 33;
constexpr i32 MARK_H = 34;
constexpr u8 DIALOG_FONT = 4;
constexpr u32 DIALOG_TEXT = TF_HCENTER | TF_TRANSPARENT;
constexpr u8 IMAGE_MODE_COPY = 0;
constexpr u8 IMAGE_MODE_WHITE_CLEAR = 3;  // white pixels left as they are

// Shows or hides the recording mark of the saved dialog.
void draw_recording_mark(bool recording)
{
    if (recording) {
        image_mode = IMAGE_MODE_WHITE_CLEAR;
        image_draw(MARK_X, MARK_Y, image_set[IMG_RECORD_MARK]);
    } else {
        image_mode = IMAGE_MODE_COPY;
        image_draw_part(MARK_X, MARK_Y, MARK_X - DIALOG_X, MARK_Y - DIALOG_Y, MARK_W, MARK_H,
                        image_set[IMG_SAVED_DIALOG]);
    }
}

void draw_saved_dialog(const char* label)
{
    image_mode = IMAGE_MODE_COPY;
    image_draw(DIALOG_X, DIALOG_Y, image_set[IMG_SAVED_DIALOG]);
    font_select(DIALOG_FONT);
    fg_color = COLOR_WHITE;
    text_draw(160, 58, "Внимание !"_cp, DIALOG_TEXT);
    fg_color = COLOR_BLACK;
    text_draw(184, 94, "Замер сохранен"_cp, DIALOG_TEXT);
    text_draw(184, 114, label, DIALOG_TEXT);
    text_draw(120, 152, "Ok", DIALOG_TEXT);
    text_draw(240, 152, "Голос"_cp, DIALOG_TEXT);
    draw_recording_mark(false);
}

// The recorder of the device services. The emulated instrument has no
// microphone: the capture buffer stays silent, and there is no level to set.
void recording_start()
{
    snd_play_stop();
    snd_reset();
}

}  // namespace

void meas_saved_dialog(const char* label, const FileHandle* h)
{
    const u16 fg = fg_color, bg = bg_color;
    const u8 mode = image_mode, font = font_current;
    keys_reset();
    draw_saved_dialog(label);
    bool recording = false;
    for (;;) {
        frame_status();
        idle_yield();
        const u16 key = key_poll();  // Esc at power-off
        if (key == KEY_ESC || key == KEY_ENTER) break;
        if (key != KEY_DOWN) continue;
        recording = !recording;
        if (recording) recording_start();
        draw_recording_mark(recording);
        if (!recording) meas_store_note(h->first);
    }
    // A recording still running is dropped: the file stays as it was.
    if (recording) snd_reset();
    fg_color = fg;
    bg_color = bg;
    image_mode = mode;
    font_select(font);
}
