// A host with virtual time, for the headless runner and the tests: every
// 1 ms sleep advances the millisecond clock by 1 ms and nothing really
// sleeps; the tick counter advances every 31 virtual ms; the calendar clock
// starts at a given time and moves with the virtual clock.
#pragma once
#include <ctime>
#include <functional>

#include "host/hostif.h"

class VirtualHost : public HostInterface {
public:
    VirtualHost();
    void pump() override;
    void sleep_1ms() override;
    u32 millis() override { return ms_; }
    HostDateTime local_time() override;
    bool shift_held() override { return shift_ || mod_toggle_; }
    u32 random_seed() override;

    // Calendar time at virtual millisecond 0 (seconds since 1970, local).
    void set_clock(std::time_t start) { clock_start_ = start; }
    void set_seed(u32 seed)
    {
        seed_ = seed;
        seed_set_ = true;
    }
    void set_mod_toggle(bool down) { mod_toggle_ = down; }
    bool mod_toggle() const { return mod_toggle_; }
    void set_shift(bool down) { shift_ = down; }
    // Called from pump(): the host's event handlers.
    void set_on_pump(std::function<void()> f) { on_pump_ = std::move(f); }
    // Called after every virtual millisecond.
    void set_on_ms(std::function<void()> f) { on_ms_ = std::move(f); }
    u64 elapsed_ms() const { return elapsed_; }

    // The window's button-post rule: shifted when Mod is latched.
    void post_button(u32 code);

private:
    u32 ms_ = 0;
    u64 elapsed_ = 0;
    std::time_t clock_start_;
    u32 seed_ = 0;
    bool seed_set_ = false;
    bool mod_toggle_ = false;
    bool shift_ = false;
    std::function<void()> on_pump_;
    std::function<void()> on_ms_;
};

// Parses YYYY-MM-DDTHH:MM:SS as local time; false when malformed.
bool parse_clock(const char* text, std::time_t* out);
