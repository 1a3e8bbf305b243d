// The bearing selection screen, driven by scripted keys over the built-in
// catalogue.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "analysis/format.h"
#include "data/images.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/session.h"
#include "host/settings.h"
#include "screens/bearing_select.h"
#include "screens/bearings.h"
#include "tests/support/screens.h"
#include "tests/support/support.h"

namespace {

constexpr u32 NAME_OFFSET = 168;  // bearing_name in the stored settings block

class BearingSelectTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        data_dir_set(dir.path());
        images_unpack_all();
        bearing_catalogue_load();
        ASSERT_GT(bearing_catalogue.count, 100u);
        settings_defaults();
    }
    void TearDown() override
    {
        bearing_catalogue_clear();
        data_dir_set("");
    }
    int run(const char* start_name, std::vector<u32> keys)
    {
        std::memset(settings.bearing_name, 0, sizeof settings.bearing_name);
        std::strncpy(settings.bearing_name, start_name, sizeof settings.bearing_name - 1);
        power_off_flag = 0;  // set by the previous script once its keys ran out
        script_keys(scope.host, std::move(keys));
        return bearing_select_screen();
    }
    // The name stored in fram.dat ("" when nothing was saved).
    std::string stored_name() const
    {
        const std::vector<u8> block = stored_settings(dir.path());
        if (block.size() < NAME_OFFSET + 24) return "";
        return std::string(reinterpret_cast<const char*>(block.data() + NAME_OFFSET));
    }
    static const char* name_of(int i) { return bearing_at(i)->name; }
    // A row in the middle with a distinct name on either side and its full dimensions given.
    static int plain_row()
    {
        for (int i = 200; i + 20 < static_cast<int>(bearing_catalogue.count); ++i) {
            const BearingRecord& r = *bearing_at(i);
            if (r.outer > 0 && r.bore > 0 && r.elements > 0 && r.element_diameter > 0 &&
                std::strcmp(name_of(i - 1), r.name) != 0 && std::strcmp(name_of(i + 1), r.name) != 0)
                return i;
        }
        return -1;
    }
    TempDir dir;
    VirtualHostScope scope;
};

TEST_F(BearingSelectTest, EnterStoresTheRowTheKeysReachFromTheStartRow)
{
    const int row = plain_row();
    ASSERT_GE(row, 20);
    struct Case {
        const char* start;
        std::vector<u32> keys;
        int expected;
    };
    const Case cases[] = {
        {name_of(row), {KEY_ENTER}, row},
        {name_of(row), {KEY_DOWN, KEY_ENTER}, row + 1},
        {name_of(row), {KEY_UP, KEY_ENTER}, row - 1},
        {name_of(row), {KEY_RIGHT, KEY_ENTER}, row + 11},
        {name_of(row), {KEY_LEFT, KEY_DOWN, KEY_ENTER}, row - 10},
        {"NO-SUCH-BEARING", {KEY_ENTER}, 0},
        {"NO-SUCH-BEARING", {KEY_DOWN, KEY_DOWN, KEY_ENTER}, 2},
        {"", {KEY_UP, KEY_ENTER}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.start) + " keys " + std::to_string(c.keys.size()));
        std::remove(dir.file("fram.dat").c_str());
        EXPECT_EQ(run(c.start, c.keys), BEARING_SELECT_DONE);
        EXPECT_STREQ(settings.bearing_name, name_of(c.expected));
        EXPECT_EQ(stored_name(), name_of(c.expected));
        // The saved block loads back with its checksum intact.
        std::memset(settings.bearing_name, 0, sizeof settings.bearing_name);
        settings_load();
        EXPECT_STREQ(settings.bearing_name, name_of(c.expected));
    }
}

TEST_F(BearingSelectTest, EscAndPowerOffChangeNothing)
{
    const int row = plain_row();
    ASSERT_GE(row, 0);
    const std::vector<u8> before = read_file_bytes(dir.file("fram.dat"));
    EXPECT_EQ(run(name_of(row), {KEY_DOWN, KEY_ESC}), BEARING_SELECT_CANCELLED);
    EXPECT_STREQ(settings.bearing_name, name_of(row));
    EXPECT_EQ(read_file_bytes(dir.file("fram.dat")), before);

    // Keys run out: the power-off flag unwinds the screen, which counts as done.
    EXPECT_EQ(run(name_of(row), {KEY_DOWN}), BEARING_SELECT_DONE);
    EXPECT_STREQ(settings.bearing_name, name_of(row));
    EXPECT_EQ(read_file_bytes(dir.file("fram.dat")), before);
}

// The value column at x 252: the factors in font 4 and the dimensions in
// font 6, dark blue outlined in yellow.
bool shows_value(const std::vector<u16>& px, int y, double value, int chars, int font)
{
    char text[32];
    outline_color = 0xFFE0;
    return region_has_text(px, 252, y, format_sig(value, chars, text), font, TF_OUTLINE, COLOR_DARK_BLUE,
                           COLOR_BACKGROUND);
}

bool upper_values_blank(const std::vector<u16>& px)
{
    // The values' column, right of the bearing drawing.
    for (int y = 25; y <= 144; ++y)
        for (int x = 251; x <= 316; ++x)
            if (px[y * LCD_WIDTH + x] != COLOR_BACKGROUND) return false;
    return true;
}

TEST_F(BearingSelectTest, ShowsTheSelectedRowsDimensionsAndFactors)
{
    const int row = plain_row();
    ASSERT_GE(row, 0);
    EXPECT_EQ(run(name_of(row - 1), {KEY_DOWN}), BEARING_SELECT_DONE);  // ends by power-off
    std::vector<u16> px(framebuffer, framebuffer + LCD_PIXELS);
    const BearingRecord& r = *bearing_at(row);
    EXPECT_TRUE(region_has_text(px, 210, 152, "FTF", 4, 0, COLOR_DARK_BLUE, COLOR_BACKGROUND));
    EXPECT_TRUE(region_has_text(px, 210, 197, "BSF", 4, 0, COLOR_DARK_BLUE, COLOR_BACKGROUND));
    EXPECT_TRUE(shows_value(px, 152, r.ftf, 5, 4));
    EXPECT_TRUE(shows_value(px, 167, r.bpfo, 5, 4));
    EXPECT_TRUE(shows_value(px, 182, r.bpfi, 5, 4));
    EXPECT_TRUE(shows_value(px, 197, r.bsf, 5, 4));
    EXPECT_TRUE(shows_value(px, 33, r.outer, 4, 6));
    EXPECT_TRUE(shows_value(px, 56, r.bore, 4, 6));
    EXPECT_TRUE(shows_value(px, 79, r.elements, 3, 6));
    EXPECT_TRUE(shows_value(px, 102, r.element_diameter, 4, 6));
    EXPECT_FALSE(upper_values_blank(px));

    // A row with only its factors: the upper panel stays empty.
    int factors_only = -1;
    for (int i = 1; i < static_cast<int>(bearing_catalogue.count) && factors_only < 0; ++i) {
        const BearingRecord& b = *bearing_at(i);
        if (b.outer <= 0 && b.bore <= 0 && b.elements == 0 && b.element_diameter <= 0 && b.contact_angle <= 0 &&
            std::strcmp(name_of(i - 1), b.name) != 0)
            factors_only = i;
    }
    ASSERT_GE(factors_only, 0);
    EXPECT_EQ(run(name_of(factors_only), {KEY_MOD}), BEARING_SELECT_DONE);
    px.assign(framebuffer, framebuffer + LCD_PIXELS);
    EXPECT_TRUE(upper_values_blank(px));
    EXPECT_TRUE(shows_value(px, 152, bearing_at(factors_only)->ftf, 5, 4)) << name_of(factors_only);
}

TEST_F(BearingSelectTest, TheDrawingStaysWholeLeftOfTheValuesOnEveryRow)
{
    // The drawing with the captions of the five dimensions lies in the upper
    // panel left of the values' column, which each row change clears: after
    // rows with and without dimensions it is all there.
    const u16* drawing = image_set[IMG_BEARING_DRAWING];
    ASSERT_NE(drawing, nullptr);
    EXPECT_LE(206 + static_cast<int>(image_width(drawing)), 251);
    EXPECT_LE(30 + static_cast<int>(image_height(drawing)), 146);
    const int row = plain_row();
    ASSERT_GE(row, 0);
    for (const std::vector<u32>& keys : {std::vector<u32>{}, {KEY_DOWN}, {KEY_DOWN, KEY_DOWN, KEY_RIGHT, KEY_UP}}) {
        SCOPED_TRACE(keys.size());
        EXPECT_EQ(run(name_of(row), keys), BEARING_SELECT_DONE);  // ends by power-off
        const std::vector<u16> px(framebuffer, framebuffer + LCD_PIXELS);
        EXPECT_TRUE(region_is_image(px, 206, 30, drawing));
    }
}

}  // namespace
