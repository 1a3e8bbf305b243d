// The web page's hosts of the instrument code. The code runs on the
// browser's main thread; every wait of the device services gives the browser
// its turn (Asyncify unwinds the stack into the browser's event loop and
// rewinds it when the time is up).
#pragma once
#include <ctime>

#include "host/hostif.h"

// Real time, as the window runs it: the millisecond clock and the 31 ms tick
// follow the browser's monotonic clock; at rest (nothing measures, no input
// for 2 s) a pass of the instrument code comes every 10 ms, else every
// millisecond (as soon as the browser's timers allow).
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
