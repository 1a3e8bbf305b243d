// The host interface: the only way the instrument code reaches the desktop.
// Every host (the Qt window, the headless runner, the tests) plugs in one
// implementation of it with host_install().
#pragma once
#include "base/types.h"

struct HostDateTime {
    int year;    // full year, e.g. 2026
    int month;   // 1..12
    int day;     // 1..31
    int hour;    // 0..23
    int minute;  // 0..59
    int second;  // 0..59
};

class HostInterface {
public:
    virtual ~HostInterface() = default;
    // Runs the desktop event loop once (timers, input, painting).
    virtual void pump() = 0;
    // Sleeps one millisecond.
    virtual void sleep_1ms() = 0;
    // A free-running millisecond clock (the instrument's GetTickCount).
    virtual u32 millis() = 0;
    // The local calendar date and time.
    virtual HostDateTime local_time() = 0;
    // True while the PC Shift key is down or the window's Mod toggle is down.
    virtual bool shift_held() = 0;
    // Seed for the pseudo-random generator at start-up: the calendar time
    // (seconds since 1970) unless the host fixes it.
    virtual u32 random_seed();
};

// Installs the host; nullptr installs a quiet built-in host that does
// nothing, sleeps for real and reads the real clock.
void host_install(HostInterface* host);
HostInterface& host();
