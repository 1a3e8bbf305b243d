// One reset list for the whole instrument.
#pragma once

// Puts the state of every module back to what it is at power-on, lowest
// layer first: device services, sound, parameter memory, settings; drawing,
// texts, dialogs; flash device, file system, directory; signal store,
// measures, shock-pulse analysis, measuring module, calibration block; objects; bearing
// catalogue; archive job. Each module's reset touches only its own state.
// Start-up runs it first; tests run it before each case. The host's own
// configuration (data folder, main routine, open flash.dat) stays.
void system_reset();
