// Parameter memory and the settings block on fram.dat.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <cstring>
#include <filesystem>

#include "base/cp1251.h"
#include "host/fram.h"
#include "host/session.h"
#include "host/settings.h"
#include "tests/support/support.h"
#include "base/checksum.h"

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
    auto u32_at = [&](size_t o) { return block[o] | (block[o + 1] << 8) | (block[o + 2] << 16) | (u32(block[o + 3]) << 24); };
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
    const std::pair<size_t, u32> ints[] = {{4, 100}, {8, 0},  {16, 0}, {20, 1}, {24, 0}, {32, 7}, {36, 8},
                                           {40, 1},  {44, 1}, {48, 2}, {52, 1}, {56, 1}, {60, 2}, {64, 2},
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
    struct utimbuf old {1000000000, 1000000000};
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
