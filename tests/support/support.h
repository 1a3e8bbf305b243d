// Helpers shared by the tests.
#pragma once
#include <string>
#include <vector>

#include "base/types.h"
#include "front/common/virtual_host.h"

// A fresh empty folder under the system's temporary folder, removed again
// when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Installs a VirtualHost and resets the device services and the drawing
// state; puts the quiet host back at the end.
class VirtualHostScope {
public:
    VirtualHostScope();
    ~VirtualHostScope();
    VirtualHost host;
};

std::vector<u8> read_file_bytes(const std::string& path);
void write_file_bytes(const std::string& path, const std::vector<u8>& data);
// The same with the bytes in a string.
std::string read_text_file(const std::string& path);
void write_text_file(const std::string& path, const std::string& text);
// Size of the file in bytes and whether every byte equals `value`.
bool file_all_bytes(const std::string& path, u8 value, u64* size);

// Runs the headless runner with the given arguments (each quoted for the
// shell); returns its exit status and collects stdout+stderr.
struct RunResult {
    int status;
    std::string output;
};
RunResult run_runner(const std::vector<std::string>& args);
// Runs a shell command with standard input from /dev/null; returns its exit
// status and collects stdout+stderr.
RunResult run_command(const std::string& command);
// `s` quoted for the shell.
std::string shell_quote(const std::string& s);
// Runs the archive tool with `args` (as shell words) on the flash.dat of
// `data_dir` ("" for none: `args` alone).
RunResult run_archive_tool(const std::string& data_dir, const std::string& args);
// The names of the files in a folder, sorted.
std::vector<std::string> files_in(const std::string& dir);
// The path of the one file of `dir` that the archive tool exported for
// measurement `id` with a name ending in `_ID` + `tail` (".csv",
// "-shock.csv", ...); "" (and a failure) when there is none or more than one.
std::string exported(const std::string& dir, u32 id, const std::string& tail);
// When the file was last written to, in nanoseconds (0 when it cannot be
// examined, which also fails the test).
u64 last_written_ns(const std::string& path);

// Reads a PNG screenshot as 320 x 240 RGB565 pixels (empty when unreadable).
std::vector<u16> load_screenshot(const std::string& path);

// Posts the keys one after another from the host's event pump: each key
// once the previous one has been taken and `gap` more pumps have passed.
// When the keys are used up and 100000 more pumps pass, the power-off flag
// is set so that code still waiting for keys unwinds.
void script_keys(VirtualHost& host, std::vector<u32> keys, int gap = 3);

// True when the w x h area at (x, y) of a 320 x 240 picture equals the
// unpacked image (all its pixels).
bool region_is_image(const std::vector<u16>& px, int x, int y, const u16* image);

// Renders text the way a screen does (font, flags, colours) on a cleared
// copy of the screen and tells whether the cells it covers in `px` match.
bool region_has_text(const std::vector<u16>& px, int x, int y, const char* text, int font, u32 flags, u16 fg, u16 bg);
