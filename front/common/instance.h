// One emulator per data folder and one writer per image: a window, runner or
// writing command of the archive tool holds a lock on its data folder and on
// the files it writes there (the flash image and fram.dat) while it runs, so
// that a second one refuses to start before it touches them. The files are
// locked themselves, so a link to them from another folder (symbolic or hard)
// meets the same lock. The locks are advisory locks on the folder and the
// files (no lock file is left behind) and go with the process, also when it
// crashes.
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

class DataDirLock {
public:
    DataDirLock() = default;
    ~DataDirLock();
    DataDirLock(const DataDirLock&) = delete;
    DataDirLock& operator=(const DataDirLock&) = delete;

    // Takes the lock of `folder` ("" = the current folder) and of its
    // fram.dat and of the image (`image`, "" = flash.dat in the folder), of
    // those that exist. Returns false with `error` when another program
    // holds one of them or the folder cannot be opened; `busy` tells the
    // first case from the second. A file the run makes later is added
    // through the cover this installs (data_lock_cover, host/session.h).
    bool acquire(const std::string& folder, std::string* error, bool* busy = nullptr, const std::string& image = "");
    // Gives the lock back (also done by the destructor).
    void release();
    // True while this object holds a lock.
    bool held() const { return fd_ >= 0; }

    // Adds the file open on `fd` to the lock (a no-op when it holds the file
    // already). False with `error` when another program holds that file.
    bool cover(int fd, const std::string& path, std::string* error);

private:
    // Locks the file at `path` when it exists; false only when it is busy.
    bool lock_file(const std::string& path, std::string* error);
    // The same for the file open on `fd` (not a regular file: nothing to
    // lock); false with `error` only when another program holds it.
    bool lock_open_file(int fd, const std::string& path, std::string* error);

    struct File {
        int fd;
        dev_t dev;
        ino_t ino;
    };
    int fd_ = -1;
    std::vector<File> files_;
};

// A program whose image another program changed under it (see
// nand_set_changed_hook) ends at once with one line on standard error and an
// error status, writing nothing more. image_changed_prepare names the program,
// the image and the status; image_changed_exit, safe in a signal handler,
// says it and ends the program.
void image_changed_prepare(const char* program, const std::string& image, int status);
[[noreturn]] void image_changed_exit();
