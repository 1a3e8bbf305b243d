// The web page's hosts of the instrument code. The code runs on the
// browser's main thread; every wait of the device services gives the browser
// its turn (Asyncify unwinds the stack into the browser's event loop and
// rewinds it when the time is up).
#pragma once
#include <ctime>

#include "host/hostif.h"

// Real time, as the window runs it: the millisecond clock and the 31 ms tick
// follow the browser's monotonic clock, and the screen is painted at most
// every 100 ms when the code has yielded a new one; a pass of the instrument
// code comes every millisecond on average (the browser's timers wake in
// steps of a few milliseconds; the passes missed meanwhile run at once), at
// rest (nothing measures, the archive mounted, no input for 2 s) with each
// tick instead, or at once when input comes.
class WebRealHost final : public HostInterface {
public:
    WebRealHost();
    void pump() override;
    void sleep_1ms() override;
    u32 millis() override;
    HostDateTime local_time() override;
    bool shift_held() override { return shift_ || mod_toggle_; }

    // Input came (a key, a click, a touch): the 1 ms passes come back.
    void input() { last_input_ms_ = now_ms(); }
    void set_shift(bool down) { shift_ = down; }
    void set_mod_toggle(bool down) { mod_toggle_ = down; }
    bool mod_toggle() const { return mod_toggle_; }

private:
    double now_ms() const;

    double start_ms_;
    double last_input_ms_;
    double last_paint_ms_ = 0;
    double pass_due_ms_ = 0;
    double last_yield_ms_ = 0;
    u32 ticks_given_ = 0;
    bool shift_ = false;
    bool mod_toggle_ = false;
    std::time_t local_second_ = -1;
    HostDateTime local_{};
};

// The browser's turn: returns after at least `ms` milliseconds (0: as soon
// as the browser has handled what is waiting).
void web_wait(int ms);
// Milliseconds on the browser's monotonic clock.
double web_now_ms();
