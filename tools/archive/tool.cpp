#include "tools/archive/tool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>

#include "app/reset.h"
#include "archive/mount.h"
#include "front/common/instance.h"
#include "front/common/virtual_host.h"
#include "host/hostif.h"
#include "host/session.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "storage/nand.h"
#include "tools/archive/text.h"

namespace {

constexpr const char* PROGRAM = "tarvik2-archive";

std::vector<ToolCommand>& table()
{
    static std::vector<ToolCommand> commands;
    return commands;
}

std::string g_flash_path;
std::unique_ptr<DataDirLock> g_lock;

std::string folder_of(const std::string& path)
{
    const std::string parent = std::filesystem::path(path).parent_path().string();
    return parent.empty() ? "." : parent;
}

// "" for a regular file or a block device (with *size its bytes), else what
// the file is.
std::string file_kind(int fd, u64* size)
{
    struct stat st {};
    if (fstat(fd, &st) != 0) return std::string("cannot be examined: ") + std::strerror(errno);
    if (S_ISREG(st.st_mode)) {
        *size = static_cast<u64>(st.st_size);
        return "";
    }
    if (S_ISBLK(st.st_mode)) {
        const off_t end = lseek(fd, 0, SEEK_END);
        *size = end < 0 ? 0 : static_cast<u64>(end);
        return "";
    }
    if (S_ISDIR(st.st_mode)) return "a folder";
    if (S_ISFIFO(st.st_mode)) return "a FIFO (named pipe)";
    if (S_ISSOCK(st.st_mode)) return "a socket";
    if (S_ISCHR(st.st_mode)) return "a character device";
    return "not a regular file";
}

void print_usage(std::FILE* out)
{
    std::fprintf(out, "usage: %s [--data DIR | --flash FILE] COMMAND ...\n\ncommands:\n", PROGRAM);
    for (const ToolCommand& c : tool_commands())
        std::fprintf(out, "  %s %s\n      %s\n", c.name, c.synopsis, c.summary);
    std::fprintf(out,
                 "\n--data DIR    the folder of flash.dat (default: the current folder)\n"
                 "--flash FILE  the image file itself\n");
}

}  // namespace

ToolCommandRegistrar::ToolCommandRegistrar(const ToolCommand& command)
{
    table().push_back(command);
}

std::vector<ToolCommand> tool_commands()
{
    std::vector<ToolCommand> sorted = table();
    std::sort(sorted.begin(), sorted.end(),
              [](const ToolCommand& a, const ToolCommand& b) { return std::strcmp(a.name, b.name) < 0; });
    return sorted;
}

int tool_error(const std::string& message)
{
    // Names and paths in the message come from the user or the image.
    std::fprintf(stderr, "%s: %s\n", PROGRAM, printable(message).c_str());
    return TOOL_USAGE;
}

bool tool_json_option(const std::vector<std::string>& args, const char* command, bool* json)
{
    *json = false;
    for (const std::string& a : args) {
        if (a != "--json") {
            tool_error(std::string(command) + ": unknown argument " + a);
            return false;
        }
        *json = true;
    }
    return true;
}

const std::string& tool_flash_path()
{
    return g_flash_path;
}

bool tool_read_file(const std::string& path, u64 max_bytes, const std::string& what, std::string* text,
                    std::string* error)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *error = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    u64 size = 0;
    std::string kind = file_kind(fd, &size);
    if (kind.empty() && size > max_bytes)
        kind = std::to_string(size) + " bytes; " + what + " has at most " + std::to_string(max_bytes);
    if (!kind.empty()) {
        *error = path + ": " + kind;
        close(fd);
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    text->clear();
    char chunk[65536];
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = path + ": cannot read: " + std::strerror(errno);
            close(fd);
            return false;
        }
        if (n == 0) break;
        text->append(chunk, static_cast<size_t>(n));
        if (text->size() > max_bytes) {  // grown since it was examined
            *error = path + ": more than " + std::to_string(max_bytes) + " bytes; " + what + " has at most " +
                     std::to_string(max_bytes);
            close(fd);
            return false;
        }
    }
    close(fd);
    return true;
}

bool tool_open_archive(const std::string& flash_path, ToolAccess access, std::string* error)
{
    tool_close_archive();
    g_flash_path = flash_path;
    if (access == ToolAccess::Write) {
        g_lock = std::make_unique<DataDirLock>();
        if (!g_lock->acquire(folder_of(flash_path), error, nullptr, flash_path)) {
            g_lock.reset();
            return false;
        }
    }
    // Not blocking in the open: a FIFO would wait for a writer for ever.
    const int fd =
        open(flash_path.c_str(), (access == ToolAccess::Write ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *error = flash_path + ": cannot open: " + std::strerror(errno);
        tool_close_archive();
        return false;
    }
    u64 size = 0;
    const std::string kind = file_kind(fd, &size);
    if (!kind.empty()) {
        *error = flash_path + ": " + kind + ", not an image file";
        close(fd);
        tool_close_archive();
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (size != FLASH_FILE_SIZE) {
        *error = flash_path + ": " + std::to_string(size) + " bytes, but a flash image of the instrument has " +
                 std::to_string(FLASH_FILE_SIZE) +
                 (size < FLASH_FILE_SIZE ? " (cut short?)" : " (not an image of the instrument?)");
        close(fd);
        tool_close_archive();
        return false;
    }
    system_reset();
    // Reading commands change nothing, not even what the mount repairs.
    fs_set_read_only(access != ToolAccess::Write);
    nand_set_read_only_copy(access != ToolAccess::Write);
    flash_handle = fd;
    data_dir_set(folder_of(flash_path));
    const int r = fs_init();
    if (r != FS_OK) {
        *error = flash_path + (r == FS_INIT_NO_DEVICE
                                   ? ": not a flash image of the instrument"
                                   : ": the chip in this image needs more memory than the instrument has");
        tool_close_archive();
        return false;
    }
    fs_mount();
    archive_state = ARCHIVE_MOUNTED;
    return true;
}

void tool_close_archive()
{
    if (flash_handle != 0) close(flash_handle);
    flash_handle = 0;
    g_lock.reset();
}

int tool_main(int argc, char** argv)
{
    std::string flash_path;
    std::vector<std::string> words(argv + 1, argv + argc);
    size_t i = 0;
    for (; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w == "--help" || w == "-h") {
            print_usage(stdout);
            return TOOL_OK;
        }
        if (w == "--version") {
            std::printf("%s %s\n", PROGRAM, TARVIK2_VERSION);
            return TOOL_OK;
        }
        if (w == "--data" || w == "--flash") {
            if (i + 1 >= words.size()) return tool_error(w + " needs a value");
            if (!flash_path.empty()) return tool_error("give --data or --flash once");
            flash_path = w == "--data" ? (std::filesystem::path(words[i + 1]) / "flash.dat").string() : words[i + 1];
            ++i;
            continue;
        }
        if (!w.empty() && w[0] == '-') return tool_error("unknown option " + w + " (see --help)");
        break;
    }
    if (i >= words.size()) {
        print_usage(stderr);
        return TOOL_USAGE;
    }
    if (flash_path.empty()) flash_path = "flash.dat";
    const std::string name = words[i];
    const std::vector<std::string> args(words.begin() + static_cast<long>(i) + 1, words.end());
    // The instrument code waits and yields as on the device; here time is
    // virtual (no real sleeps) and the clock starts at the PC's time.
    VirtualHost host;
    host.set_clock(std::time(nullptr));
    host_install(&host);
    struct Uninstall {
        ~Uninstall() { host_install(nullptr); }
    } uninstall;
    for (const ToolCommand& c : tool_commands()) {
        if (name != c.name) continue;
        g_flash_path = flash_path;
        if (c.access != ToolAccess::None) {
            std::string error;
            if (!tool_open_archive(flash_path, c.access, &error)) return tool_error(error);
        }
        const int status = c.run(args);
        tool_close_archive();
        return status;
    }
    return tool_error("unknown command " + name + " (see --help)");
}
