// The instrument's main routine, start-up and the archive mounting job.
#pragma once
#include "base/types.h"

// Archive mounting job: 2 not started, 1 scanning, 0 mounted, 3 failed.
enum : u8 { ARCHIVE_MOUNTED = 0, ARCHIVE_SCANNING = 1, ARCHIVE_NOT_STARTED = 2, ARCHIVE_FAILED = 3 };
extern u8 archive_state;

int instrument_main();
void startup_init();
void idle_job();
void archive_step();
int archive_idle();
int archive_wait();

// Main menu and special-measurements menu (app/main_menu.cpp).
void main_menu();
void special_menu();
// The clock check at the start of the main menu.
void clock_check();
