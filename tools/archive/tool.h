// tarvik2-archive: commands over an archive image (flash.dat) through the
// instrument's own storage, record and route code. Each command lives in a
// file of its own and enters itself in the command table with a
// ToolCommandRegistrar; tool_main parses the common options, opens and
// mounts the archive as the command needs it and runs the command.
#pragma once
#include <string>
#include <vector>

#include "base/types.h"

// Exit status of the tool.
enum : int {
    TOOL_OK = 0,      // done; for verify: no damage found
    TOOL_DAMAGE = 1,  // verify found damage
    TOOL_USAGE = 2,   // a usage error, or a file that cannot be read or written
};

// What a command does with the archive. Writing commands take the data
// folder's lock (refusing while an emulator or another writer holds it);
// reading commands run alongside.
enum class ToolAccess { None, Read, Write };

struct ToolCommand {
    const char* name;      // first word on the command line: "info", "route", ...
    const char* synopsis;  // the arguments after the name, for the usage text
    const char* summary;   // one line for the usage text
    ToolAccess access;
    // Runs with the archive mounted (unless access is None); `args` are the
    // words after the command's name. Returns the exit status.
    int (*run)(const std::vector<std::string>& args);
};

// A file-scope ToolCommandRegistrar enters its command in the table.
struct ToolCommandRegistrar {
    explicit ToolCommandRegistrar(const ToolCommand& command);
};
// The commands in the order of their names.
std::vector<ToolCommand> tool_commands();

// Prints "tarvik2-archive: MESSAGE" on stderr (its control characters escaped,
// see printable) and returns TOOL_USAGE.
int tool_error(const std::string& message);

// Takes the arguments of a command whose one option is --json: false
// (after a message naming `command`) for anything else.
bool tool_json_option(const std::vector<std::string>& args, const char* command, bool* json);

// The image file the command works on (set before the command runs; a
// command of access None opens it itself when it needs it).
const std::string& tool_flash_path();

// Reads the whole file `path` (a regular file or a block device; a FIFO or
// a folder is refused without waiting) into `text`, refusing one larger than
// `max_bytes` before reading it ("`what` has at most ..."). false with
// `error` naming the file.
bool tool_read_file(const std::string& path, u64 max_bytes, const std::string& what, std::string* text,
                    std::string* error);

// Opens the image file (a regular file or a block device; anything else is
// refused without waiting on it), identifies the chip and mounts the archive
// as the instrument does (object names read for the order). Read access
// changes nothing in the file. false with `error` naming the file and the
// fault.
bool tool_open_archive(const std::string& flash_path, ToolAccess access, std::string* error);
// Closes the image (and gives the folder's lock back).
void tool_close_archive();

// The whole program: `argv` as main gets it. Returns the exit status.
int tool_main(int argc, char** argv);
