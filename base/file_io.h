// Whole reads and writes on file descriptors: short transfers and
// interrupted calls are continued until everything is moved.
#pragma once
#include <cstddef>

#include "base/types.h"

// Writes all n bytes at the file position; false on a failure.
bool fd_write_all(int fd, const void* data, size_t n);
// Writes all n bytes at `offset`; false on a failure.
bool fd_pwrite_all(int fd, const void* data, size_t n, u64 offset);
// Reads up to n bytes from `offset`, stopping early at the end of the file
// or on a failure; returns the bytes read.
size_t fd_pread_all(int fd, void* buffer, size_t n, u64 offset);
