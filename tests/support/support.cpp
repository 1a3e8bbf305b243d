#include "tests/support/support.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

#include "app/reset.h"
#include "front/common/picture.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/session.h"

TempDir::TempDir()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "tarvik2-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

VirtualHostScope::VirtualHostScope()
{
    system_reset();
    host_install(&host);
}

VirtualHostScope::~VirtualHostScope()
{
    host_install(nullptr);
    device_reset();
}

std::vector<u8> read_file_bytes(const std::string& path)
{
    std::vector<u8> data;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return data;
    u8 buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
    std::fclose(f);
    return data;
}

bool file_all_bytes(const std::string& path, u8 value, u64* size)
{
    *size = 0;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    static u8 buf[1 << 20];
    bool all = true;
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        *size += n;
        for (size_t i = 0; i < n && all; ++i) all = buf[i] == value;
    }
    std::fclose(f);
    return all;
}

void write_file_bytes(const std::string& path, const std::vector<u8>& data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

std::string read_text_file(const std::string& path)
{
    const std::vector<u8> bytes = read_file_bytes(path);
    return std::string(bytes.begin(), bytes.end());
}

void write_text_file(const std::string& path, const std::string& text)
{
    write_file_bytes(path, std::vector<u8>(text.begin(), text.end()));
}

std::string shell_quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

RunResult run_runner(const std::vector<std::string>& args)
{
    std::string cmd = shell_quote(TARVIK2_RUN_PATH);
    for (const auto& a : args) cmd += " " + shell_quote(a);
    return run_command(cmd);
}

RunResult run_command(const std::string& command)
{
    const std::string cmd = command + " 2>&1 </dev/null";
    RunResult r{-1, {}};
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

std::vector<u16> load_screenshot(const std::string& path)
{
    int w = 0, h = 0;
    std::vector<u8> rgb;
    if (!picture_decode_png(read_file_bytes(path), &w, &h, &rgb, nullptr) || w != LCD_WIDTH || h != LCD_HEIGHT)
        return {};
    std::vector<u16> px(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < px.size(); ++i)
        px[i] = static_cast<u16>(((rgb[3 * i] >> 3) << 11) | ((rgb[3 * i + 1] >> 2) << 5) | (rgb[3 * i + 2] >> 3));
    return px;
}

void script_keys(VirtualHost& host, std::vector<u32> keys, int gap)
{
    auto state = std::make_shared<std::pair<size_t, int>>(0, 0);
    host.set_on_pump([state, keys = std::move(keys), gap] {
        if (pending_key != KEY_NONE) return;
        if (state->first >= keys.size()) {
            // Keys used up: power off after a while, so that a widget still
            // waiting for keys unwinds instead of hanging the test.
            if (++state->second > 100000) power_off_flag = 1;
            return;
        }
        if (++state->second < gap) return;
        state->second = 0;
        key_post(keys[state->first++]);
    });
}

bool region_is_image(const std::vector<u16>& px, int x, int y, const u16* image)
{
    const int h = static_cast<int>(image_height(image)), w = static_cast<int>(image_width(image));
    if (px.size() != static_cast<size_t>(LCD_PIXELS) || x < 0 || y < 0 || x + w > LCD_WIDTH || y + h > LCD_HEIGHT)
        return false;
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i)
            if (px[(y + j) * LCD_WIDTH + x + i] != image[4 + j * w + i]) return false;
    return true;
}

bool region_has_text(const std::vector<u16>& px, int x, int y, const char* text, int font, u32 flags, u16 fg, u16 bg)
{
    if (px.size() != static_cast<size_t>(LCD_PIXELS)) return false;
    std::vector<u16> saved(framebuffer, framebuffer + LCD_PIXELS);
    const u8 old_font = font_current;
    const u16 old_fg = fg_color, old_bg = bg_color;
    std::fill_n(framebuffer, LCD_PIXELS, bg);
    font_select(static_cast<u8>(font));
    fg_color = fg;
    bg_color = bg;
    text_draw(x, y, text, flags);
    // The cells: the text's box after the same horizontal alignment.
    i32 left = x;
    if (flags & TF_HCENTER)
        left -= text_width(text) / 2;
    else if (flags & TF_RIGHT)
        left -= text_width(text);
    const i32 right = left + text_width(text), bottom = y + text_height(text);
    bool same = true;
    for (int j = y; j < bottom && same; ++j)
        for (int i = left; i < right; ++i)
            if (framebuffer[j * LCD_WIDTH + i] != px[j * LCD_WIDTH + i]) {
                same = false;
                break;
            }
    std::copy(saved.begin(), saved.end(), framebuffer);
    font_select(old_font);
    fg_color = old_fg;
    bg_color = old_bg;
    return same;
}

RunResult run_archive_tool(const std::string& data_dir, const std::string& args)
{
    const std::string data = data_dir.empty() ? "" : " --data " + shell_quote(data_dir);
    return run_command(shell_quote(TARVIK2_ARCHIVE_PATH) + data + " " + args);
}

std::vector<std::string> files_in(const std::string& dir)
{
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

std::string exported(const std::string& dir, u32 id, const std::string& tail)
{
    const std::string end = "_" + std::to_string(id) + tail;
    std::string found;
    int n = 0;
    for (const std::string& f : files_in(dir))
        if (f.size() >= end.size() && f.compare(f.size() - end.size(), end.size(), end) == 0) {
            found = dir + "/" + f;
            ++n;
        }
    EXPECT_EQ(n, 1) << "files ending in " << end << " in " << dir;
    return found;
}

u64 last_written_ns(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return static_cast<u64>(st.st_mtim.tv_sec) * 1000000000ull + static_cast<u64>(st.st_mtim.tv_nsec);
}
