// One reset list for the whole instrument.
#pragma once

// Puts the state of every module back to what it is at power-on, lowest
// layer first: device services, sound, settings; drawing, texts, dialogs;
// flash device, file system, directory; objects; signal store, measures,
// shock-pulse analysis, measuring module; bearing catalogue; archive job.
// Start-up runs it first; tests run it before each case. The host's own
// configuration (data folder, main routine, open flash.dat) stays.
void system_reset();
