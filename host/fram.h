// The 32 KB parameter memory, kept in fram.dat in the data folder.
#pragma once
#include "base/types.h"

constexpr u32 FRAM_SIZE = 32768;

// Warns again about the next problem with fram.dat (state at power-on).
void fram_reset();
// Opens fram.dat for reading and writing (creating it when missing) and
// lengthens a short file with 1024-byte blocks of 0xFF. Returns a file
// descriptor, or -1 when the file cannot be used (reported once on stderr).
int fram_open();
// Bytes written: n, or 0 when fram.dat cannot be used, the write fails or the
// power is cut.
u32 fram_write(u32 offset, const void* data, u32 n);
// Bytes read (fewer than n at the end of the file), 0 when fram.dat cannot be
// used.
u32 fram_read(u32 offset, void* buffer, u32 n);
// Clears the buffer, then reads; always 1.
int param_read(u32 offset, void* buffer, u32 n);
// Writes and reads back up to 8 times; 1 at the first exact match, else 0.
int param_write_verified(u32 offset, const void* data, u32 n);
// Power-cut simulation for tests, as for the flash: every fram_write is
// counted; once the count reaches the cut point nothing more is written
// until power returns (fram_reset also restores it).
u64 fram_writes_made();
void fram_cut_power_at(u64 write_count);
void fram_restore_power();
// Reads a block with a checksum16 field at byte `field` up to 8 times until
// the checksum matches: 1 then, else 0 (the buffer holds the last read).
int param_read_checked(u32 offset, void* buffer, u32 n, u32 field);
