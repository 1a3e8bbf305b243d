// One emulator per data folder: a window or runner holds a lock on its data
// folder while it runs, so that a second one on the same folder can refuse to
// start before it touches flash.dat or fram.dat. The lock is an advisory
// lock on the folder itself (no lock file is left behind) and goes with the
// process, also when it crashes.
#pragma once
#include <string>

class DataDirLock {
public:
    DataDirLock() = default;
    ~DataDirLock();
    DataDirLock(const DataDirLock&) = delete;
    DataDirLock& operator=(const DataDirLock&) = delete;

    // Takes the lock of `folder` ("" = the current folder). Returns false
    // with `error` when another program holds it or the folder cannot be
    // opened; `busy` tells the first case from the second.
    bool acquire(const std::string& folder, std::string* error, bool* busy = nullptr);
    // Gives the lock back (also done by the destructor).
    void release();
    // True while this object holds a lock.
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};
