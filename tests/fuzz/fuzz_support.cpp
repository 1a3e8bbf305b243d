#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>

#include "app/reset.h"
#include "front/common/virtual_host.h"
#include "fuzz.h"
#include "host/device.h"
#include "host/session.h"

void fuzz_fail(const char* what, const char* file, int line)
{
    std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", what, file, line);
    std::fflush(stderr);
    std::abort();
}

namespace {

std::string g_folder;
// The instrument clock of every run: 1 December 2026, 12:00 UTC.
constexpr std::time_t FUZZ_CLOCK = 1796126400;

void remove_folder()
{
    std::error_code ec;
    if (!g_folder.empty()) std::filesystem::remove_all(g_folder, ec);
}

}  // namespace

std::vector<u8> fuzz_read_file(const std::string& path)
{
    std::vector<u8> bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return bytes;
    struct stat st;
    if (fstat(fileno(f), &st) == 0 && st.st_size > 0) {
        bytes.resize(static_cast<size_t>(st.st_size));
        bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
    }
    std::fclose(f);
    return bytes;
}

void fuzz_write_file(const std::string& path, const std::vector<u8>& bytes)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()))
        fuzz_fail(path.c_str(), __FILE__, __LINE__);
    std::fclose(f);
}

const std::string& fuzz_folder()
{
    if (!g_folder.empty()) return g_folder;
    std::error_code ec;
    const std::filesystem::path shm = "/dev/shm";
    const std::filesystem::path root = std::filesystem::is_directory(shm, ec) && access("/dev/shm", W_OK) == 0
                                           ? shm
                                           : std::filesystem::temp_directory_path();
    std::string tmpl = (root / "tarvik2-fuzz-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) fuzz_fail("a folder for the run", __FILE__, __LINE__);
    g_folder = tmpl;
    std::atexit(remove_folder);
    data_dir_set(g_folder);
    return g_folder;
}

void fuzz_quiet_instrument()
{
    static VirtualHost* host = nullptr;
    if (!host) {
        fuzz_folder();
        system_reset();
        host = new VirtualHost;
        host->set_clock(FUZZ_CLOCK);
        host->set_seed(1);
        host_install(host);
    }
    power_off_flag = 1;
}
