// Parameter memory and the settings block on fram.dat.
#include <sys/resource.h>
#include <sys/stat.h>
#include <utime.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <limits>

#include "base/checksum.h"
#include "base/cp1251.h"
#include "host/fram.h"
#include "host/session.h"
#include "host/settings.h"
#include "tests/support/support.h"

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { data_dir_set(dir.path()); }
    void TearDown() override { data_dir_set(""); }
    std::string fram() const { return dir.file("fram.dat"); }
    std::vector<u8> stored_block() const
    {
        const auto f = read_file_bytes(fram());
        return std::vector<u8>(f.begin() + 4, f.begin() + 4 + 292);
    }
    TempDir dir;
};

TEST_F(SettingsTest, MissingFileIsCreatedWithTheDefaults)
{
    settings_load();
    const auto f = read_file_bytes(fram());
    ASSERT_EQ(f.size(), 32768u);
    for (size_t i : {size_t{0}, size_t{3}, size_t{296}, size_t{1024}, size_t{32767}}) EXPECT_EQ(f[i], 0xFF) << i;

    auto block = stored_block();
    EXPECT_EQ(checksum_verify(block.data(), 292, 290), 1);
    const u16 expected = [&] {
        auto copy = block;
        copy[290] = copy[291] = 0;
        return checksum16(copy.data(), 292);
    }();
    EXPECT_EQ(block[290] | (block[291] << 8), expected);

    // Field by field at their stored offsets.
    auto u32_at = [&](size_t o) {
        return block[o] | (block[o + 1] << 8) | (block[o + 2] << 16) | (u32(block[o + 3]) << 24);
    };
    auto f32_at = [&](size_t o) {
        float v;
        u32 bits = u32_at(o);
        std::memcpy(&v, &bits, 4);
        return v;
    };
    EXPECT_EQ(block[0], 204);
    EXPECT_EQ(block[1], 204);
    EXPECT_EQ(block[2], 0);
    EXPECT_EQ(block[3], 0);
    const std::pair<size_t, u32> ints[] = {{4, 100}, {8, 0},  {16, 0}, {20, 1}, {24, 0}, {32, 7},  {36, 8},
                                           {40, 1},  {44, 1}, {48, 2}, {52, 1}, {56, 1}, {60, 2},  {64, 2},
                                           {68, 3},  {72, 3}, {76, 2}, {80, 2}, {84, 1}, {224, 0}, {228, 0}};
    for (auto [off, value] : ints) EXPECT_EQ(u32_at(off), value) << "offset " << off;
    EXPECT_EQ(f32_at(28), 0.0f);
    EXPECT_EQ(f32_at(216), 140.0f);
    EXPECT_EQ(f32_at(220), 140.0f);
    EXPECT_EQ(std::memcmp(&block[192], "ДЛ-470Б"_cp, 8), 0);  // with its terminating zero
    EXPECT_EQ(block[168], 0);
    for (size_t o = 88; o < 152; ++o) EXPECT_EQ(block[o], 0) << o;
}

TEST_F(SettingsTest, SavedChangesAreLoadedAndOneChangedByteGivesTheDefaults)
{
    settings_load();
    settings.volume = 30;
    settings.current_object = 4242;
    settings.meas_params_changed = 0;
    std::memcpy(settings.bearing_name, "6205", 5);
    settings_save();

    settings_defaults();
    settings_load();
    EXPECT_EQ(settings.volume, 30u);
    EXPECT_EQ(settings.current_object, 4242u);
    EXPECT_STREQ(settings.bearing_name, "6205");
    EXPECT_EQ(settings.meas_params_changed, 1u);  // always set after a load

    auto f = read_file_bytes(fram());
    f[4 + 8] ^= 0x01;
    write_file_bytes(fram(), f);
    settings_load();
    EXPECT_EQ(settings.volume, 100u);
    EXPECT_EQ(settings.current_object, 0u);
    // The defaults were written back with a valid checksum.
    auto block = stored_block();
    EXPECT_EQ(checksum_verify(block.data(), 292, 290), 1);
    EXPECT_EQ(block[4], 100);
}

TEST_F(SettingsTest, PowerOffWritesOnlyWhenSomethingChanged)
{
    settings_load();
    // Age the file so that any write would show in its modification time.
    struct utimbuf old {
        1000000000, 1000000000
    };
    ASSERT_EQ(utime(fram().c_str(), &old), 0);
    settings_save_if_changed();
    struct stat st {};
    ASSERT_EQ(stat(fram().c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1000000000);

    settings.last_main_item = 2;
    settings_save_if_changed();
    ASSERT_EQ(stat(fram().c_str(), &st), 0);
    EXPECT_NE(st.st_mtime, 1000000000);
    EXPECT_EQ(stored_block()[0], 2);
}

TEST_F(SettingsTest, DamagedOrUnusableFilesLeadToTheDefaults)
{
    struct Case {
        const char* name;
        std::vector<u8> content;
        u64 size_after;
    };
    std::vector<u8> garbage(40000);
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<u8>(i * 131 + 7);
    const std::vector<Case> cases = {
        {"empty", {}, 32768},
        {"ten bytes", std::vector<u8>(10, 0x55), 10 + 32 * 1024},
        {"long garbage", garbage, 40000},
        {"all zero", std::vector<u8>(32768, 0), 32768},
    };
    for (const auto& c : cases) {
        write_file_bytes(fram(), c.content);
        settings.volume = 77;
        settings_load();
        EXPECT_EQ(settings.volume, 100u) << c.name;
        EXPECT_EQ(std::filesystem::file_size(fram()), c.size_after) << c.name;
        auto block = stored_block();
        EXPECT_EQ(checksum_verify(block.data(), 292, 290), 1) << c.name;
        // The rest of a long file is left as it was.
        if (c.content.size() > 4000) {
            EXPECT_EQ(read_file_bytes(fram())[4000], c.content[4000]) << c.name;
        }
    }

    // fram.dat that is a folder: nothing can be read or written.
    std::filesystem::remove(fram());
    std::filesystem::create_directory(fram());
    settings.volume = 77;
    settings_load();
    EXPECT_EQ(settings.volume, 100u);
    u8 buf[8];
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(param_read(0, buf, sizeof buf), 1);
    EXPECT_EQ(buf[0], 0);  // cleared, nothing read
    EXPECT_EQ(param_write_verified(0, "x", 1), 0);
    EXPECT_EQ(param_write_verified(0, "x", 0), 1);
}

constexpr float NOT_A_NUMBER = std::numeric_limits<float>::quiet_NaN();
constexpr float INFINITE = std::numeric_limits<float>::infinity();

// Blocks with a good checksum whose values are all in range but none at its
// default (high), or at the low end of every range (low).
SettingsBlock in_range_block(bool high)
{
    settings_defaults();
    SettingsBlock b = settings;
    b.last_main_item = high ? 4 : 1;
    b.last_special_item = high ? 1 : MENU_ITEM_NONE;
    b.power_off_delay = high ? 2 : 1;
    b.backlight_delay = high ? 2 : 1;
    b.volume = high ? 90 : 0;
    b.current_object = high ? 0xFFFFFFF0u : 4242;
    b.plot_mode = high ? 3 : 2;  // 2 is shown by the vibrometer as 3
    b.plot_quantity = high ? 2 : 0;
    b.plot_layout = high ? 3 : 1;
    b.plot_cursor_freq = high ? 3999.5f : 0.0f;
    b.warn_idx = high ? 11 : 0;
    b.alarm_idx = high ? 12 : 0;
    b.meas_params_changed = 0;
    b.sensor = high ? 4 : 2;
    b.meas_mode = high ? 3 : 1;
    b.meas_quantity = high ? 2 : 0;
    b.signal_step_idx = high ? 3 : 2;
    b.signal_duration_idx = high ? 4 : 1;
    b.signal_samples_idx = 1;
    b.spectrum_step_idx = high ? 4 : 1;
    b.spectrum_fmax_idx = high ? 2 : 1;
    b.spectrum_lines_idx = 1;
    b.averaging_idx = high ? 6 : 1;
    b.autostart_idx = 2;
    for (int i = 0; i < 4; ++i) b.spectra_flags[i] = high ? 2 : static_cast<u32>(i % 3);
    std::memset(b.bearing_name, 'A', sizeof b.bearing_name);
    b.bearing_name[high ? 23 : 0] = 0;
    std::memset(b.sensor_model, 0, sizeof b.sensor_model);
    std::memcpy(b.sensor_model, high ? "AC-102" : "", high ? 7 : 1);
    b.sensor_sens_1 = high ? 1.0e30f : 1.0e-30f;
    b.sensor_sens_2 = high ? 99.5f : 0.25f;
    b.last_route = high ? 0xFFFFFFFFu : 7;
    b.last_route_item = high ? 1023 : 5;
    return b;
}

class SanitiseTest : public SettingsTest {
protected:
    // Writes the block with a good checksum into a fram.dat of 0xFF.
    std::vector<u8> store(SettingsBlock b)
    {
        checksum_store(&b, SETTINGS_SIZE, offsetof(SettingsBlock, checksum));
        std::vector<u8> f(32768, 0xFF);
        std::memcpy(f.data() + SETTINGS_OFFSET, &b, SETTINGS_SIZE);
        write_file_bytes(fram(), f);
        return f;
    }
    // The loaded block with the two fields a load always changes taken from
    // `expected`: the flag set after every load and the checksum.
    static std::vector<u8> loaded_bytes(const SettingsBlock& expected)
    {
        SettingsBlock b = settings;
        b.meas_params_changed = expected.meas_params_changed;
        b.checksum = expected.checksum;
        const auto* p = reinterpret_cast<const u8*>(&b);
        return std::vector<u8>(p, p + sizeof b);
    }
    static std::vector<u8> bytes_of(const SettingsBlock& b)
    {
        const auto* p = reinterpret_cast<const u8*>(&b);
        return std::vector<u8>(p, p + sizeof b);
    }
};

TEST_F(SanitiseTest, ValuesInRangeLoadExactlyAsStored)
{
    for (bool high : {false, true}) {
        const SettingsBlock b = in_range_block(high);
        const auto file = store(b);
        settings_load();
        EXPECT_EQ(loaded_bytes(b), bytes_of(b)) << (high ? "high" : "low");
        EXPECT_EQ(settings.meas_params_changed, 1u);
        EXPECT_EQ(read_file_bytes(fram()), file);
        SettingsBlock copy = b;
        EXPECT_EQ(settings_sanitise(&copy), 0);
    }
}

TEST_F(SanitiseTest, EachValueOutOfRangeLoadsAsItsDefault)
{
    struct Case {
        const char* name;
        size_t offset;  // the value that falls back to its default
        size_t size;
        void (*spoil)(SettingsBlock&);
    };
#define AT(field) offsetof(SettingsBlock, field), sizeof(SettingsBlock::field)
    const std::vector<Case> cases = {
        {"archive browser as resumed item", AT(last_main_item), [](SettingsBlock& b) { b.last_main_item = 5; }},
        {"settings menu as resumed item", AT(last_main_item), [](SettingsBlock& b) { b.last_main_item = 6; }},
        {"main item 0", AT(last_main_item), [](SettingsBlock& b) { b.last_main_item = 0; }},
        {"main item 203", AT(last_main_item), [](SettingsBlock& b) { b.last_main_item = 203; }},
        {"special item 2", AT(last_special_item), [](SettingsBlock& b) { b.last_special_item = 2; }},
        {"special item 0", AT(last_special_item), [](SettingsBlock& b) { b.last_special_item = 0; }},
        {"power-off delay 3", AT(power_off_delay), [](SettingsBlock& b) { b.power_off_delay = 3; }},
        {"backlight delay 255", AT(backlight_delay), [](SettingsBlock& b) { b.backlight_delay = 255; }},
        {"volume 110", AT(volume), [](SettingsBlock& b) { b.volume = 110; }},
        {"volume 55", AT(volume), [](SettingsBlock& b) { b.volume = 55; }},
        {"volume all ones", AT(volume), [](SettingsBlock& b) { b.volume = 0xFFFFFFFFu; }},
        {"display mode 4", AT(plot_mode), [](SettingsBlock& b) { b.plot_mode = 4; }},
        {"display quantity 3", AT(plot_quantity), [](SettingsBlock& b) { b.plot_quantity = 3; }},
        {"layout 4", AT(plot_layout), [](SettingsBlock& b) { b.plot_layout = 4; }},
        {"cursor NaN", AT(plot_cursor_freq), [](SettingsBlock& b) { b.plot_cursor_freq = NOT_A_NUMBER; }},
        {"cursor infinite", AT(plot_cursor_freq), [](SettingsBlock& b) { b.plot_cursor_freq = INFINITE; }},
        {"cursor negative", AT(plot_cursor_freq), [](SettingsBlock& b) { b.plot_cursor_freq = -2.0f; }},
        {"warning index 12", AT(warn_idx), [](SettingsBlock& b) { b.warn_idx = 12; }},
        {"alarm index 13", AT(alarm_idx), [](SettingsBlock& b) { b.alarm_idx = 13; }},
        {"sensor 0", AT(sensor), [](SettingsBlock& b) { b.sensor = 0; }},
        {"sensor 5", AT(sensor), [](SettingsBlock& b) { b.sensor = 5; }},
        {"mode 0", AT(meas_mode), [](SettingsBlock& b) { b.meas_mode = 0; }},
        {"mode 4", AT(meas_mode), [](SettingsBlock& b) { b.meas_mode = 4; }},
        {"quantity 3", AT(meas_quantity), [](SettingsBlock& b) { b.meas_quantity = 3; }},
        {"signal step 0", AT(signal_step_idx), [](SettingsBlock& b) { b.signal_step_idx = 0; }},
        {"signal step 4", AT(signal_step_idx), [](SettingsBlock& b) { b.signal_step_idx = 4; }},
        {"duration 5", AT(signal_duration_idx), [](SettingsBlock& b) { b.signal_duration_idx = 5; }},
        {"samples 3", AT(signal_samples_idx), [](SettingsBlock& b) { b.signal_samples_idx = 3; }},
        {"spectrum step 5", AT(spectrum_step_idx), [](SettingsBlock& b) { b.spectrum_step_idx = 5; }},
        {"fmax 4", AT(spectrum_fmax_idx), [](SettingsBlock& b) { b.spectrum_fmax_idx = 4; }},
        {"lines 0", AT(spectrum_lines_idx), [](SettingsBlock& b) { b.spectrum_lines_idx = 0; }},
        {"lines 3", AT(spectrum_lines_idx), [](SettingsBlock& b) { b.spectrum_lines_idx = 3; }},
        {"averaging 0", AT(averaging_idx), [](SettingsBlock& b) { b.averaging_idx = 0; }},
        {"averaging 7", AT(averaging_idx), [](SettingsBlock& b) { b.averaging_idx = 7; }},
        {"auto-record 3", AT(autostart_idx), [](SettingsBlock& b) { b.autostart_idx = 3; }},
        {"spectra flag 3 in the third item", offsetof(SettingsBlock, spectra_flags) + 8, 4,
         [](SettingsBlock& b) { b.spectra_flags[2] = 3; }},
        {"bearing name without its NUL", AT(bearing_name),
         [](SettingsBlock& b) { std::memset(b.bearing_name, '6', sizeof b.bearing_name); }},
        {"sensor model without its NUL", AT(sensor_model),
         [](SettingsBlock& b) { std::memset(b.sensor_model, 'X', sizeof b.sensor_model); }},
        {"sensitivity 0", AT(sensor_sens_1), [](SettingsBlock& b) { b.sensor_sens_1 = 0.0f; }},
        {"second sensitivity NaN", AT(sensor_sens_2), [](SettingsBlock& b) { b.sensor_sens_2 = NOT_A_NUMBER; }},
        {"route item 1024", AT(last_route_item), [](SettingsBlock& b) { b.last_route_item = 1024; }},
    };
#undef AT
    settings_defaults();
    const auto defaults = bytes_of(settings);
    for (bool high : {false, true}) {
        for (const auto& c : cases) {
            const std::string name = std::string(c.name) + (high ? " (high)" : " (low)");
            SettingsBlock b = in_range_block(high);
            c.spoil(b);
            const auto file = store(b);
            auto expected = bytes_of(b);
            std::copy(defaults.begin() + c.offset, defaults.begin() + c.offset + c.size, expected.begin() + c.offset);
            settings_load();
            EXPECT_EQ(loaded_bytes(b), expected) << name;
            EXPECT_EQ(settings.meas_params_changed, 1u) << name;
            // The stored copy is not rewritten by the load.
            EXPECT_EQ(read_file_bytes(fram()), file) << name;
            SettingsBlock copy = b;
            EXPECT_EQ(settings_sanitise(&copy), 1) << name;
        }
    }
}

TEST_F(SettingsTest, AnUnusableFileIsReportedWithWhatIsWrong)
{
    // Each case in a run of its own: the warning is given once per run.
    struct Case {
        const char* name;
        void (*make)(const std::string& fram);
        rlim_t file_size_limit;  // RLIM_INFINITY: none
        const char* message;
    };
    const std::vector<Case> cases = {
        {"pipe", [](const std::string& f) { ASSERT_EQ(mkfifo(f.c_str(), 0600), 0); }, RLIM_INFINITY,
         "fram.dat: not a regular file; the settings are not kept"},
        {"folder", [](const std::string& f) { std::filesystem::create_directory(f); }, RLIM_INFINITY,
         "fram.dat: cannot open: Is a directory; the settings are not kept"},
        {"no room to lengthen", [](const std::string& f) { write_file_bytes(f, std::vector<u8>(10, 0x55)); }, 4096,
         "fram.dat: cannot lengthen: File too large; the settings are not kept"},
    };
    for (const auto& c : cases) {
        TempDir run_dir;
        c.make(run_dir.file("fram.dat"));
        // A file size limit reaches the runner, which then gets EFBIG rather
        // than the signal.
        struct rlimit old {};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
        auto* old_handler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limited = old;
        limited.rlim_cur = c.file_size_limit;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
        const auto r = run_runner({"--data", run_dir.path(), "--keys", "wait 300"});
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, old_handler);
        EXPECT_NE(r.output.find(c.message), std::string::npos) << c.name << ":\n" << r.output;
        EXPECT_EQ(r.output.find("Success"), std::string::npos) << c.name << ":\n" << r.output;
    }
}

TEST_F(SettingsTest, VerifiedWriteReadsBack)
{
    const u8 data[5] = {1, 2, 3, 4, 5};
    EXPECT_EQ(param_write_verified(1024, data, 5), 1);
    u8 back[5];
    param_read(1024, back, 5);
    EXPECT_EQ(std::memcmp(back, data, 5), 0);
    // A read past the end of the file leaves the missing part zero.
    u8 tail[4] = {9, 9, 9, 9};
    param_read(32766, tail, 4);
    EXPECT_EQ(tail[0], 0xFF);
    EXPECT_EQ(tail[1], 0xFF);
    EXPECT_EQ(tail[2], 0);
    EXPECT_EQ(tail[3], 0);
}

}  // namespace
