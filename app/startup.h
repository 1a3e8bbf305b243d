// The instrument's main routine, start-up and the archive mounting job.
#pragma once
#include "base/types.h"

// Runs the instrument until the main menu is left at power-off, then saves
// the settings if changed; always returns 1.
int instrument_main();
void startup_init();
void idle_job();

// Main menu and special-measurements menu (app/main_menu.cpp).
void main_menu();
void special_menu();
// The clock check at the start of the main menu.
void clock_check();
