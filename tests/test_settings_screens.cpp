// The instrument settings: the free-space figure, the settings menu, the
// device settings, the volume and the program update, driven by scripted
// keys, and the menu end to end through the headless runner.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/settings_screens.h"
#include "archive/mount.h"
#include "archive/objects.h"
#include "base/checksum.h"
#include "base/cp1251.h"
#include "base/text.h"
#include "data/images.h"
#include "gfx/form.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/session.h"
#include "host/settings.h"
#include "storage/fs.h"
#include "tests/support/flash_image.h"
#include "tests/support/screens.h"
#include "tests/support/support.h"

namespace {

std::vector<u16> screen()
{
    return std::vector<u16>(framebuffer, framebuffer + LCD_PIXELS);
}

// Text drawn with `flags` in `fg`, outlined in white, on the background.
bool shows_text(const std::vector<u16>& px, int x, int y, const char* text, int font, u32 flags, u16 fg)
{
    const u16 outline = outline_color;
    outline_color = COLOR_WHITE;
    const bool same = region_has_text(px, x, y, text, font, flags, fg, COLOR_BACKGROUND);
    outline_color = outline;
    return same;
}

// Posts `keys` like script_keys, each once the previous one was taken and
// `gap` pumps have passed, and calls `watch` after every pump.
void script_and_watch(VirtualHost& host, std::vector<u32> keys, std::function<void(size_t next)> watch, int gap = 3)
{
    auto next = std::make_shared<size_t>(0);
    auto wait = std::make_shared<int>(0);
    host.set_on_pump([=] {
        watch(*next);
        if (pending_key != KEY_NONE || *next >= keys.size() || ++*wait < gap) return;
        *wait = 0;
        key_post(keys[(*next)++]);
    });
}

TEST(FreeSpace, PercentOfTheTotalRoundedAndLimited)
{
    struct Case {
        u32 free_bytes, total, percent;
    };
    const Case cases[] = {
        {0, 0, 0},
        {5, 0, 0},
        {0, 100, 0},
        {50, 100, 50},
        {1, 3, 33},
        {2, 3, 67},
        {1, 200, 1},
        {1, 201, 0},
        {199, 200, 100},
        {150, 100, 100},
        {4000000000u, 4000000000u, 100},
        {2000000000u, 4000000000u, 50},
        {3, 4000000000u, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(free_space_percent(c.free_bytes, c.total), c.percent) << c.free_bytes << " of " << c.total;
}

// ------------------------------------------------------------ the menu

class SettingsMenu : public ::testing::Test {
protected:
    void SetUp() override
    {
        images_unpack_all();
        ASSERT_EQ(obj_after_mount(), OBJ_CHOSEN);
    }
    VirtualHostScope scope;
    MountedFlash image;
};

TEST_F(SettingsMenu, FreeSpaceShowsDotsUntilTheArchiveJobHasEnded)
{
    archive_state = ARCHIVE_SCANNING;
    std::vector<u16> scanning, mounted;
    int pumps = 0;
    scope.host.set_on_pump([&] {
        ++pumps;
        if (pumps == 200) {
            scanning = screen();
            archive_state = ARCHIVE_MOUNTED;
        }
        if (pumps == 400) {
            mounted = screen();
            key_post(KEY_ESC);
        }
    });
    settings_menu();
    scope.host.set_on_pump(nullptr);
    ASSERT_FALSE(scanning.empty());
    ASSERT_FALSE(mounted.empty());

    constexpr u32 LABEL = TF_OUTLINE | TF_TRANSPARENT | TF_HCENTER;
    EXPECT_TRUE(shows_text(scanning, 240, 198, "Свободно: ..."_cp, 4, LABEL, COLOR_DARK_BLUE));
    EXPECT_TRUE(shows_text(scanning, 208, 170, "Версия: 3.29"_cp, 4, LABEL, COLOR_DARK_BLUE));
    EXPECT_TRUE(shows_text(scanning, 80, 198, "  Питание: 60%  "_cp, 4, LABEL, COLOR_DARK_BLUE));
    EXPECT_TRUE(region_is_image(scanning, 118, 138, image_set[IMG_LOGO]));
    // Four icons in two rows, the first highlighted; its name on the bottom bar.
    EXPECT_TRUE(region_is_image(scanning, 25, 44, image_set[IMG_MENU_MEAS_SETUP_SEL]));
    EXPECT_TRUE(region_is_image(scanning, 115, 44, image_set[IMG_MENU_PARAMETERS]));
    EXPECT_TRUE(region_is_image(scanning, 205, 44, image_set[IMG_MENU_VOLUME]));
    EXPECT_TRUE(region_is_image(scanning, 25, 120, image_set[IMG_MENU_UPDATE]));

    const u32 p = free_space_percent(fs_free_bytes(), fs_total_bytes());
    EXPECT_GT(p, 90u) << "an archive with one object is nearly empty";
    char text[32];
    std::snprintf(text, sizeof text, " Свободно: %u%% "_cp, static_cast<unsigned>(p));
    EXPECT_TRUE(shows_text(mounted, 240, 198, text, 4, TF_OUTLINE | TF_HCENTER, COLOR_DARK_BLUE));
    EXPECT_FALSE(shows_text(mounted, 240, 198, "Свободно: ..."_cp, 4, LABEL, COLOR_DARK_BLUE));
}

// ------------------------------------------------------------ device settings

class DeviceSettings : public ::testing::Test {
protected:
    static constexpr u8 NOT_IN_USE = 33;  // stored before a run
    void SetUp() override
    {
        images_unpack_all();
        data_dir_set(dir.path());
    }
    void TearDown() override { data_dir_set(""); }
    // Runs the screen with the two delays in the settings. The stored block
    // holds other values, so that any save shows in the file.
    void run(u8 power_off, u8 backlight, std::vector<u32> keys)
    {
        settings_defaults();
        settings.power_off_delay = settings.backlight_delay = NOT_IN_USE;
        settings_save();
        before = read_file_bytes(dir.file("fram.dat"));
        settings.power_off_delay = power_off;
        settings.backlight_delay = backlight;
        power_off_flag = 0;
        script_keys(scope.host, std::move(keys));
        device_settings_screen();
        shot = screen();
        EXPECT_FALSE(power_off_flag) << "left by a key, not at the end of the script";
    }
    bool saved() const { return read_file_bytes(dir.file("fram.dat")) != before; }
    std::vector<u8> stored() const { return stored_settings(dir.path()); }

    TempDir dir;
    VirtualHostScope scope;
    std::vector<u8> before;
    std::vector<u16> shot;
};

TEST_F(DeviceSettings, EnterOnADelayOrTheLastFieldSavesBothAndEscNothing)
{
    struct Case {
        const char* what;
        u8 power_off, backlight;  // stored before
        std::vector<u32> keys;
        bool saved;
        u8 to_power_off, to_backlight;
    };
    const Case cases[] = {
        {"Enter on the power-off bar", 0, 0, {KEY_DOWN, KEY_DOWN, KEY_RIGHT, KEY_ENTER}, true, 1, 0},
        {"Enter on the backlight bar", 0, 1, {KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_LEFT, KEY_LEFT, KEY_ENTER}, true, 0, 2},
        {"Enter on the last field", 7, 9, {KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_ENTER}, true, 0, 0},
        {"Up from the first field to the last", 5, 1, {KEY_UP, KEY_ENTER}, true, 0, 1},
        {"Esc after changes", 2, 1, {KEY_DOWN, KEY_DOWN, KEY_RIGHT, KEY_DOWN, KEY_RIGHT, KEY_ESC}, false, 2, 1},
        {"the date edited, then the screen goes on",
         0,
         0,
         {KEY_ENTER, KEY_ENTER, KEY_DOWN, KEY_DOWN, KEY_RIGHT, KEY_RIGHT, KEY_ENTER},
         true,
         2,
         0},
        {"the time edit cancelled, then Esc", 1, 1, {KEY_DOWN, KEY_ENTER, KEY_ESC, KEY_ESC}, false, 1, 1},
    };
    for (const Case& c : cases) {
        run(c.power_off, c.backlight, c.keys);
        EXPECT_EQ(saved(), c.saved) << c.what;
        EXPECT_EQ(settings.power_off_delay, c.to_power_off) << c.what;
        EXPECT_EQ(settings.backlight_delay, c.to_backlight) << c.what;
        if (c.saved) {
            std::vector<u8> block = stored();
            ASSERT_EQ(block.size(), SETTINGS_SIZE);
            EXPECT_EQ(checksum_verify(block.data(), SETTINGS_SIZE, offsetof(SettingsBlock, checksum)), 1) << c.what;
            EXPECT_EQ(block[2], c.to_power_off) << c.what;
            EXPECT_EQ(block[3], c.to_backlight) << c.what;
        }
    }
}

// The pixels of `img` at (x, y) other than its background.
bool marker_whole(const std::vector<u16>& px, int x, int y, const u16* img)
{
    const int w = static_cast<int>(image_width(img)), h = static_cast<int>(image_height(img));
    int drawn = 0;
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i) {
            const u16 c = img[4 + j * w + i];
            if (c == COLOR_BACKGROUND) continue;
            if (px[(y + j) * LCD_WIDTH + x + i] != c) return false;
            ++drawn;
        }
    return drawn > 0;
}

// The option bar at (x, y) as the screen draws it with option `current`.
bool bar_shows(const std::vector<u16>& px, int y, const char* const texts[3], int current)
{
    const std::vector<u16> saved = screen();
    const u16 fg = fg_color, bg = bg_color, outline = outline_color;
    std::fill_n(framebuffer, LCD_PIXELS, COLOR_BACKGROUND);
    fg_color = COLOR_FORM_TEXT;
    bg_color = COLOR_BACKGROUND;
    outline_color = COLOR_WHITE;
    OptionBar bar;
    option_init(&bar, 62, y, 4, 6, KEY_LEFT, KEY_RIGHT);
    for (int i = 0; i < 3; ++i) option_add(&bar, texts[i]);
    bar.current = static_cast<u8>(current);
    option_draw(&bar);
    bool same = bar.w == 225;
    for (int j = y; j < y + bar.h; ++j)
        for (int i = 62; i < 62 + bar.w; ++i) same = same && framebuffer[j * LCD_WIDTH + i] == px[j * LCD_WIDTH + i];
    std::copy(saved.begin(), saved.end(), framebuffer);
    fg_color = fg;
    bg_color = bg;
    outline_color = outline;
    return same;
}

TEST_F(DeviceSettings, StoredDelaysAboveTwoShowAsNone)
{
    const char* const power[3] = {"нет"_cp, "10 мин"_cp, "30 мин"_cp};
    const char* const backlight[3] = {"нет"_cp, "1 мин"_cp, "5 мин"_cp};
    run(7, 2, {KEY_ESC});
    EXPECT_TRUE(bar_shows(shot, 120, power, 1));
    EXPECT_TRUE(bar_shows(shot, 176, backlight, 3));
    // The clock's date in font 6, the labels and both field markers of the bars.
    u16 y, mo, d, h, mi, s;
    rtc_read(&y, &mo, &d, &h, &mi, &s);
    char date[16];
    std::snprintf(date, sizeof date, "%02u.%02u.%02u", d % 100u, mo % 100u, y % 100u);
    EXPECT_TRUE(region_has_text(shot, 140, 40, date, 6, 0, COLOR_BLACK, COLOR_BACKGROUND)) << date;
    EXPECT_TRUE(region_is_image(shot, 106, 36, image_set[IMG_FIELD_MARK_FOCUS]));
    EXPECT_TRUE(region_is_image(shot, 30, 122, image_set[IMG_FIELD_MARK]));
    // The markers of the backlight bar and of the last field overlap; both show whole.
    EXPECT_TRUE(marker_whole(shot, 30, 178, image_set[IMG_FIELD_MARK]));
    EXPECT_TRUE(marker_whole(shot, 20, 188, img_field_mark_plain));
}

// ------------------------------------------------------------ volume

class Volume : public DeviceSettings {
protected:
    void run_volume(u32 volume, std::vector<u32> keys)
    {
        settings_defaults();
        settings.volume = NOT_IN_USE;
        settings_save();
        before = read_file_bytes(dir.file("fram.dat"));
        settings.volume = volume;
        power_off_flag = 0;
        script_keys(scope.host, std::move(keys));
        volume_screen();
        shot = screen();
        EXPECT_FALSE(power_off_flag);
    }
    // The slider's own pixels (not its corners) at volume v.
    bool slider_at(int v) const
    {
        const u16* img = img_slider_mark;
        const int w = static_cast<int>(image_width(img)), h = static_cast<int>(image_height(img));
        for (int j = 0; j < h; ++j)
            for (int i = 0; i < w; ++i) {
                const u16 c = img[4 + j * w + i];
                if (c != COLOR_BACKGROUND && shot[(130 + j) * LCD_WIDTH + 107 + v + i] != c) return false;
            }
        return true;
    }
};

TEST_F(Volume, StepsOfTenWithinTheRangeEnterSavesEscDoesNot)
{
    struct Case {
        u32 volume;
        std::vector<u32> keys;
        u32 to;
        bool saved;
    };
    const std::vector<u32> right7(7, KEY_RIGHT);
    std::vector<u32> right7_enter = right7;
    right7_enter.push_back(KEY_ENTER);
    const Case cases[] = {
        {100, {KEY_RIGHT, KEY_ENTER}, 100, true},
        {0, {KEY_LEFT, KEY_ENTER}, 0, true},
        {50, right7_enter, 100, true},
        {30, {KEY_LEFT, KEY_LEFT, KEY_LEFT, KEY_LEFT, KEY_RIGHT, KEY_ENTER}, 10, true},
        {70, {KEY_UP, KEY_LEFT, KEY_UP, KEY_LEFT, KEY_ENTER}, 50, true},
        {50, {KEY_LEFT, KEY_LEFT, KEY_RIGHT, KEY_ESC}, 50, false},
    };
    for (const Case& c : cases) {
        run_volume(c.volume, c.keys);
        EXPECT_EQ(settings.volume, c.to) << c.volume;
        EXPECT_EQ(saved(), c.saved) << c.volume;
        if (c.saved) {
            const auto block = stored();
            ASSERT_EQ(block.size(), SETTINGS_SIZE);
            EXPECT_EQ(block[4], c.to);
        }
    }
    // Esc left the slider where the keys had put it: 40.
    EXPECT_TRUE(slider_at(40));
    EXPECT_FALSE(slider_at(50));
}

TEST_F(Volume, TheRecordingModeShowsItsKeyAndUpLeavesItAgain)
{
    const int record_x = 2 + 64 * 2;  // slot 3
    run_volume(60, {KEY_UP, KEY_UP, KEY_ESC});
    EXPECT_FALSE(region_is_image(shot, record_x, 216, image_set[IMG_SOFTKEY_BLANK]));
    EXPECT_TRUE(slider_at(60));
    run_volume(60, {KEY_UP, KEY_UP, KEY_UP, KEY_ESC});
    EXPECT_TRUE(region_is_image(shot, record_x, 216, image_set[IMG_SOFTKEY_BLANK]));
    run_volume(60, {KEY_UP, KEY_ESC});
    EXPECT_TRUE(region_is_image(shot, record_x, 216, image_set[IMG_SOFTKEY_BLANK]));
}

// ------------------------------------------------------------ program update

class Update : public ::testing::Test {
protected:
    void SetUp() override { images_unpack_all(); }
    VirtualHostScope scope;
};

// A line of a message box drawn at (160 - 4 * length, y).
bool box_line(const std::vector<u16>& px, int y, const char* line)
{
    return region_has_text(px, 160 - 4 * static_cast<int>(std::strlen(line)), y, line, 4, 0, COLOR_BLACK,
                           COLOR_BACKGROUND);
}

TEST_F(Update, EscAtTheFirstBoxReturnsWithoutTheBusyMark)
{
    bool busy_seen = false;
    script_and_watch(scope.host, {KEY_ESC}, [&](size_t) { busy_seen = busy_seen || busy_flag; });
    update_screen();
    EXPECT_FALSE(busy_seen);
    EXPECT_FALSE(power_off_flag);
}

TEST_F(Update, EachKeyAdvancesTheMessagesAndTheBusyMarkHoldsBetween)
{
    // Box 1 has a title, three lines and two buttons (156 px high, top 42);
    // boxes 2 and 3 no buttons (113 px, top 63). Lines start 34 px below the title.
    std::vector<std::vector<u16>> waiting(3);
    std::vector<bool> busy(3, false);
    script_and_watch(scope.host, {KEY_ENTER, KEY_LEFT, KEY_ESC}, [&](size_t next) {
        if (next < 3 && pending_key == KEY_NONE) {
            waiting[next] = screen();
            busy[next] = busy_flag != 0;
        }
    });
    update_screen();
    EXPECT_FALSE(power_off_flag);
    EXPECT_EQ(busy_flag, 0);
    EXPECT_TRUE(box_line(waiting[0], 84 + 46, "Esc - Отмена."_cp));
    EXPECT_FALSE(busy[0]);
    EXPECT_TRUE(box_line(waiting[1], 105, "Нажмите Start"_cp));
    EXPECT_TRUE(busy[1]) << "no archive job during the transfer";
    EXPECT_TRUE(box_line(waiting[2], 105 + 46, "через 10 секунд."_cp));
    EXPECT_FALSE(busy[2]);
}

TEST_F(Update, PowerOffUnwindsEveryWait)
{
    int pumps_after = 0;
    script_and_watch(scope.host, {KEY_ENTER}, [&](size_t) {
        if (busy_flag) power_off_flag = 1;  // in the second box
        if (power_off_flag) ++pumps_after;
    });
    update_screen();
    EXPECT_TRUE(power_off_flag);
    EXPECT_EQ(busy_flag, 0);
    EXPECT_LT(pumps_after, 100) << "no wait for keys after the power went off";
    power_off_flag = 0;
}

// ------------------------------------------------------------ end to end

TEST(SettingsRun, TheMainMenuItemOpensTheMenuAndTheVolumeStays)
{
    images_unpack_all();
    TempDir dir;
    // Main menu: Left to item 6; in the settings menu Right twice to the
    // volume; two steps down and Enter; Esc back to the main menu.
    const auto r = run_runner({"--data", dir.path(), "--clock", "2026-12-10T12:00:00", "--seed", "1", "--keys",
                               "wait 1500; left; enter; wait 300; shot " + dir.file("menu.png") +
                                   "; right; right; enter; left; left; enter; wait 200; shot " + dir.file("back.png") +
                                   "; esc; wait 200",
                               "--shot", dir.file("main.png")});
    ASSERT_EQ(r.status, 0) << r.output;
    const auto menu = load_screenshot(dir.file("menu.png"));
    EXPECT_TRUE(region_is_image(menu, 25, 44, image_set[IMG_MENU_MEAS_SETUP_SEL]));
    EXPECT_TRUE(
        shows_text(menu, 208, 170, "Версия: 3.29"_cp, 4, TF_OUTLINE | TF_TRANSPARENT | TF_HCENTER, COLOR_DARK_BLUE));
    // Back from the volume the menu is drawn again with the volume highlighted.
    EXPECT_TRUE(region_is_image(load_screenshot(dir.file("back.png")), 205, 44, image_set[IMG_MENU_VOLUME_SEL]));
    EXPECT_TRUE(main_menu_shows(load_screenshot(dir.file("main.png")), 6));
    EXPECT_EQ(stored_settings(dir.path())[4], 80);
}

}  // namespace
