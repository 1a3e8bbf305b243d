// The volume: a slider over the volume panel in steps of 10, and the
// microphone modes with the recording mode's key.
#include "app/settings_screens.h"
#include "base/cp1251.h"
#include "gfx/frame.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/settings.h"
#include "host/sound.h"

namespace {

constexpr int VOLUME_MIN = 0, VOLUME_MAX = 100, VOLUME_STEP = 10;
constexpr i32 PANEL_X = 80, PANEL_Y = 110;
constexpr i32 SLIDER_X0 = 107, SLIDER_Y = 130;  // the slider at x SLIDER_X0 + volume
constexpr int MODE_COUNT = 3, MODE_RECORD = 2;
constexpr i32 SLOT_OK = -1, SLOT_MIC = -2, SLOT_RECORD = -3, SLOT_QUIETER = -4, SLOT_LOUDER = -5;
constexpr u8 STATE_FONT = 6;
constexpr i32 STATE_X = 160, RECORDING_Y = 50, PLAYING_Y = 74;
constexpr const char* BLANK_LINE = "                  ";  // 18 blanks
constexpr int NOT_DRAWN = -1;
constexpr u8 SLIDER_MODE = 5;  // pixels of the foreground colour are left untouched

void draw_volume(int v)
{
    image_draw_plain(PANEL_X, PANEL_Y, image_set[IMG_VOLUME_PANEL]);
    const u8 mode = image_mode;
    const u16 fg = fg_color;
    image_mode = SLIDER_MODE;
    fg_color = COLOR_BACKGROUND;  // the slider's corners
    image_draw(SLIDER_X0 + v, SLIDER_Y, img_slider_mark);
    image_mode = mode;
    fg_color = fg;
}

void draw_sound_state(int mode)
{
    const u8 font = font_current;
    font_select(STATE_FONT);
    bg_color = COLOR_BACKGROUND;
    const bool record_mode = mode == MODE_RECORD;
    fg_color = COLOR_RED;
    text_draw(STATE_X, RECORDING_Y, record_mode && snd_recording ? "     ЗАПИСЬ    "_cp : BLANK_LINE, TF_HCENTER);
    if (record_mode) fg_color = COLOR_BLUE;
    text_draw(STATE_X, PLAYING_Y, record_mode && snd_playing ? "ВОСПРОИЗВЕДЕНИЕ"_cp : BLANK_LINE, TF_HCENTER);
    font_select(font);
}

}  // namespace

void volume_screen()
{
    screen_enter("Настройка громкости     "_cp);
    softkey_draw(SLOT_OK, "Ok");
    softkey_draw(SLOT_QUIETER, "Гром-"_cp);
    softkey_draw(SLOT_LOUDER, "Гром+"_cp);
    softkey_draw(SLOT_MIC, "Мик"_cp);

    int v = settings.volume > static_cast<u32>(VOLUME_MAX) ? VOLUME_MAX : static_cast<int>(settings.volume);
    int mode = 0;
    bool holding = false;
    for (;;) {
        if (mode == MODE_RECORD)
            softkey_draw(SLOT_RECORD, "Зап"_cp);
        else
            softkey_clear(SLOT_RECORD);
        draw_volume(v);
        int drawn = NOT_DRAWN;
        for (;;) {
            frame_status();
            const u16 key = key_poll();
            if (key == KEY_LEFT) v = v - VOLUME_STEP < VOLUME_MIN ? VOLUME_MIN : v - VOLUME_STEP;
            if (key == KEY_RIGHT) v = v + VOLUME_STEP > VOLUME_MAX ? VOLUME_MAX : v + VOLUME_STEP;
            if (key == KEY_UP) {
                mode = (mode + 1) % MODE_COUNT;
                break;
            }
            if (v != drawn) {
                draw_volume(v);
                drawn = v;
            }
            if (mode == MODE_RECORD && key_held(KEY_DOWN) != holding) {
                if (holding) {  // Down released: the recording is played back
                    holding = false;
                    snd_default_length();
                    snd_capture_to_wav(snd_wav, snd_samples);
                    if (snd_loaded) {
                        snd_wav_to_playback(snd_wav);
                        snd_play_start();
                    }
                } else {  // Down pressed: a new recording
                    snd_play_stop();
                    snd_reset();
                    holding = true;
                }
            }
            draw_sound_state(mode);
            if (key == KEY_ENTER) {
                settings.volume = static_cast<u32>(v);
                settings_save();
                return;
            }
            if (key == KEY_ESC || power_off_flag) return;
            idle_yield();
        }
    }
}
