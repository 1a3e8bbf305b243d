// The emulator run's flash image: progress while a new one is written, and
// giving it up.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "host/device.h"
#include "host/session.h"
#include "tests/support/support.h"

namespace {

std::vector<std::pair<u32, u32>> g_calls;
u32 g_give_up_at = 0;  // 0: never

bool record_progress(u32 done, u32 total)
{
    g_calls.push_back({done, total});
    if (g_give_up_at && done >= g_give_up_at) power_off_flag = 1;
    return done != g_give_up_at;
}

bool g_main_ran = false;
int note_main()
{
    g_main_ran = true;
    return 1;
}

class FlashCreation : public ::testing::Test {
protected:
    void SetUp() override
    {
        device_reset();
        g_calls.clear();
        g_give_up_at = 0;
        g_main_ran = false;
        data_dir_set(dir.path());
        flash_file_set_progress(&record_progress);
        emu_set_main(&note_main);
    }
    void TearDown() override
    {
        flash_file_set_progress(nullptr);
        emu_set_main(nullptr);
        data_dir_set("");
        device_reset();
    }
    TempDir dir;
};

TEST_F(FlashCreation, ProgressCountsEveryBlockOnceUpToTheTotal)
{
    emu_run();
    EXPECT_TRUE(g_main_ran);
    ASSERT_EQ(g_calls.size(), FLASH_FILE_BLOCKS);
    for (u32 i = 0; i < FLASH_FILE_BLOCKS; ++i) {
        ASSERT_EQ(g_calls[i].first, i + 1);
        ASSERT_EQ(g_calls[i].second, FLASH_FILE_BLOCKS);
    }
    EXPECT_EQ(std::filesystem::file_size(dir.file("flash.dat")), FLASH_FILE_SIZE);

    // An existing image is opened without a word.
    g_calls.clear();
    emu_run();
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(FlashCreation, SwitchingOffMeanwhileRemovesThePartAndNeverStartsTheInstrument)
{
    g_give_up_at = 100;
    emu_run();
    EXPECT_EQ(g_calls.size(), 100u);
    EXPECT_FALSE(g_main_ran);
    EXPECT_FALSE(std::filesystem::exists(dir.file("flash.dat")));
    EXPECT_EQ(flash_handle, 0);
    EXPECT_FALSE(emu_running());

    // The next start writes a whole new image.
    g_give_up_at = 0;
    g_calls.clear();
    emu_run();
    EXPECT_TRUE(g_main_ran);
    EXPECT_EQ(std::filesystem::file_size(dir.file("flash.dat")), FLASH_FILE_SIZE);
}

}  // namespace
