// The sensor calibration block of the parameter memory: loading, the
// defaults that replace a block that never verifies, saving, unusable
// factors, and the measuring module working with the loaded table.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "analysis/calibration.h"
#include "analysis/meas_module.h"
#include "analysis/measures.h"
#include "analysis/signal.h"
#include "base/checksum.h"
#include "host/device.h"
#include "host/fram.h"
#include "host/session.h"
#include "host/settings.h"
#include "tests/support/flash_image.h"
#include "tests/support/support.h"

namespace {

class Calibration : public ::testing::Test {
protected:
    void SetUp() override { data_dir_set(dir.path()); }
    void TearDown() override { data_dir_set(""); }

    // The 272 bytes at offset 1024 of fram.dat.
    std::vector<u8> stored() const
    {
        const auto f = read_file_bytes(dir.file("fram.dat"));
        if (f.size() < CALIBRATION_OFFSET + CALIBRATION_SIZE) return {};
        return std::vector<u8>(f.begin() + CALIBRATION_OFFSET, f.begin() + CALIBRATION_OFFSET + CALIBRATION_SIZE);
    }
    // Writes `block` with its checksum (spoiled by `flip` when non-zero) into a fram.dat of 0xFF.
    void store(CalibrationBlock block, u8 flip = 0) const
    {
        checksum_store(&block, CALIBRATION_SIZE, CALIBRATION_CHECKSUM_AT);
        std::vector<u8> fram(FRAM_SIZE, 0xFF);
        std::memcpy(fram.data() + CALIBRATION_OFFSET, &block, CALIBRATION_SIZE);
        fram[CALIBRATION_OFFSET + 20] ^= flip;
        write_file_bytes(dir.file("fram.dat"), fram);
    }
    static CalibrationBlock custom()
    {
        CalibrationBlock b;
        std::memset(&b, 0, sizeof b);
        b.zero_level[0] = 100;
        b.zero_level[1] = 200;
        b.table = MEAS_CALIBRATION_DEFAULT;
        b.table.set[1][0] = 0.05f;
        b.table.marker_zero = 20000;
        b.reference[0] = 1.5f;
        return b;
    }

    TempDir dir;
    VirtualHostScope scope;
};

bool same_table(const MeasCalibration& a, const MeasCalibration& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The defaults as stored: marked as stored, the two zero levels, the
// module's default table and the two reference values, the rest zero.
void expect_default_block(const std::vector<u8>& bytes)
{
    ASSERT_EQ(bytes.size(), CALIBRATION_SIZE);
    std::vector<u8> copy = bytes;
    EXPECT_EQ(checksum_verify(copy.data(), CALIBRATION_SIZE, CALIBRATION_CHECKSUM_AT), 1);
    CalibrationBlock b;
    std::memcpy(&b, bytes.data(), sizeof b);
    EXPECT_EQ(b.defaults_filled, u32{CALIBRATION_STORED});
    EXPECT_EQ(b.zero_level[0], 16384u);
    EXPECT_EQ(b.zero_level[1], 32768u);
    EXPECT_TRUE(same_table(b.table, MEAS_CALIBRATION_DEFAULT));
    EXPECT_EQ(b.table.marker_zero, 16384u);
    EXPECT_FLOAT_EQ(b.table.set[0][1], 0.034492683f);
    EXPECT_FLOAT_EQ(b.table.shock_scale, 22.888184f);
    EXPECT_EQ(b.reference[0], 140.0f);
    EXPECT_EQ(b.reference[1], 140.0f);
    for (u8 r : b.reserved) ASSERT_EQ(r, 0);
}

TEST_F(Calibration, NoFileGivesTheDefaultsAndSavesThem)
{
    meas_calibration.set[0][0] = 9.0f;  // whatever was in use before
    EXPECT_EQ(calibration_load(), 0);
    expect_default_block(stored());
    EXPECT_TRUE(same_table(meas_calibration, MEAS_CALIBRATION_DEFAULT));
    EXPECT_EQ(read_file_bytes(dir.file("fram.dat")).size(), FRAM_SIZE);
}

TEST_F(Calibration, AStoredBlockIsUsedAndADamagedOneIsReplacedByTheDefaults)
{
    store(custom());
    EXPECT_EQ(calibration_load(), 1);
    EXPECT_EQ(calibration_block.defaults_filled, u32{CALIBRATION_STORED});
    EXPECT_EQ(calibration_block.zero_level[0], 100u);
    EXPECT_FLOAT_EQ(meas_calibration.set[1][0], 0.05f);
    EXPECT_EQ(meas_calibration.marker_zero, 20000u);
    // Nothing was written: the stored block is still the custom one.
    CalibrationBlock expected = custom();
    checksum_store(&expected, CALIBRATION_SIZE, CALIBRATION_CHECKSUM_AT);
    const auto bytes = stored();
    ASSERT_EQ(bytes.size(), CALIBRATION_SIZE);
    EXPECT_EQ(std::memcmp(bytes.data(), &expected, CALIBRATION_SIZE), 0);

    // One changed byte: the checksum fails every time, the defaults are
    // taken and saved over it.
    store(custom(), 0x01);
    EXPECT_EQ(calibration_load(), 0);
    expect_default_block(stored());
    EXPECT_TRUE(same_table(meas_calibration, MEAS_CALIBRATION_DEFAULT));
    // The next load finds the saved defaults.
    meas_calibration.set[1][0] = 3.0f;
    EXPECT_EQ(calibration_load(), 1);
    EXPECT_TRUE(same_table(meas_calibration, MEAS_CALIBRATION_DEFAULT));
}

TEST_F(Calibration, SaveWritesTheBlockAsStoredWithItsChecksum)
{
    calibration_block = custom();
    calibration_block.defaults_filled = CALIBRATION_DEFAULTS;
    EXPECT_EQ(calibration_save(), 1);
    EXPECT_EQ(calibration_block.defaults_filled, u32{CALIBRATION_STORED});
    auto bytes = stored();
    ASSERT_EQ(bytes.size(), CALIBRATION_SIZE);
    EXPECT_EQ(reference_checksum(bytes.data(), CALIBRATION_SIZE, CALIBRATION_CHECKSUM_AT),
              static_cast<u16>(bytes[270] | bytes[271] << 8));
    EXPECT_EQ(bytes[0], 0);  // defaults_filled as stored
    // The settings block before it is left alone.
    const auto f = read_file_bytes(dir.file("fram.dat"));
    for (u32 i = 0; i < CALIBRATION_OFFSET; ++i) ASSERT_EQ(f[i], 0xFF) << i;
}

TEST_F(Calibration, UnusableFactorsOfAStoredBlockGiveWayToTheDefaults)
{
    CalibrationBlock b = custom();
    b.table.set[0][0] = std::numeric_limits<float>::quiet_NaN();
    b.table.set[0][2] = -1.0f;
    b.table.set[1][1] = 0.0f;
    b.table.marker_scale = std::numeric_limits<float>::infinity();
    b.table.shock_scale = 1e30f;
    store(b);
    EXPECT_EQ(calibration_load(), 1);
    const MeasCalibration& d = MEAS_CALIBRATION_DEFAULT;
    EXPECT_EQ(meas_calibration.set[0][0], d.set[0][0]);
    EXPECT_EQ(meas_calibration.set[0][2], d.set[0][2]);
    EXPECT_EQ(meas_calibration.set[1][1], d.set[1][1]);
    EXPECT_EQ(meas_calibration.marker_scale, d.marker_scale);
    EXPECT_EQ(meas_calibration.shock_scale, d.shock_scale);
    // Usable factors stay as stored.
    EXPECT_FLOAT_EQ(meas_calibration.set[1][0], 0.05f);
    EXPECT_EQ(meas_calibration.set[0][1], d.set[0][1]);
}

// The band values of one cycle with the given seed and the table in use.
float velocity_of_one_cycle()
{
    settings_defaults();
    settings.meas_mode = 1;
    test_signal = DEFAULT_TEST_SIGNAL;
    meas_init();
    results_reset();
    measures_reset();
    rand_seed(77);
    meas_start(74);
    meas_set_running(1);
    EXPECT_EQ(meas_step(), 0);
    meas_set_running(0);
    return meas_band_value(1, 1);
}

TEST_F(Calibration, TheMeasuringModuleWorksWithTheLoadedTable)
{
    // Calibration set 1 (the internal sensor's) with its velocity factor doubled.
    CalibrationBlock b = custom();
    b.table.set[1][1] = 2.0f * MEAS_CALIBRATION_DEFAULT.set[1][1];
    store(b);
    meas_calibration_defaults();
    const float plain = velocity_of_one_cycle();
    ASSERT_GT(plain, 0.0f);
    ASSERT_EQ(calibration_load(), 1);
    const float doubled = velocity_of_one_cycle();
    EXPECT_NEAR(doubled / plain, 2.0f, 1e-3f);
}

TEST(CalibrationStartUp, ADamagedBlockIsReplacedByTheDefaultsAtStartUp)
{
    TempDir dir;
    CalibrationBlock b;
    std::memset(&b, 0x5A, sizeof b);  // no valid checksum
    std::vector<u8> fram(FRAM_SIZE, 0xFF);
    std::memcpy(fram.data() + CALIBRATION_OFFSET, &b, CALIBRATION_SIZE);
    write_file_bytes(dir.file("fram.dat"), fram);
    const auto r =
        run_runner({"--data", dir.path(), "--clock", "2026-12-10T12:00:00", "--seed", "1", "--keys", "wait 500"});
    ASSERT_EQ(r.status, 0) << r.output;
    const auto f = read_file_bytes(dir.file("fram.dat"));
    ASSERT_EQ(f.size(), FRAM_SIZE);
    expect_default_block(
        std::vector<u8>(f.begin() + CALIBRATION_OFFSET, f.begin() + CALIBRATION_OFFSET + CALIBRATION_SIZE));
}

}  // namespace
