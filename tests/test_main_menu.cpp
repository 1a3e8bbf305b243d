// Start-up and the main menu, through the headless runner.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "archive/objects.h"
#include "base/checksum.h"
#include "base/cp1251.h"
#include "data/images.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "host/session.h"
#include "host/settings.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "tests/support/flash_image.h"
#include "tests/support/screens.h"
#include "tests/support/support.h"

namespace {

const std::string CLOCK = "2026-12-10T12:00:00";

RunResult run(const TempDir& dir, const std::string& keys, const std::string& shot, const std::string& clock = CLOCK)
{
    std::vector<std::string> args = {"--data", dir.path(), "--clock", clock, "--seed", "1", "--keys", keys};
    if (!shot.empty()) {
        args.push_back("--shot");
        args.push_back(dir.file(shot));
    }
    return run_runner(args);
}

TEST(MainMenu, FirstStartShowsTheMenuAndLeavesOneObjectAndValidSettings)
{
    TempDir dir;
    const auto r = run(dir, "wait 1500", "menu.png");
    ASSERT_EQ(r.status, 0) << r.output;
    const auto px = load_screenshot(dir.file("menu.png"));
    EXPECT_TRUE(main_menu_shows(px, 1));
    images_unpack_all();
    EXPECT_TRUE(region_is_image(px, 283, 3, image_set[IMG_BATTERY_3]));  // 60 % after the first second

    auto block = stored_settings(dir.path());
    ASSERT_EQ(block.size(), 292u);
    EXPECT_EQ(checksum_verify(block.data(), 292, 290), 1);
    EXPECT_EQ(block[0], 204);

    // The archive was mounted in the background: one object "Объект".
    FlashFile flash(dir.file("flash.dat"));
    ASSERT_EQ(fs_init(), FS_OK);
    ASSERT_EQ(fs_mount(), FS_OK);
    ASSERT_EQ(dir_count(), 1u);
    EXPECT_EQ(dir_type(0), 9);
    char name[OBJ_NAME_SIZE];
    ASSERT_EQ(obj_read_name(dir_id(0), name), OBJ_OK);
    EXPECT_STREQ(name, "Объект"_cp);
    EXPECT_EQ(block[8] | (block[9] << 8) | (block[10] << 16), static_cast<int>(dir_id(0)));  // current object
}

TEST(MainMenu, ArrowsMoveTheHighlightAcrossRows)
{
    TempDir dir;
    const auto r = run(dir,
                       "wait 800; left; shot " + dir.file("a.png") + "; down; shot " + dir.file("b.png") +
                           "; up; right; shot " + dir.file("c.png"),
                       "");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(main_menu_shows(load_screenshot(dir.file("a.png")), 6));  // Left on the first wraps to the last
    EXPECT_TRUE(main_menu_shows(load_screenshot(dir.file("b.png")), 3));  // Down from 6 to the first row
    EXPECT_TRUE(main_menu_shows(load_screenshot(dir.file("c.png")), 1));  // Up to 6, Right wraps to 1
}

TEST(MainMenu, ClockBefore2011ShowsTheWrongDateBoxThenTheDeviceSettings)
{
    TempDir dir;
    const auto r =
        run(dir, "wait 800; shot " + dir.file("box.png") + "; enter; shot " + dir.file("settings.png") + "; esc",
            "after.png", "2005-06-01T10:00:00");
    ASSERT_EQ(r.status, 0) << r.output;
    const auto box = load_screenshot(dir.file("box.png"));
    ASSERT_FALSE(box.empty());
    // Title, two lines and OK: 44 + 43 + 2 x 23 = 133 high; the longest line
    // "Введите правильную дату" is 23 characters of 8 pixels.
    const int left = 160 - 92 - 56, right = 160 + 92 + 56, top = (240 - 133) / 2, bottom = top + 133;
    for (int x = left; x <= right; ++x) {
        ASSERT_EQ(box[top * LCD_WIDTH + x], COLOR_BLACK) << x;
        ASSERT_EQ(box[bottom * LCD_WIDTH + x], COLOR_BLACK) << x;
    }
    EXPECT_EQ(box[(top + 10) * LCD_WIDTH + left + 10], COLOR_BLUE);  // the title band
    EXPECT_TRUE(
        region_has_text(box, 160 - 4 * 15, top + 8 + 34, "Неверная дата !"_cp, 4, 0, COLOR_BLACK, COLOR_BACKGROUND));
    // The device settings with the clock's date.
    EXPECT_TRUE(region_has_text(load_screenshot(dir.file("settings.png")), 140, 40, "01.06.05", 6, 0, COLOR_BLACK,
                                COLOR_BACKGROUND));
    EXPECT_TRUE(main_menu_shows(load_screenshot(dir.file("after.png")), 1));
}

TEST(MainMenu, PowerOffInsideAnItemResumesItAtTheNextStart)
{
    TempDir dir;
    auto r = run(dir, "wait 800; right; right; enter; wait 300; off", "");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(stored_settings(dir.path())[0], 3);

    r = run(dir, "wait 1000; shot " + dir.file("resumed.png") + "; esc", "menu.png");
    ASSERT_EQ(r.status, 0) << r.output;
    // The route collection again: its route choice, no route chosen yet.
    EXPECT_TRUE(title_shows(load_screenshot(dir.file("resumed.png")), "Выберите маршрут"_cp));
    EXPECT_TRUE(main_menu_shows(load_screenshot(dir.file("menu.png")), 3));
    EXPECT_EQ(stored_settings(dir.path())[0], 204);  // left with Esc: nothing to resume
}

TEST(MainMenu, SpecialMeasurementsMenuAndItsResume)
{
    TempDir dir;
    auto r = run(dir, "wait 800; down; enter; shot " + dir.file("special.png") + "; enter; wait 200; off", "");
    ASSERT_EQ(r.status, 0) << r.output;
    images_unpack_all();
    // One item: a single row centred at x = 160 - 45, y = 120 - 45 + 14.
    EXPECT_TRUE(region_is_image(load_screenshot(dir.file("special.png")), 115, 89, image_set[IMG_MENU_RMS_TABLE_SEL]));
    auto block = stored_settings(dir.path());
    EXPECT_EQ(block[0], 4);
    EXPECT_EQ(block[1], 1);

    r = run(dir, "wait 1000; shot " + dir.file("resumed.png") + "; esc; esc", "menu.png");
    ASSERT_EQ(r.status, 0) << r.output;
    // The RMS measurement: stopped, cell (0, 0) of its table selected.
    const auto resumed = load_screenshot(dir.file("resumed.png"));
    EXPECT_TRUE(region_is_image(resumed, 44, 86, image_set[IMG_VIBRO_STOPPED]));
    EXPECT_EQ(resumed[166 * LCD_WIDTH + 4], COLOR_DARK_BLUE);
    EXPECT_EQ(resumed[177 * LCD_WIDTH + 21], COLOR_DARK_BLUE);
    EXPECT_TRUE(main_menu_shows(load_screenshot(dir.file("menu.png")), 4));
}

TEST(MainMenu, StoredResumeOfAnItemThatIsNeverResumedDoesNotTrapTheUser)
{
    // A settings block with a good checksum that names the archive browser
    // (item 5) as the running item: only items 1 to 4 are ever resumed.
    TempDir dir;
    settings_defaults();
    settings.last_main_item = 5;
    checksum_store(&settings, SETTINGS_SIZE, offsetof(SettingsBlock, checksum));
    std::vector<u8> fram(32768, 0xFF);
    std::memcpy(fram.data() + SETTINGS_OFFSET, &settings, SETTINGS_SIZE);
    write_file_bytes(dir.file("fram.dat"), fram);

    const auto r = run(dir, "wait 1000; esc; wait 300", "after.png");
    ASSERT_EQ(r.status, 0) << r.output;
    const auto px = load_screenshot(dir.file("after.png"));
    EXPECT_FALSE(archive_row_shows(px, 0, 0, "Tarvik-2", false, false));
    EXPECT_TRUE(main_menu_shows(px, 1));
    // Power-off saved the block as the menu left it: nothing to resume.
    EXPECT_EQ(stored_settings(dir.path())[0], 204);
}

TEST(MainMenu, DamagedFlashFileShowsTheInitialisationErrorAndTheMenuStillWorks)
{
    TempDir dir;
    // A flash.dat that cannot be opened: a folder of that name.
    std::filesystem::create_directory(dir.file("flash.dat"));
    const auto r = run(dir, "wait 800; shot " + dir.file("error.png") + "; enter; wait 300", "menu.png");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("flash.dat"), std::string::npos) << r.output;
    const auto box = load_screenshot(dir.file("error.png"));
    // Title and three lines with OK: 44 + 43 + 3 x 23 = 156 high.
    EXPECT_TRUE(region_has_text(box, 160 - 4 * 20, (240 - 156) / 2 + 8 + 34, "Ошибка инициализации"_cp, 4, 0,
                                COLOR_BLACK, COLOR_BACKGROUND));
    EXPECT_TRUE(main_menu_shows(load_screenshot(dir.file("menu.png")), 1));
}

}  // namespace
