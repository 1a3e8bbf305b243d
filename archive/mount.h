// The archive mounting job: the flash file system is initialised and its
// directory scanned step by step in the background (from the idle
// callback) while the user already works; screens that need the archive
// wait for the end of the scan.
#pragma once
#include "base/types.h"

// Archive mounting job: 2 not started, 1 scanning, 0 mounted, 3 failed.
enum : u8 { ARCHIVE_MOUNTED = 0, ARCHIVE_SCANNING = 1, ARCHIVE_NOT_STARTED = 2, ARCHIVE_FAILED = 3 };
extern u8 archive_state;

// One step of the job: the file system's initialisation (an error box when
// it fails), then one scan step, then the end of the mount.
void archive_step();
// 1 when the job has ended (mounted or failed), else 0.
int archive_idle();
// Runs the job to its end behind "Поиск и загрузка файлов...": 1 when the
// archive is mounted, 0 when it failed or the power went off.
int archive_wait();
// The job not started (state at power-on).
void archive_mount_reset();
