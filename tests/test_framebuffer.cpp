// Drawing primitives: clipping, patterns and the shapes' exact pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "gfx/framebuffer.h"
#include "host/device.h"
#include "tests/support/support.h"

namespace {

using Pixels = std::set<std::pair<int, int>>;

constexpr u16 PAPER = 0x1234;
constexpr u16 INK = 0xBEEF;

// Every pixel that differs from the paper colour.
Pixels drawn()
{
    Pixels s;
    for (int y = 0; y < LCD_HEIGHT; ++y)
        for (int x = 0; x < LCD_WIDTH; ++x)
            if (framebuffer[y * LCD_WIDTH + x] != PAPER) s.insert({x, y});
    return s;
}

Pixels span_x(int x0, int x1, int y)
{
    Pixels s;
    for (int x = x0; x <= x1; ++x) s.insert({x, y});
    return s;
}

Pixels span_y(int x, int y0, int y1)
{
    Pixels s;
    for (int y = y0; y <= y1; ++y) s.insert({x, y});
    return s;
}

Pixels box(int x0, int y0, int x1, int y1)
{
    Pixels s;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) s.insert({x, y});
    return s;
}

Pixels points(std::initializer_list<std::pair<int, int>> l)
{
    return Pixels(l);
}

class PrimitiveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        framebuffer_reset();
        bg_color = PAPER;
        lcd_clear();
        fg_color = INK;
    }
    VirtualHostScope scope;
};

struct ShapeCase {
    const char* name;
    std::function<void()> draw;
    Pixels expected;
};

TEST_F(PrimitiveTest, ShapesDrawExactlyTheirPixels)
{
    const std::vector<ShapeCase> cases = {
        {"hline clipped at the right edge", [] { draw_hline(300, 400, 10, INK); }, span_x(300, 319, 10)},
        {"hline ends swapped", [] { draw_hline(20, 10, 5, INK); }, span_x(10, 20, 5)},
        {"vline clipped at the bottom", [] { draw_vline(7, 230, 999, INK); }, span_y(7, 230, 239)},
        {"vline ends swapped", [] { draw_vline(3, 9, 4, INK); }, span_y(3, 4, 9)},
        {"fill_rect with y0 > y1 draws nothing", [] { fill_rect(10, 20, 30, 19, INK); }, {}},
        {"fill_rect with x0 > x1 swaps per row", [] { fill_rect(30, 1, 10, 2, INK); }, box(10, 1, 30, 2)},
        {"fill_rect clipped at the right", [] { fill_rect(310, 0, 330, 1, INK); }, box(310, 0, 319, 1)},
        {"clear_box is w by h",
         [] {
             bg_color = INK;
             clear_box(5, 6, 3, 2);
         },
         box(5, 6, 7, 7)},
        {"dotted vline 10..10 draws nothing", [] { draw_dotted_vline(4, 10, 10); }, {}},
        {"dotted vline 10..14 plots even rows, upper end excluded", [] { draw_dotted_vline(4, 14, 10); },
         points({{4, 10}, {4, 12}})},
        {"dotted hline plots even columns", [] { draw_dotted_hline(3, 8, 2); }, points({{4, 2}, {6, 2}})},
        {"dashed vline two on two off", [] { draw_dashed_vline(1, 0, 8); }, points({{1, 2}, {1, 3}, {1, 6}, {1, 7}})},
        {"dashed hline two on two off", [] { draw_dashed_hline(9, 1, 0); }, points({{2, 0}, {3, 0}, {6, 0}, {7, 0}})},
        {"shallow line", [] { draw_line(0, 0, 4, 2); }, points({{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}})},
        {"steep line backwards", [] { draw_line(2, 4, 0, 0); }, points({{2, 4}, {2, 3}, {1, 2}, {1, 1}, {0, 0}})},
        {"single point line", [] { draw_line(5, 5, 5, 5); }, points({{5, 5}})},
        {"rect outline", [] { draw_rect(1, 1, 3, 3, INK); },
         points({{1, 1}, {2, 1}, {3, 1}, {1, 2}, {3, 2}, {1, 3}, {2, 3}, {3, 3}})},
    };
    for (const auto& c : cases) {
        bg_color = PAPER;
        lcd_clear();
        fg_color = INK;
        c.draw();
        EXPECT_EQ(drawn(), c.expected) << c.name;
    }
}

TEST_F(PrimitiveTest, RoundRectCornersMirrorTheTopLeftOne)
{
    draw_round_rect(10, 20, 40, 50, INK);
    const Pixels px = drawn();
    Pixels expected = span_x(15, 35, 20);
    for (auto p : span_x(15, 35, 50)) expected.insert(p);
    for (auto p : span_y(10, 25, 45)) expected.insert(p);
    for (auto p : span_y(40, 25, 45)) expected.insert(p);
    const int c[5][2] = {{1, 4}, {1, 3}, {2, 2}, {3, 1}, {4, 1}};
    for (auto& o : c) {
        expected.insert({10 + o[0], 20 + o[1]});
        expected.insert({10 + o[0], 50 - o[1]});
        expected.insert({40 - o[0], 20 + o[1]});
        expected.insert({40 - o[0], 50 - o[1]});
    }
    EXPECT_EQ(px, expected);
}

TEST_F(PrimitiveTest, EtchedFrameDrawsWhiteUnderGreyAndKeepsColours)
{
    fg_color = 111;
    bg_color = 222;
    draw_etched_frame(10, 10, 20, 20, 1);
    EXPECT_EQ(fg_color, 111);
    EXPECT_EQ(bg_color, 222);
    EXPECT_EQ(*pixel_addr(10, 10), COLOR_GREY);   // top-left: grey rectangle
    EXPECT_EQ(*pixel_addr(20, 20), COLOR_WHITE);  // bottom-right: white one
    EXPECT_EQ(*pixel_addr(19, 19), COLOR_GREY);   // grey drawn last wins
    EXPECT_EQ(*pixel_addr(15, 15), 222);          // cleared inside with the background
    EXPECT_EQ(*pixel_addr(21, 21), PAPER);
    // Without fill the inside stays.
    bg_color = PAPER;
    lcd_clear();
    draw_etched_frame(10, 10, 20, 20, 0);
    EXPECT_EQ(*pixel_addr(15, 15), PAPER);
}

TEST_F(PrimitiveTest, PlotAndXorBitsHonourTransparency)
{
    fg_color = 0x00F0;
    bg_color = 0x0F00;
    put_pixel(0, 0, 0x0001);
    put_pixel(1, 0, 0x0001);
    put_pixel(2, 0, 0x0001);
    plot_bit(0, 0, 1, 0);
    plot_bit(1, 0, 0, 0);
    plot_bit(2, 0, 0, 1);
    EXPECT_EQ(*pixel_addr(0, 0), 0x00F0);
    EXPECT_EQ(*pixel_addr(1, 0), 0x0F00);
    EXPECT_EQ(*pixel_addr(2, 0), 0x0001);
    xor_bit(0, 0, 1, 0);
    xor_bit(1, 0, 0, 0);
    xor_bit(2, 0, 0, 1);
    EXPECT_EQ(*pixel_addr(0, 0), 0x0000);
    EXPECT_EQ(*pixel_addr(1, 0), 0x0000);
    EXPECT_EQ(*pixel_addr(2, 0), 0x0001);
}

TEST_F(PrimitiveTest, ClearImageAreaTakesSizesModulo256)
{
    const u16 image[4] = {2, 0, 3, 1};  // height 2, width 3 + 256: taken as 3
    bg_color = INK;
    clear_image_area(4, 5, image);
    EXPECT_EQ(drawn(), box(4, 5, 6, 6));
}

TEST_F(PrimitiveTest, FillInsideFillsAClosedOutline)
{
    draw_rect(100, 100, 120, 110, INK);
    fill_inside(100, 100, 120, 110, 0x5555);
    for (int y = 101; y <= 109; ++y)
        for (int x = 101; x <= 119; ++x) ASSERT_EQ(*pixel_addr(x, y), 0x5555) << x << "," << y;
    EXPECT_EQ(*pixel_addr(100, 105), INK);
    EXPECT_EQ(*pixel_addr(120, 105), INK);
    EXPECT_EQ(*pixel_addr(99, 105), PAPER);
    EXPECT_EQ(*pixel_addr(110, 100), INK);
}

TEST_F(PrimitiveTest, SaveDrawRestoreIsBitIdenticalAndYields)
{
    for (int i = 0; i < LCD_PIXELS; ++i) framebuffer[i] = static_cast<u16>(i * 7919);
    std::vector<u16> before(framebuffer, framebuffer + LCD_PIXELS);
    screen_save();
    fill_rect(50, 50, 200, 150, COLOR_RED);
    draw_round_rect(50, 50, 200, 150, COLOR_BLACK);
    screen_dirty = 0;
    screen_restore();
    EXPECT_TRUE(std::equal(before.begin(), before.end(), framebuffer));
    EXPECT_EQ(screen_dirty, 1);
}

}  // namespace
