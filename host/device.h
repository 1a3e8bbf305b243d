// Device services: keys, ticks, idling, delays, clock and the pseudo-random
// generator. Everything the instrument code waits for goes through here.
#pragma once
#include "base/types.h"

// Key codes.
enum : u32 {
    KEY_MOD = 1,
    KEY_ESC = 2,
    KEY_ENTER = 3,
    KEY_UP = 4,
    KEY_DOWN = 5,
    KEY_LEFT = 6,
    KEY_RIGHT = 7,
    KEY_SHIFT = 128,
    KEY_NONE = 65535,
};
// Bits 16-30 of a key word: how often a held key has repeated.
constexpr u32 KEY_REPEAT_SHIFT = 16;
constexpr u32 KEY_REPEAT_MAX = 0x7FFF;

// Globals shared with the host window.
extern volatile u32 pending_key;    // last posted key not yet taken; 65535 = none
extern volatile u8 power_off_flag;  // set by the host; then every poll answers Esc
extern volatile u8 screen_dirty;    // set by idle_yield, cleared by the paint handler
extern volatile u32 tick_counter;   // advanced by the host's 31 ms timer
extern void (*idle_callback)();     // run by a poll that finds no key
extern u8 busy_flag;                // busy mark: a screen is measuring
extern u32 last_activity_tick;      // last key taken or last busy release

void key_post(u32 code);
// Takes the posted key: its code, KEY_NONE when
// none is waiting (the idle callback runs then), KEY_ESC after a power-off.
u32 key_poll_raw();
// key_poll_raw in 16 bits: a key code, or KEY_NONE.
u16 key_poll();
// Polls until a key comes: its code (KEY_ESC after a power-off).
u16 key_wait();
// The first key polled, or `default_code` once `seconds` have passed (0.09 or
// less: waits without a limit).
u16 key_wait_timeout(float seconds, u16 default_code);
void idle_yield();
void keys_reset();
u32 ticks_now();
void delay_ms(u32 ms);
void busy_mark();
void busy_release();
// true while `code` is KEY_MOD and the host's Shift or Mod toggle is down.
bool key_held(u32 code);
// The clock (year as two digits); always true.
bool rtc_read(u16* year, u16* month, u16* day, u16* hours, u16* minutes, u16* seconds);
// The clock is the desktop's: sets nothing; always true.
bool rtc_write(u16 year, u16 month, u16 day, u16 hours, u16 minutes, u16 seconds);
// The clock now as a packed date-time stamp.
u32 pack_now();

// The project's own pseudo-random generator: values 0..32767, the same
// sequence on every platform for the same seed.
void rand_seed(u32 seed);
// The next value, 0..RAND_NEXT_MAX.
int rand_next();
constexpr int RAND_NEXT_MAX = 32767;

// Puts every device-service global back to its initial value (tests and the
// start of a run).
void device_reset();
