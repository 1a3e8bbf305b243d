// The vibrometer: end to end through the headless runner (entering, start,
// stop, saving a kind-4 measurement), and the drawing rules of its digits
// through the archive view.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "analysis/measures.h"
#include "analysis/shock.h"
#include "analysis/signal.h"
#include "app/reset.h"
#include "archive/measurement.h"
#include "archive/objects.h"
#include "base/cp1251.h"
#include "data/images.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/settings.h"
#include "screens/shock_panel.h"
#include "screens/vibrometer.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "tests/support/flash_image.h"
#include "tests/support/support.h"

namespace {

const std::string CLOCK = "2026-12-10T12:00:00";

RunResult run(const TempDir& dir, const std::string& keys, const std::string& clock = CLOCK)
{
    return run_runner({"--data", dir.path(), "--clock", clock, "--seed", "1", "--keys", keys});
}

// The w x h part of `image` at (sx, sy) is what `px` shows at (x, y).
bool shows_part(const std::vector<u16>& px, int x, int y, const u16* image, int sx, int sy, int w, int h)
{
    if (!image || px.size() != static_cast<size_t>(LCD_PIXELS)) return false;
    const int iw = static_cast<int>(image_width(image));
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            if (px[(y + r) * LCD_WIDTH + x + c] != image[4 + (sy + r) * iw + sx + c]) return false;
    return true;
}

bool shows_image(const std::vector<u16>& px, int x, int y, int index)
{
    const u16* img = image_set[index];
    return img &&
           shows_part(px, x, y, img, 0, 0, static_cast<int>(image_width(img)), static_cast<int>(image_height(img)));
}

// Soft-key slots 1..5 lie at x 2 + 64 (slot - 1) on the bottom bar.
bool slot_blank(const std::vector<u16>& px, int slot)
{
    return shows_image(px, 2 + 64 * (slot - 1), 216, IMG_SOFTKEY_BLANK);
}

bool all_background(const std::vector<u16>& px, int x0, int y0, int x1, int y1)
{
    if (px.size() != static_cast<size_t>(LCD_PIXELS)) return false;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            if (px[y * LCD_WIDTH + x] != COLOR_BACKGROUND) return false;
    return true;
}

// The measurement files of the archive in `folder`: directory indices.
struct Archive {
    explicit Archive(const std::string& folder) : flash(folder + "/flash.dat")
    {
        system_reset();
        ok = fs_init() == FS_OK && fs_mount() == FS_OK;
    }
    std::vector<int> of_type(u8 type) const
    {
        std::vector<int> found;
        for (u32 i = 0; i < dir_count(); ++i)
            if (dir_type(static_cast<int>(i)) == type) found.push_back(static_cast<int>(i));
        return found;
    }
    FlashFile flash;
    bool ok = false;
};

TEST(Vibrometer, FirstEntryStartSaveAndTheNextNumber)
{
    images_unpack_all();
    TempDir dir;
    const auto shot = [&](const char* name) { return "shot " + dir.file(name); };
    const auto r = run(dir, "wait 1500; enter; wait 300; " + shot("first.png") + "; hold; wait 100; " +
                                shot("first_mod.png") + "; release; enter; wait 3000; " + shot("live.png") +
                                "; shift+enter; wait 500; " + shot("saved.png"));
    ASSERT_EQ(r.status, 0) << r.output;

    // Entered for the first time: stopped, nothing to save, no plot keys.
    const auto first = load_screenshot(dir.file("first.png"));
    EXPECT_TRUE(shows_image(first, 44, 86, IMG_VIBRO_STOPPED));
    EXPECT_TRUE(shows_image(first, 44, 33, IMG_VIBRO_STOPPED));
    EXPECT_TRUE(shows_part(first, 7, 76, image_set[IMG_CAPTION_VELOCITY], 0, 0, 37, 68));  // left of the lamp
    EXPECT_FALSE(slot_blank(first, 1));
    EXPECT_TRUE(slot_blank(first, 4));
    EXPECT_TRUE(slot_blank(first, 5));
    const auto first_mod = load_screenshot(dir.file("first_mod.png"));
    EXPECT_TRUE(slot_blank(first_mod, 1)) << "no \"Зап\" without data";
    EXPECT_FALSE(slot_blank(first_mod, 2));

    // Running: the run lamps, the digits, the bar, the plot keys.
    const auto live = load_screenshot(dir.file("live.png"));
    EXPECT_TRUE(shows_image(live, 44, 86, IMG_VIBRO_RUNNING));
    EXPECT_TRUE(shows_image(live, 44, 33, IMG_VIBRO_RUNNING));
    EXPECT_FALSE(all_background(live, 87, 68, 271, 143)) << "big digits";
    EXPECT_FALSE(all_background(live, 80, 25, 161, 63)) << "temperature";
    EXPECT_FALSE(slot_blank(live, 4));
    EXPECT_FALSE(slot_blank(live, 5));

    // Shift+Enter stops and saves: the saved dialog shows its picture's rim.
    const auto saved = load_screenshot(dir.file("saved.png"));
    EXPECT_TRUE(shows_part(saved, 1, 50, image_set[IMG_SAVED_DIALOG], 0, 0, 318, 2));
    EXPECT_TRUE(shows_part(saved, 44, 33, image_set[IMG_VIBRO_STOPPED], 0, 0, 34, 16));  // above the dialog

    {
        Archive archive(dir.path());
        ASSERT_TRUE(archive.ok);
        const auto files = archive.of_type(FILE_TYPE_VIBROMETER);
        ASSERT_EQ(files.size(), 1u);
        const int object = dir_find_id(dir_parent(files[0]));
        ASSERT_GE(object, 0);
        EXPECT_EQ(dir_type(object), FILE_TYPE_OBJECT);
        EXPECT_EQ(files[0], object + 1) << "right after its object";
        EXPECT_EQ(dir_attr(files[0]), MEAS_KIND_VIBROMETER);

        MeasHeader h;
        ASSERT_EQ(meas_read_header(dir_id(files[0]), &h), 1);
        EXPECT_EQ(h.file_type, FILE_TYPE_VIBROMETER);
        EXPECT_EQ(h.kind, MEAS_KIND_VIBROMETER);
        EXPECT_EQ(h.number, 1u);
        EXPECT_EQ(h.section_offset[0], MEAS_HEADER_SIZE);
        EXPECT_EQ(h.section_length[0], RMS_TABLE_RECORD_SIZE);

        RmsTableRecord rec;
        MeasSection s1{&rec, sizeof rec, 0};
        u32 kind = 0;
        ASSERT_GT(meas_read(dir_id(files[0]), &kind, &s1, nullptr, nullptr, true), 0u);
        EXPECT_EQ(rms_table_verify(&rec), 1);
        EXPECT_NE(rec.valid, 0);
        EXPECT_EQ(rec.format, RECORD_FORMAT);
        EXPECT_EQ(rec.group, 1u);
        EXPECT_EQ(rec.filled[0] & 1, 1);
        EXPECT_EQ(rec.filled_count, 1);
        EXPECT_GT(rec.values[0][0][1], 0.0f);
        u32 repeated;
        std::memcpy(&repeated, &rec.values[0][0][1], 4);
        EXPECT_EQ(h.value, repeated) << "the header repeats the velocity";
        EXPECT_EQ(h.day, 10);
        EXPECT_EQ(h.month, 12);
        EXPECT_EQ(h.year, 26);
    }

    // An hour later the next start resumes the vibrometer; a second reading
    // gets number 2 and stands first, as the newest.
    const auto r2 =
        run(dir, "wait 1500; enter; wait 2000; shift+enter; wait 500; esc; wait 200", "2026-12-10T13:00:00");
    ASSERT_EQ(r2.status, 0) << r2.output;
    Archive archive(dir.path());
    ASSERT_TRUE(archive.ok);
    const auto files = archive.of_type(FILE_TYPE_VIBROMETER);
    ASSERT_EQ(files.size(), 2u);
    MeasHeader newest;
    ASSERT_EQ(meas_read_header(dir_id(files[0]), &newest), 1);
    EXPECT_EQ(newest.number, 2u);
}

// The archive view draws the stored value with the digit cells of the strip
// of its velocity grade: a blank advances one cell, "." drops its small cell
// 49 px, values of 100 and more lose the fraction, 999 at most.
class VibrometerView : public ::testing::Test {
protected:
    void SetUp() override { images_unpack_all(); }
    VirtualHostScope scope;

    static std::vector<u16> screen() { return std::vector<u16>(framebuffer, framebuffer + LCD_PIXELS); }

    RmsTableRecord record_with(float accel, float velocity, float displacement, float temperature)
    {
        RmsTableRecord r;
        std::memset(&r, 0, sizeof r);
        r.valid = 1;
        r.format = RECORD_FORMAT;
        r.group = 1;
        r.values[0][0][0] = accel;
        r.values[0][0][1] = velocity;
        r.values[0][0][2] = displacement;
        r.temperature[0][0] = temperature;
        r.filled[0] = 1;
        r.filled_count = 1;
        rms_table_seal(&r);
        return r;
    }
};

TEST_F(VibrometerView, DigitsFollowTheCellRules)
{
    struct Case {
        float velocity;
        const char* text;
    };
    const Case cases[] = {{5.0f, " 5.0"}, {12.345f, "12.3"}, {123.45f, "123"}, {1234.5f, "999"}};
    for (const Case& c : cases) {
        settings.plot_quantity = 1;
        RmsTableRecord rec = record_with(1.0f, c.velocity, 1.0f, 25.0f);
        script_keys(scope.host, {KEY_ESC});
        vibrometer_view(&rec);
        const auto px = screen();
        const int grade = grade_value(c.velocity, settings.warn_idx, settings.alarm_idx);
        const u16* strip = image_set[grade == 3 ? IMG_DIGITS_RED : grade == 2 ? IMG_DIGITS_YELLOW : IMG_DIGITS_GREEN];
        const int h = static_cast<int>(image_height(strip)) - 1;
        int x = 87;
        for (const char* p = c.text; *p; ++p) {
            if (*p == ' ') {
                EXPECT_TRUE(all_background(px, x, 68, x + IMG_DIGITS_CELL - 1, 68 + h - 1)) << c.text;
                x += IMG_DIGITS_CELL;
            } else if (*p == '.') {
                EXPECT_TRUE(shows_part(px, x, 68 + IMG_DIGITS_POINT_DROP, strip, IMG_DIGITS_POINT_X, 0,
                                       IMG_DIGITS_POINT, IMG_DIGITS_POINT))
                    << c.text;
                x += IMG_DIGITS_POINT;
            } else {
                EXPECT_TRUE(shows_part(px, x, 68, strip, IMG_DIGITS_PITCH * (*p - '0'), 0, IMG_DIGITS_CELL, h))
                    << c.text << " at " << x;
                x += IMG_DIGITS_CELL;
            }
        }
        EXPECT_TRUE(all_background(px, x, 68, 271, 68 + h - 1)) << c.text << ": nothing after the text";
    }
}

TEST_F(VibrometerView, AbsurdTemperaturesStayInTheirBox)
{
    // A stored (or measured) temperature beyond what three places hold shows
    // the end it lies beyond, in the box (80, 25)-(161, ...); the screen
    // around it is the same as with an ordinary temperature.
    settings.plot_quantity = 1;
    RmsTableRecord ordinary = record_with(1.0f, 3.0f, 1.0f, 25.0f);
    script_keys(scope.host, {KEY_ESC});
    vibrometer_view(&ordinary);
    const auto reference = screen();
    struct Case {
        float celsius;
        const char* text;
    };
    const Case cases[] = {{1.0e6f, "999"},  {5000.0f, "999"}, {999.0f, "999"},
                          {-1.0e6f, "-99"}, {-150.0f, "-99"}, {-40.0f, "-40"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.celsius);
        RmsTableRecord rec = record_with(1.0f, 3.0f, 1.0f, c.celsius);
        script_keys(scope.host, {KEY_ESC});
        vibrometer_view(&rec);
        const auto px = screen();
        const int grade = grade_temperature(c.celsius);
        const u16* strip =
            image_set[grade == 3 ? IMG_TEMP_DIGITS_RED : grade == 2 ? IMG_TEMP_DIGITS_YELLOW : IMG_TEMP_DIGITS_GREEN];
        const int h = static_cast<int>(image_height(strip)) - 1;
        int x = 80;
        for (const char* p = c.text; *p; ++p) {
            if (*p == '-') {
                EXPECT_TRUE(shows_part(px, x, 25, strip, IMG_TEMP_DIGITS_MINUS_X, 0, IMG_TEMP_DIGITS_MINUS_W, h));
                x += IMG_TEMP_DIGITS_MINUS_W;
            } else {
                EXPECT_TRUE(shows_part(px, x, 25, strip, IMG_TEMP_DIGITS_PITCH * (*p - '0'), 0, IMG_TEMP_DIGITS_CELL, h))
                    << c.text << " at " << x;
                x += IMG_TEMP_DIGITS_CELL;
            }
        }
        int outside = 0;
        for (int y = 0; y < LCD_HEIGHT; ++y)
            for (int i = 0; i < LCD_WIDTH; ++i) {
                const bool in_box = i >= 80 && i <= 161 && y >= 25 && y < 25 + h;
                if (!in_box && px[y * LCD_WIDTH + i] != reference[y * LCD_WIDTH + i]) ++outside;
            }
        EXPECT_EQ(outside, 0) << "pixels changed outside the temperature's box";
    }
}

// The bar graph's full scale jumps at once to the ceiling of the largest of
// the last 8 velocities and shrinks by 30 % per update only while that
// largest value stays below half of it.
TEST_F(VibrometerView, BarScaleGrowsAtOnceAndShrinksByThirtyPercent)
{
    settings.plot_quantity = 1;
    settings.warn_idx = 0;  // no limits: only the values set the scale
    settings.alarm_idx = 0;
    RmsTableRecord rec = record_with(1.0f, 9.3f, 1.0f, 25.0f);
    std::vector<i32> tops;
    scope.host.set_on_pump([&] {
        if (vibrometer.meter.last_stamp != results.stamp || tops.size() == 13) return;  // not drawn yet, or done
        tops.push_back(vibrometer.meter.bar_top);
        if (tops.size() == 1) vibrometer.record->values[0][0][1] = 2.0f;
        if (tops.size() == 13) {
            key_post(KEY_ESC);
            return;
        }
        ++results.stamp;
    });
    vibrometer_view(&rec);
    scope.host.set_on_pump(nullptr);
    const std::vector<i32> expected = {10, 10, 10, 10, 10, 10, 10, 10, 7, 5, 4, 4, 4};
    EXPECT_EQ(tops, expected);
    // 2.0 of 4 reaches y 205 - 2 * 138 / 4 = 136, in the colour of its grade,
    // under the black peak-hold line of the same value.
    EXPECT_EQ(framebuffer[137 * LCD_WIDTH + 296], COLOR_GOOD);
    EXPECT_EQ(framebuffer[136 * LCD_WIDTH + 296], COLOR_BLACK);
    EXPECT_NE(framebuffer[135 * LCD_WIDTH + 296], COLOR_GOOD);
}

TEST_F(VibrometerView, ADamagedRecordShowsTheErrorBoxAndNothingElse)
{
    RmsTableRecord rec = record_with(1.0f, 2.0f, 3.0f, 25.0f);
    rec.values[0][0][1] = 7.0f;  // the checksum no longer matches
    lcd_clear();
    script_keys(scope.host, {KEY_ENTER});
    vibrometer_view(&rec);
    const auto px = screen();
    EXPECT_FALSE(shows_image(px, 0, 149, IMG_PLOT_PANEL)) << "the view was not drawn";
    EXPECT_EQ(vibrometer.record, nullptr) << "nothing kept of the damaged record";
}

TEST_F(VibrometerView, ClosesOnEnterEscOrRightAndStoresNothing)
{
    for (u32 key : {KEY_ENTER, KEY_ESC, KEY_RIGHT}) {
        settings.plot_quantity = 1;
        settings.alarm_idx = 8;
        RmsTableRecord rec = record_with(1.0f, 2.0f, 3.0f, 25.0f);
        script_keys(scope.host, {KEY_DOWN, KEY_SHIFT | KEY_UP, key});
        vibrometer_view(&rec);
        EXPECT_EQ(settings.plot_quantity, 1u) << key;
        EXPECT_EQ(settings.alarm_idx, 8u) << key;
        EXPECT_EQ(vibrometer.record, &vibrometer.live) << key;
        EXPECT_FALSE(power_off_flag) << "closed by the key, not by the end of the script";
    }
}

}  // namespace

namespace {

// The shock-pulse panel draws its values once per new result and shows the
// empty panel again once the result is no longer valid.
class ShockPanel : public ::testing::Test {
protected:
    void SetUp() override
    {
        images_unpack_all();
        shock_result.valid = 1;
        shock_result.stamp = 1000;
        shock_result.tick = 7;
        shock_result.dbm = 40.0f;
        shock_result.dbc = 20.0f;
        shock_result.delta_mc = 20.0f;
        shock_result.cond_code = 3;
    }
    VirtualHostScope scope;
    static bool empty_panel()
    {
        const std::vector<u16> px(framebuffer, framebuffer + LCD_PIXELS);
        return shows_part(px, 4, 154, image_set[IMG_SHOCK_PANEL], 0, 0, 57, 57) &&
               all_background(px, 65, 153, 269, 210);
    }
};

TEST_F(ShockPanel, DrawsOncePerResultAndEmptiesWhenTheResultGoes)
{
    shock_panel_draw();
    EXPECT_EQ(panel_redraw, 0);
    EXPECT_EQ(panel_empty, 0);
    EXPECT_FALSE(all_background(std::vector<u16>(framebuffer, framebuffer + LCD_PIXELS), 65, 153, 269, 210));

    // The same stamp and tick: nothing is drawn over a marked spot.
    put_pixel(100, 160, COLOR_MAGENTA);
    shock_panel_draw();
    EXPECT_EQ(framebuffer[160 * LCD_WIDTH + 100], COLOR_MAGENTA);
    // A new tick draws the values again.
    shock_result.tick = 8;
    shock_panel_draw();
    EXPECT_NE(framebuffer[160 * LCD_WIDTH + 100], COLOR_MAGENTA);

    shock_result.valid = 0;
    shock_panel_draw();
    EXPECT_EQ(panel_empty, 1);
    EXPECT_TRUE(empty_panel());
    // The grade colour of delta_mc follows cond_code: red for 3.
    shock_result.valid = 1;
    shock_result.tick = 9;
    shock_panel_draw();
    bool red = false;
    for (int y = 155; y < 175; ++y)
        for (int x = 124; x < 160; ++x) red = red || framebuffer[y * LCD_WIDTH + x] == COLOR_RED;
    EXPECT_TRUE(red);
}

TEST_F(ShockPanel, DarkBlueValuesAreOutlinedInWhite)
{
    // Whatever outline the screen left set: dBm, dBc, COND and CODE stand
    // out in white around their dark blue digits, as the plot readouts do.
    shock_result.dbm = 104.0f;
    shock_result.dbc = 96.0f;
    shock_result.cond_number = 7;
    shock_result.zone_letter = 'C';
    outline_color = COLOR_BLACK;
    shock_panel_draw();
    const std::vector<u16> px(framebuffer, framebuffer + LCD_PIXELS);
    outline_color = COLOR_WHITE;
    const struct {
        const char* what;
        int x, y;
        const char* text;
        u32 flags;
    } values[] = {
        {"dBm", 86, 174, "104", TF_OUTLINE},
        {"dBc", 140, 174, " 96", TF_OUTLINE},
        {"COND", 92, 203, " 7", TF_OUTLINE | TF_TRANSPARENT},
        {"CODE", 146, 203, "C", TF_OUTLINE | TF_TRANSPARENT},
    };
    for (const auto& v : values)
        EXPECT_TRUE(region_has_text(px, v.x, v.y, v.text, 2, v.flags, COLOR_DARK_BLUE, COLOR_BACKGROUND)) << v.what;
    EXPECT_EQ(outline_color, COLOR_WHITE) << "the screen's outline colour put back";
}

}  // namespace
