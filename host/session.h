// One emulator run: open or create flash.dat, call the instrument's main
// routine, close the file again. Shared by every host.
#pragma once
#include <string>

#include "base/types.h"

constexpr u64 FLASH_FILE_SIZE = 276824064ull;  // 131072 pages of 2112 bytes

// Handle of the open flash.dat; 0 while it is closed.
extern int flash_handle;

// Folder that holds flash.dat and fram.dat ("" = the current folder).
void data_dir_set(const std::string& dir);
const std::string& data_dir();
std::string data_path(const char* name);

// The routine that emu_run calls: the instrument's main routine, which
// returns after power-off. Each host hands it over before the first run.
using MainRoutine = int (*)();
void emu_set_main(MainRoutine routine);

// Told after each block while a missing flash.dat is written as an erased
// chip (276 MB, a few seconds), with the blocks written and the total;
// returning false gives the file up (the part written is removed). The
// window installs one to show the progress; nullptr removes it.
using FlashProgress = bool (*)(u32 done, u32 total);
void flash_file_set_progress(FlashProgress progress);
constexpr u32 FLASH_FILE_BLOCKS = 16384;  // blocks of 16896 bytes

// Adds a file the run opens or creates in the data folder (flash.dat,
// fram.dat) to the lock on the folder that the program holds, so that a file
// made during the run is locked from then on. A program that locks its data
// folder installs the cover (front/common/instance.h). data_lock_cover
// returns true when the file may be used (also when no cover is installed:
// tests, reading tools), false with `error` when another program holds it.
using DataLockCover = bool (*)(int fd, const std::string& path, std::string* error);
void data_lock_set_cover(DataLockCover cover);
bool data_lock_cover(int fd, const std::string& path, std::string* error);

// Opens flash.dat (creating it as an erased chip when it is missing).
// Returns the handle, 0 on failure; a failure is described in `error`.
int flash_file_open(std::string* error);
void flash_file_close();

// The whole run: power-off flag cleared, flash.dat opened, the main routine
// called, flash.dat closed. A power-off while a new flash.dat is being
// written ends the run before the main routine. emu_running() is true while
// a run is in progress.
void emu_run();
bool emu_running();
