// The special RMS measurement: the table geometry, measuring cell by cell,
// the selection, clearing, the settings it keeps, saving a kind-5 record and
// its archive view, and the screen end to end through the headless runner.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/format.h"
#include "analysis/meas_module.h"
#include "analysis/measures.h"
#include "analysis/signal.h"
#include "app/reset.h"
#include "archive/measurement.h"
#include "archive/mount.h"
#include "archive/objects.h"
#include "data/images.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/settings.h"
#include "screens/browser.h"
#include "screens/rms.h"
#include "screens/status.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "tests/support/flash_image.h"
#include "tests/support/support.h"

namespace {

constexpr u32 DIR_BITS = 7;

TEST(RmsTable, PointColumnsAreNarrowBeforeAndAfterTheFourWideOnes)
{
    struct Case {
        u32 first;
        std::vector<i32> x;  // of points 0..13
    };
    const Case cases[] = {
        {0, {19, 57, 95, 133, 171, 181, 191, 201, 211, 221, 231, 241, 251, 261}},
        {6, {19, 29, 39, 49, 59, 69, 79, 117, 155, 193, 231, 241, 251, 261}},
        {10, {19, 29, 39, 49, 59, 69, 79, 89, 99, 109, 119, 157, 195, 233}},
    };
    for (const Case& c : cases)
        for (u32 p = 0; p < RMS_POINTS; ++p)
            EXPECT_EQ(rms_point_x(p, c.first), c.x[p]) << "first " << c.first << " p " << p;
    // Whatever the wide points, the last column ends where the table does, at x 271.
    for (u32 first = 0; first <= RMS_POINTS - RMS_WIDE_POINTS; ++first) {
        const bool last_wide = first + RMS_WIDE_POINTS == RMS_POINTS;
        EXPECT_EQ(rms_point_x(RMS_POINTS - 1, first) + (last_wide ? RMS_WIDE_W : RMS_NARROW_W), 271) << first;
    }
}

// The live screen with scripted keys and the measuring module acquiring at
// once (one record per loop pass).
class RmsScreen : public ::testing::Test {
protected:
    void SetUp() override
    {
        images_unpack_all();
        meas_init();
        results_reset();
        rand_seed(5);
    }
    void run(std::vector<u32> keys)
    {
        power_off_flag = 0;
        script_keys(scope.host, std::move(keys));
        rms_screen();
        shot.assign(framebuffer, framebuffer + LCD_PIXELS);
        EXPECT_FALSE(power_off_flag) << "left with Esc, not at the end of the script";
    }
    static void select(u32 point, u32 dir, u32 first)
    {
        rms.cur_point = point;
        rms.cur_dir = dir;
        rms.first_point = first;
    }
    static bool is_zero(const RmsTableRecord& r)
    {
        static const RmsTableRecord zero{};
        return std::memcmp(&r, &zero, sizeof r) == 0;
    }
    u16 at(int x, int y) const { return shot[y * LCD_WIDTH + x]; }

    VirtualHostScope scope;
    std::vector<u16> shot;
};

TEST_F(RmsScreen, StoppingFillsTheCellAndSelectsTheNextOneButNotBeyondTheLast)
{
    run({KEY_ENTER, KEY_ENTER, KEY_ESC});
    const RmsTableRecord& t = rms.live;
    EXPECT_EQ(rms.record, &rms.live);
    EXPECT_EQ(rms.cur_point, 0u);
    EXPECT_EQ(rms.cur_dir, 1u);
    EXPECT_EQ(t.filled[0], 1);
    EXPECT_NE(t.valid, 0);
    EXPECT_EQ(t.format, RECORD_FORMAT);
    EXPECT_EQ(t.group, 1u);
    for (u32 q = 0; q < RMS_QUANTITIES; ++q) EXPECT_GT(t.values[0][0][q], 0.0f) << q;
    EXPECT_GE(t.temperature[0][0], 60.0f);
    EXPECT_EQ(t.values[0][1][1], 0.0f) << "the next cell is still empty";

    select(13, 2, 10);
    run({KEY_ENTER, KEY_ENTER, KEY_ESC});
    EXPECT_EQ(rms.cur_point, 13u);
    EXPECT_EQ(rms.cur_dir, 2u);
    EXPECT_EQ(rms.first_point, 10u);
    EXPECT_EQ(t.filled[13], 4);
    EXPECT_GT(t.values[13][2][1], 0.0f);
    EXPECT_EQ(t.filled[0], 1) << "the table is kept from one entry to the next";
}

TEST_F(RmsScreen, ArrowsMoveTheSelectionWhileStopped)
{
    struct Case {
        const char* what;
        u32 point, dir, first;  // before
        std::vector<u32> keys;
        u32 to_point, to_dir, to_first;
    };
    const std::vector<u32> right9(9, KEY_RIGHT);
    std::vector<u32> right9_left4 = right9;
    right9_left4.insert(right9_left4.end(), 4, KEY_LEFT);
    const Case cases[] = {
        {"Right from point 0 to 9: points 6 to 9 wide", 0, 0, 0, right9, 9, 0, 6},
        {"back Left to 5: it becomes the first wide one", 0, 0, 0, right9_left4, 5, 0, 5},
        {"Down through the directions into the next point", 0, 0, 0, {KEY_DOWN, KEY_DOWN, KEY_DOWN}, 1, 0, 0},
        {"Up from direction 0 to direction 2 of the point before", 1, 0, 0, {KEY_UP}, 0, 2, 0},
        {"Up from the first cell: nothing", 0, 0, 0, {KEY_UP}, 0, 0, 0},
        {"Left from point 0: nothing", 0, 1, 0, {KEY_LEFT}, 0, 1, 0},
        {"Down from the last cell: nothing", 13, 2, 10, {KEY_DOWN}, 13, 2, 10},
        {"Right from the last point: nothing", 13, 1, 10, {KEY_RIGHT}, 13, 1, 10},
        {"Left keeps the direction", 4, 2, 1, {KEY_LEFT, KEY_LEFT}, 2, 2, 1},
        {"arrows are not taken while measuring", 0, 0, 0, {KEY_ENTER, KEY_RIGHT, KEY_DOWN, KEY_ENTER}, 0, 1, 0},
    };
    for (const Case& c : cases) {
        rms_reset();
        select(c.point, c.dir, c.first);
        std::vector<u32> keys = c.keys;
        keys.push_back(KEY_ESC);
        run(keys);
        EXPECT_EQ(rms.cur_point, c.to_point) << c.what;
        EXPECT_EQ(rms.cur_dir, c.to_dir) << c.what;
        EXPECT_EQ(rms.first_point, c.to_first) << c.what;
    }
}

TEST_F(RmsScreen, TheTableShowsFourWidePointsAroundTheSelection)
{
    run({KEY_ENTER, KEY_ENTER, KEY_RIGHT, KEY_RIGHT, KEY_RIGHT, KEY_RIGHT, KEY_RIGHT, KEY_RIGHT, KEY_RIGHT, KEY_RIGHT,
         KEY_RIGHT, KEY_ESC});
    ASSERT_EQ(rms.cur_point, 9u);
    ASSERT_EQ(rms.cur_dir, 1u);
    // Point headers: the wide points 6..9 are 38 px, the selected one (9) dark blue.
    for (u32 p = 6; p <= 9; ++p) {
        const int x = rms_point_x(p, 6);
        const u16 fill = p == 9 ? COLOR_DARK_BLUE : COLOR_BACKGROUND;
        EXPECT_EQ(at(x + 1, 156), fill) << p;
        EXPECT_EQ(at(x + 36, 156), fill) << p;
        EXPECT_EQ(at(x, 172), COLOR_GREY) << "left rim of " << p;
        EXPECT_EQ(at(x + 37, 172), COLOR_GREY) << "right rim of " << p;
    }
    // Narrow points on both sides, 10 px, with their rims.
    EXPECT_EQ(at(69, 172), COLOR_GREY);
    EXPECT_EQ(at(78, 172), COLOR_GREY);
    EXPECT_EQ(at(231, 172), COLOR_GREY);
    EXPECT_EQ(at(240, 172), COLOR_GREY);
    // The selected direction header "П" and the selected cell (9, 1), dark blue.
    EXPECT_EQ(at(4, 182), COLOR_DARK_BLUE);
    EXPECT_EQ(at(4, 166), COLOR_BACKGROUND);
    EXPECT_EQ(at(195, 193), COLOR_DARK_BLUE);
    EXPECT_EQ(at(195, 177), COLOR_BACKGROUND);
    // Point 0 is narrow now: its filled cell (0, 0) shows a square of its grade.
    const u16 grade = grade_colour(static_cast<u32>(grade_value(rms.live.values[0][0][1], 7, 8)));
    EXPECT_EQ(at(19 + 4, 166 + 6), grade);
    EXPECT_EQ(at(19 + 4, 182 + 6), COLOR_BACKGROUND) << "cell (0, 1) is empty";
}

TEST_F(RmsScreen, MeasuredValuesAreOutlinedInWhiteOnEitherFill)
{
    // Cell (0, 0) measured, then cells (0, 0) and (0, 1) measured with (0, 1)
    // selected: the value in its grade colour has a white outline on the
    // selected cell's dark blue and on the others' background alike.
    struct Case {
        const char* what;
        std::vector<u32> keys;  // Esc follows
        u32 dir;                // of the cell looked at, point 0
        u16 fill;
    };
    const Case cases[] = {
        {"selected, back on the measured cell", {KEY_ENTER, KEY_ENTER, KEY_UP}, 0, COLOR_DARK_BLUE},
        {"not selected", {KEY_ENTER, KEY_ENTER}, 0, COLOR_BACKGROUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::memset(&rms.live, 0, sizeof rms.live);
        select(0, 0, 0);
        std::vector<u32> keys = c.keys;
        keys.push_back(KEY_ESC);
        run(keys);
        ASSERT_NE(rms.live.filled[0] & (1u << c.dir), 0);
        char text[32];
        format_quantity(text, static_cast<int>(rms.quantity), rms.live.values[0][c.dir][rms.quantity]);
        // The value drawn as the cell should have it, on the cell's fill.
        const int x = 19 + 4, y = 166 + 16 * static_cast<int>(c.dir);
        const std::vector<u16> saved(framebuffer, framebuffer + LCD_PIXELS);
        std::fill_n(framebuffer, LCD_PIXELS, c.fill);
        font_select(8);
        fg_color = grade_colour(static_cast<u32>(grade_value(rms.live.values[0][c.dir][1], 7, 8)));
        outline_color = COLOR_WHITE;
        text_draw(x, y, text, TF_OUTLINE | TF_TRANSPARENT);
        const std::vector<u16> want(framebuffer, framebuffer + LCD_PIXELS);
        std::copy(saved.begin(), saved.end(), framebuffer);
        // Inside the cell's fill (x 20..55, 12 rows from y).
        int white = 0;
        for (int j = y; j < y + 12; ++j)
            for (int i = 20; i <= 55; ++i) {
                ASSERT_EQ(at(i, j), want[j * LCD_WIDTH + i]) << i << "," << j;
                white += at(i, j) == COLOR_WHITE;
            }
        EXPECT_GT(white, 0);
    }
}

TEST_F(RmsScreen, ShiftRightClearsTheTableAndSelectsTheFirstCell)
{
    // Without data it does nothing.
    run({KEY_RIGHT, KEY_SHIFT | KEY_RIGHT, KEY_ESC});
    EXPECT_EQ(rms.cur_point, 1u);

    rms_reset();
    run({KEY_ENTER, KEY_ENTER, KEY_ENTER, KEY_ENTER, KEY_RIGHT, KEY_RIGHT, KEY_RIGHT, KEY_RIGHT, KEY_SHIFT | KEY_RIGHT,
         KEY_ESC});
    EXPECT_TRUE(is_zero(rms.live));
    EXPECT_EQ(rms.cur_point, 0u);
    EXPECT_EQ(rms.cur_dir, 0u);
    EXPECT_EQ(rms.first_point, 0u);
    EXPECT_EQ(rms.has_data, 0);
    EXPECT_EQ(results.valid, 0u);
    EXPECT_EQ(at(21, 177), COLOR_DARK_BLUE) << "cell (0, 0) selected and empty";
}

TEST_F(RmsScreen, QuantityAndLimitsComeFromAndGoBackToTheSettings)
{
    settings.plot_quantity = 9;  // out of range: velocity
    run({KEY_SHIFT | KEY_LEFT, KEY_SHIFT | KEY_UP, KEY_ESC});
    EXPECT_EQ(settings.plot_quantity, 2u);
    EXPECT_EQ(settings.warn_idx, 8u);
    EXPECT_EQ(settings.alarm_idx, 9u);

    settings.warn_idx = 11;
    settings.alarm_idx = 12;
    run({KEY_SHIFT | KEY_UP, KEY_ESC});
    EXPECT_EQ(settings.alarm_idx, 12u) << "no limit above 45 mm/s";
    settings.warn_idx = 0;
    settings.alarm_idx = 1;
    run({KEY_SHIFT | KEY_DOWN, KEY_ESC});
    EXPECT_EQ(settings.alarm_idx, 1u);
    EXPECT_EQ(settings.warn_idx, 0u);
}

TEST_F(RmsScreen, ACellTakesOnlyTheValuesOfItsOwnMeasurement)
{
    run({KEY_ENTER, KEY_ENTER, KEY_ESC});
    ASSERT_EQ(rms.live.filled[0], 1);
    ASSERT_NE(results.valid, 0u);
    // Records now take the time their samples span: started and stopped at
    // once, cell (0, 1) gets no record of its own and stays empty.
    meas_set_paced(true);
    run({KEY_ENTER, KEY_ENTER, KEY_ESC});
    meas_set_paced(false);
    EXPECT_EQ(rms.live.filled[0], 1);
    EXPECT_EQ(rms.live.values[0][1][1], 0.0f);
    EXPECT_EQ(rms.cur_dir, 2u) << "the selection moves on all the same";
}

// ------------------------------------------------------------ saving and the view

class RmsArchive : public RmsScreen {
protected:
    void SetUp() override
    {
        RmsScreen::SetUp();
        ASSERT_EQ(obj_after_mount(), OBJ_CHOSEN);
        archive_state = ARCHIVE_MOUNTED;
    }
    std::vector<int> rms_files() const
    {
        std::vector<int> found;
        for (u32 i = 0; i < dir_count(); ++i)
            if (dir_type(static_cast<int>(i)) == FILE_TYPE_RMS_TABLE) found.push_back(static_cast<int>(i));
        return found;
    }
    // Pixels of `colour` inside cell (p, d) drawn wide or narrow at x.
    int colour_count(int x, u32 d, int w, u16 colour) const
    {
        int n = 0;
        const int y = RMS_ROW_Y + RMS_ROW_PITCH * static_cast<int>(d);
        for (int j = y + 1; j < y + RMS_ROW_PITCH - 2; ++j)
            for (int i = x + 1; i < x + w - 1; ++i) n += at(i, j) == colour;
        return n;
    }
    MountedFlash image;  // after the host scope: its reset comes first
};

TEST_F(RmsArchive, SavedTableCountsItsFilledCellsAndOpensInTheView)
{
    // Five cells: (0, 0), (0, 1), (0, 2), (1, 0), (1, 1); then save, close the dialog.
    std::vector<u32> keys;
    for (int i = 0; i < 5; ++i) keys.insert(keys.end(), {KEY_ENTER, KEY_ENTER});
    keys.insert(keys.end(), {KEY_SHIFT | KEY_ENTER, KEY_ENTER, KEY_ESC});
    run(keys);
    const auto files = rms_files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(dir_attr(files[0]), MEAS_KIND_RMS_TABLE);
    RmsTableRecord rec;
    MeasSection s1{&rec, sizeof rec, 0};
    u32 kind = 0;
    ASSERT_GT(meas_read(dir_id(files[0]), &kind, &s1, nullptr, nullptr, true), 0u);
    EXPECT_EQ(kind, u32{MEAS_KIND_RMS_TABLE});
    EXPECT_EQ(s1.length, RMS_TABLE_RECORD_SIZE);
    EXPECT_EQ(rms_table_verify(&rec), 1);
    EXPECT_EQ(rec.filled_count, 5);
    EXPECT_EQ(rec.filled[0], DIR_BITS);
    EXPECT_EQ(rec.filled[1], 3);
    EXPECT_EQ(rec.format, RECORD_FORMAT);
    EXPECT_EQ(rec.stamp, results.stamp);
    EXPECT_GT(rec.values[1][1][1], 0.0f);
    EXPECT_EQ(rec.values[1][2][1], 0.0f);

    // Opened from the archive: cell (0, 0) selected, points 0..3 wide with
    // their values, nothing stored on leaving.
    const RmsTableRecord live = rms.live;
    const u32 quantity = settings.plot_quantity;
    script_keys(scope.host, {KEY_SHIFT | KEY_LEFT, KEY_DOWN, KEY_UP, KEY_ENTER});
    meas_view(files[0]);
    shot.assign(framebuffer, framebuffer + LCD_PIXELS);
    EXPECT_EQ(settings.plot_quantity, quantity);
    EXPECT_EQ(rms.record, &rms.live);
    EXPECT_EQ(std::memcmp(&rms.live, &live, sizeof live), 0);
    EXPECT_EQ(rms.cur_point, 1u) << "the live table keeps its selection";
    EXPECT_EQ(rms.cur_dir, 2u);
    const auto grade = [&](u32 p, u32 d) {
        return grade_colour(static_cast<u32>(grade_value(rec.values[p][d][1], 7, 8)));
    };
    EXPECT_EQ(at(21, 177), COLOR_DARK_BLUE) << "cell (0, 0) selected";
    EXPECT_GT(colour_count(19, 0, RMS_WIDE_W, grade(0, 0)), 10) << "its value";
    EXPECT_GT(colour_count(57, 1, RMS_WIDE_W, grade(1, 1)), 10);
    EXPECT_EQ(colour_count(57, 2, RMS_WIDE_W, COLOR_BACKGROUND), 36 * 13) << "cell (1, 2) empty";
}

TEST_F(RmsArchive, ADamagedRecordShowsTheErrorBoxOnly)
{
    RmsTableRecord rec{};
    rec.valid = 1;
    rec.filled[0] = 1;
    rms_table_seal(&rec);
    rec.values[0][0][1] = 5.0f;
    bg_color = COLOR_MAGENTA;
    lcd_clear();
    script_keys(scope.host, {KEY_ENTER});
    rms_view(&rec);
    shot.assign(framebuffer, framebuffer + LCD_PIXELS);
    EXPECT_EQ(rms.record, nullptr);
    EXPECT_EQ(at(2, 230), COLOR_MAGENTA) << "no view drawn";
    EXPECT_EQ(at(14, 170), COLOR_BACKGROUND) << "the box";
}

// ------------------------------------------------------------ end to end

bool slot_blank(const std::vector<u16>& px, int slot)
{
    return region_is_image(px, 2 + 64 * (slot - 1), 216, image_set[IMG_SOFTKEY_BLANK]);
}

bool all_background(const std::vector<u16>& px, int x0, int y0, int x1, int y1)
{
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            if (px[y * LCD_WIDTH + x] != COLOR_BACKGROUND) return false;
    return true;
}

TEST(RmsRun, MeasureSaveAndTheSoftKeysOnTheWay)
{
    images_unpack_all();
    TempDir dir;
    const auto shot = [&](const char* name) { return "shot " + dir.file(name); };
    const auto r =
        run_runner({"--data", dir.path(), "--clock", "2026-12-10T12:00:00", "--seed", "1", "--keys",
                    "wait 1500; down; enter; enter; hold; wait 100; " + shot("first_mod.png") +
                        "; release; enter; wait 2500; " + shot("running.png") + "; enter; wait 300; hold; wait 100; " +
                        shot("stopped_mod.png") + "; release; shift+enter; wait 500; enter; wait 200; esc; wait 200"});
    ASSERT_EQ(r.status, 0) << r.output;

    // Entered without data: no "Зап", no "Очист"; the limit and quantity keys.
    const auto first_mod = load_screenshot(dir.file("first_mod.png"));
    ASSERT_FALSE(first_mod.empty());
    EXPECT_TRUE(slot_blank(first_mod, 1));
    for (int slot = 2; slot <= 4; ++slot) EXPECT_FALSE(slot_blank(first_mod, slot)) << slot;
    EXPECT_TRUE(slot_blank(first_mod, 5));

    // Measuring: "Стоп" only; the big digits and the temperature of the cell.
    const auto running = load_screenshot(dir.file("running.png"));
    EXPECT_FALSE(slot_blank(running, 1));
    for (int slot = 2; slot <= 5; ++slot) EXPECT_TRUE(slot_blank(running, slot)) << slot;
    EXPECT_TRUE(region_is_image(running, 44, 86, image_set[IMG_VIBRO_RUNNING]));
    EXPECT_FALSE(all_background(running, 87, 68, 271, 143)) << "big digits";

    // Stopped with data: every shifted label, "Зап" and "Очист" included.
    const auto stopped_mod = load_screenshot(dir.file("stopped_mod.png"));
    for (int slot = 1; slot <= 5; ++slot) EXPECT_FALSE(slot_blank(stopped_mod, slot)) << slot;
    EXPECT_TRUE(region_is_image(stopped_mod, 44, 86, image_set[IMG_VIBRO_STOPPED]));

    FlashFile flash(dir.file("flash.dat"));
    system_reset();
    ASSERT_EQ(fs_init(), FS_OK);
    ASSERT_EQ(fs_mount(), FS_OK);
    int found = 0;
    for (u32 i = 0; i < dir_count(); ++i) found += dir_type(static_cast<int>(i)) == FILE_TYPE_RMS_TABLE;
    EXPECT_EQ(found, 1);
}

}  // namespace
