// Fonts and text drawing: placement, rotation, effects and number texts.
#include <gtest/gtest.h>

#include <utility>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "base/cp1251.h"
#include "base/text.h"
#include "base/text_internal.h"
#include "gfx/framebuffer.h"
#include "gfx/text.h"
#include "tests/support/support.h"

namespace {

constexpr u16 PAPER = 0x1234;
constexpr u16 FG = COLOR_RED;
constexpr u16 BG = COLOR_BLUE;
constexpr u16 OUTLINE = COLOR_GOOD;

class Text : public ::testing::Test {
public:
    struct Box {
        int x0, y0, x1, y1;
        bool operator==(const Box&) const = default;
    };

protected:
    void SetUp() override { paper(); }
    void paper()
    {
        bg_color = PAPER;
        lcd_clear();
        fg_color = FG;
        bg_color = BG;
        outline_color = OUTLINE;
    }
    static u16 at(int x, int y) { return framebuffer[y * LCD_WIDTH + x]; }
    // Pixel (c, r) of a glyph of the current font, read from its rows.
    static bool bit(u8 code, int r, int c)
    {
        const u16 raw = font_width > 8 ? static_cast<u16>(glyph_row(code, 2 * r) << 8 | glyph_row(code, 2 * r + 1))
                                       : static_cast<u16>(glyph_row(code, r) << 8);
        return (raw & (0x8000 >> c)) != 0;
    }
    // Bounding box of the pixels that are not paper.
    static Box inked()
    {
        Box b{LCD_WIDTH, LCD_HEIGHT, -1, -1};
        for (int y = 0; y < LCD_HEIGHT; ++y)
            for (int x = 0; x < LCD_WIDTH; ++x)
                if (at(x, y) != PAPER) {
                    b.x0 = std::min(b.x0, x);
                    b.y0 = std::min(b.y0, y);
                    b.x1 = std::max(b.x1, x);
                    b.y1 = std::max(b.y1, y);
                }
        return b;
    }
    VirtualHostScope scope;
};

std::ostream& operator<<(std::ostream& o, const Text::Box& b)
{
    return o << "(" << b.x0 << "," << b.y0 << ")-(" << b.x1 << "," << b.y1 << ")";
}

TEST_F(Text, FontSelectAndSizes)
{
    struct Case {
        u8 n, current, w, h;
    };
    const Case cases[] = {
        {1, 1, 5, 6},   {2, 2, 6, 8},  {3, 3, 8, 8},  {4, 4, 8, 16}, {5, 5, 12, 16},
        {6, 6, 16, 16}, {7, 7, 8, 12}, {8, 8, 8, 14}, {0, 3, 8, 8},  {9, 3, 8, 8},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(font_select(c.n), c.n);
        EXPECT_EQ(font_current, c.current) << int(c.n);
        EXPECT_EQ(font_width, c.w) << int(c.n);
        EXPECT_EQ(font_height, c.h) << int(c.n);
        EXPECT_EQ(text_width("abcd"), 4 * c.w);
        EXPECT_EQ(text_height("abcd"), c.h);
    }
    EXPECT_EQ(text_width(nullptr), 0);
    EXPECT_EQ(text_height(nullptr), 0);
    EXPECT_EQ(text_width(""), 0);
    // A font number outside 1..8 reads font 3.
    font_select(3);
    const u8 row = glyph_row('A', 3);
    font_current = 0;
    EXPECT_EQ(glyph_row('A', 3), row);
}

TEST_F(Text, EveryFontCoversItsCodes)
{
    const u8 first[9] = {0, 1, 1, 1, 1, 33, 33, 2, 1};
    for (int n = 1; n <= 8; ++n) {
        font_select(static_cast<u8>(n));
        auto has_ink = [](u8 code) {
            for (int r = 0; r < font_height; ++r)
                for (int c = 0; c < font_width; ++c)
                    if (bit(code, r, c)) return true;
            return false;
        };
        for (int code = 0; code < first[n]; ++code) EXPECT_FALSE(has_ink(static_cast<u8>(code))) << n << " " << code;
        for (int code = 0x21; code < 0x7F; ++code) EXPECT_TRUE(has_ink(static_cast<u8>(code))) << n << " " << code;
        for (int code = 0xC0; code <= 0xFF; ++code) EXPECT_TRUE(has_ink(static_cast<u8>(code))) << n << " " << code;
        EXPECT_FALSE(has_ink(' '));
        // Device glyphs: the degree sign at 0xB8 and the pictograms.
        const bool degree = n <= 4 || n == 8;
        bool same = true;
        for (int r = 0; r < font_height; ++r)
            for (int c = 0; c < font_width; ++c) same = same && bit(0xB8, r, c) == bit(0xB0, r, c);
        EXPECT_EQ(same, degree) << n;
        if (n <= 3 || n == 8) {
            for (int code : {0x10, 0x11, 0x18, 0x19, 0x1A, 0x1B, 0x1E, 0x1F})
                EXPECT_TRUE(has_ink(static_cast<u8>(code))) << n;
        }
    }
}

TEST_F(Text, SquareSignAtBDIsASmallRaisedTwo)
{
    // The unit "м/сЅ" prints m/s²: in the fonts that draw units (3 for the
    // plot labels and readouts, 4 and 8 for texts and tables) code 0xBD is
    // a two, smaller than the digit, standing higher, with its foot (the
    // widest row) at the bottom, unlike the letter Ѕ it replaces.
    for (u8 n : {3, 4, 8}) {
        font_select(n);
        auto ink_rows = [](u8 code) {
            int first = -1, last = -1;
            for (int r = 0; r < font_height; ++r)
                for (int c = 0; c < font_width; ++c)
                    if (bit(code, r, c)) {
                        if (first < 0) first = r;
                        last = r;
                    }
            return std::make_pair(first, last);
        };
        auto row_ink = [](u8 code, int r) {
            int k = 0;
            for (int c = 0; c < font_width; ++c) k += bit(code, r, c);
            return k;
        };
        const auto [top, bottom] = ink_rows(0xBD);
        const auto [digit_top, digit_bottom] = ink_rows('2');
        ASSERT_GE(top, 0) << "font " << int(n) << ": no glyph at 0xBD";
        EXPECT_LE(top, digit_top) << int(n);
        EXPECT_LT(bottom - top, digit_bottom - digit_top) << int(n) << ": smaller than the digit";
        EXPECT_LT(bottom, digit_bottom - 1) << int(n) << ": its foot two rows or more above the digit's";
        for (int r = top; r < bottom; ++r) EXPECT_LT(row_ink(0xBD, r), row_ink(0xBD, bottom)) << int(n) << " " << r;
    }
}

TEST_F(Text, PictogramsPointTheirWay)
{
    // The up arrow's top ink row is narrower than a lower one; the right
    // triangle's left ink column is taller than its right one.
    for (u8 n : {1, 2, 3, 8}) {
        font_select(n);
        auto row_ink = [](u8 code, int r) {
            int k = 0;
            for (int c = 0; c < font_width; ++c) k += bit(code, r, c);
            return k;
        };
        auto col_ink = [](u8 code, int c) {
            int k = 0;
            for (int r = 0; r < font_height; ++r) k += bit(code, r, c);
            return k;
        };
        int top = 0, bottom = font_height - 1;
        while (row_ink(0x1E, top) == 0) ++top;
        while (row_ink(0x1E, bottom) == 0) --bottom;
        EXPECT_LT(row_ink(0x1E, top), row_ink(0x1E, bottom)) << int(n);  // up-pointing
        EXPECT_GT(row_ink(0x1F, top), row_ink(0x1F, bottom)) << int(n);  // down-pointing
        int left = 0, right = font_width - 1;
        while (col_ink(0x10, left) == 0) ++left;
        while (col_ink(0x10, right) == 0) --right;
        EXPECT_GT(col_ink(0x10, left), col_ink(0x10, right)) << int(n);  // right-pointing
    }
}

TEST_F(Text, TitleFontLettersAreThinOpenAndApart)
{
    // Font 3 sets titles, the clock and the measured values: one-pixel
    // strokes, capitals in rows 0-6, small letters in rows 2-6, descenders
    // in row 7, and letters that are easy to tell apart.
    font_select(3);
    auto rows_with_ink = [](u8 code) {
        std::vector<int> rows;
        for (int r = 0; r < font_height; ++r)
            for (int c = 0; c < font_width; ++c)
                if (bit(code, r, c)) {
                    rows.push_back(r);
                    break;
                }
        return rows;
    };
    std::vector<u8> letters;
    for (int code = '0'; code <= '9'; ++code) letters.push_back(static_cast<u8>(code));
    for (int code = 'A'; code <= 'Z'; ++code) letters.push_back(static_cast<u8>(code));
    for (int code = 'a'; code <= 'z'; ++code) letters.push_back(static_cast<u8>(code));
    for (int code = 0xC0; code <= 0xFF; ++code) letters.push_back(static_cast<u8>(code));
    for (u8 code : letters) {
        for (int r = 0; r + 1 < font_height; ++r)
            for (int c = 0; c + 1 < font_width; ++c)
                EXPECT_FALSE(bit(code, r, c) && bit(code, r, c + 1) && bit(code, r + 1, c) && bit(code, r + 1, c + 1))
                    << "two-pixel stroke in " << int(code) << " at " << c << "," << r;
        for (int r = 0; r < font_height; ++r) EXPECT_FALSE(bit(code, r, 7)) << "letters would touch: " << int(code);
    }

    struct Span {
        const char* letters;
        int top, bottom;
    };
    const Span spans[] = {
        {"HНШОЯ08"_cp, 0, 6},     // capitals and digits
        {"oxнохшяаыв"_cp, 2, 6},  // small letters: x-height 5
        {"бkl"_cp, 0, 6},         // small letters with an ascender
        {"pyрудцщ"_cp, 2, 7},     // descenders, in row 7
        {"ф"_cp, 1, 7},
    };
    for (const auto& s : spans)
        for (const char* p = s.letters; *p; ++p) {
            const auto rows = rows_with_ink(static_cast<u8>(*p));
            ASSERT_FALSE(rows.empty()) << int(static_cast<u8>(*p));
            EXPECT_EQ(rows.front(), s.top) << int(static_cast<u8>(*p));
            EXPECT_EQ(rows.back(), s.bottom) << int(static_cast<u8>(*p));
        }
    const std::string descending = "друфцщ"_cp;
    for (int code = 0xE0; code <= 0xFF; ++code)
        EXPECT_EQ(rows_with_ink(static_cast<u8>(code)).back() == 7,
                  descending.find(static_cast<char>(code)) != std::string::npos)
            << "only д р у ф ц щ reach row 7: " << code;

    // Letters that a small font easily merges differ in two pixels or more.
    const char* pairs[] = {"им"_cp, "нп"_cp, "нк"_cp, "уч"_cp, "шщ"_cp, "бв"_cp, "ос"_cp, "зэ"_cp, "ьы"_cp,
                           "вь"_cp, "ИН"_cp, "ИМ"_cp, "БВ"_cp, "ШЩ"_cp, "О0"_cp, "Il"_cp, "б6"_cp};
    for (const char* pair : pairs) {
        int differ = 0;
        for (int r = 0; r < font_height; ++r)
            for (int c = 0; c < font_width; ++c)
                differ += bit(static_cast<u8>(pair[0]), r, c) != bit(static_cast<u8>(pair[1]), r, c);
        EXPECT_GE(differ, 2) << int(static_cast<u8>(pair[0])) << " " << int(static_cast<u8>(pair[1]));
    }
}

TEST_F(Text, KnownGlyphGivesTheExpectedPixels)
{
    for (u8 n : {1, 4, 5, 6}) {
        paper();
        font_select(n);
        const u8 code = static_cast<u8>("Ж"_cp[0]);
        text_draw(40, 30, "Ж"_cp, 0);
        int set = 0;
        for (int r = 0; r < font_height; ++r)
            for (int c = 0; c < font_width; ++c) {
                EXPECT_EQ(at(40 + c, 30 + r), bit(code, r, c) ? FG : BG) << int(n) << " " << c << "," << r;
                set += bit(code, r, c);
            }
        EXPECT_GT(set, 6);
        EXPECT_EQ(inked(), (Box{40, 30, 40 + font_width - 1, 30 + font_height - 1}));
    }
}

TEST_F(Text, AlignmentAndRotationPlacement)
{
    // "ABCD" in the 8 x 8 font drawn as solid blocks: W = 32, H = 8.
    struct Case {
        u32 flags;
        Box box;
    };
    const Case cases[] = {
        {0, {100, 100, 131, 107}},
        {TF_HCENTER, {84, 100, 115, 107}},
        {TF_RIGHT, {68, 100, 99, 107}},
        {TF_HCENTER | TF_RIGHT, {84, 100, 115, 107}},
        {TF_HCENTER | TF_VCENTER, {84, 96, 115, 103}},
        {TF_ROT_CCW, {100, 69, 107, 100}},
        {TF_ROT_CCW | TF_HCENTER, {96, 69, 103, 100}},
        {TF_ROT_CCW | TF_RIGHT, {92, 69, 99, 100}},
        {TF_ROT_CCW | TF_VCENTER, {100, 85, 107, 116}},
        {TF_ROT_CW, {93, 100, 100, 131}},
        {TF_ROT_CW | TF_HCENTER, {97, 100, 104, 131}},
        {TF_ROT_CW | TF_RIGHT, {85, 100, 92, 131}},
        {TF_ROT_CW | TF_VCENTER, {93, 84, 100, 115}},
        {TF_ROT_180, {69, 93, 100, 100}},
        {TF_ROT_180 | TF_HCENTER, {85, 93, 116, 100}},
        {TF_ROT_180 | TF_RIGHT, {37, 93, 68, 100}},
        {TF_ROT_180 | TF_VCENTER, {69, 97, 100, 104}},
        {TF_ROT_CCW | TF_ROT_CW, {100, 69, 107, 100}},  // the lowest rotation bit wins
    };
    font_select(3);
    for (const auto& c : cases) {
        paper();
        text_draw(100, 100, "ABCD", c.flags | TF_SOLID);
        EXPECT_EQ(inked(), c.box) << "flags " << c.flags;
    }
    // A centred 4-character string in the 12 x 16 font at x = 160 starts at 136.
    paper();
    font_select(5);
    text_draw(160, 50, "1234", TF_HCENTER | TF_SOLID);
    EXPECT_EQ(inked(), (Box{136, 50, 183, 65}));
    // Two 16 x 16 glyphs side by side.
    paper();
    font_select(6);
    text_draw(10, 20, "88", TF_SOLID);
    EXPECT_EQ(inked(), (Box{10, 20, 41, 35}));
    // Centred in a span.
    paper();
    font_select(3);
    text_draw_span(100, 5, 50, "AB", TF_SOLID);
    EXPECT_EQ(inked(), (Box{117, 5, 132, 12}));
    paper();
    text_draw_span(100, 5, 50, nullptr, TF_SOLID);
    text_draw(100, 5, nullptr, TF_SOLID);
    EXPECT_EQ(inked().x1, -1);
}

TEST_F(Text, RotatedGlyphPixels)
{
    font_select(2);
    const u8 code = 'F';
    struct Case {
        u32 flags;
        int dx_r, dy_r, dx_c, dy_c;  // pixel = origin + r * (dx_r, dy_r) + c * (dx_c, dy_c)
        int next_x, next_y;          // where the second character starts
    };
    const Case cases[] = {
        {0, 0, 1, 1, 0, 6, 0},
        {TF_ROT_CCW, 1, 0, 0, -1, 0, -6},
        {TF_ROT_CW, -1, 0, 0, 1, 0, 6},
        {TF_ROT_180, 0, -1, -1, 0, -6, 0},
    };
    for (const auto& c : cases) {
        paper();
        text_draw(150, 120, "FF", c.flags);
        for (int i = 0; i < 2; ++i)
            for (int r = 0; r < font_height; ++r)
                for (int col = 0; col < font_width; ++col) {
                    const int x = 150 + i * c.next_x + r * c.dx_r + col * c.dx_c;
                    const int y = 120 + i * c.next_y + r * c.dy_r + col * c.dy_c;
                    EXPECT_EQ(at(x, y), bit(code, r, col) ? FG : BG) << c.flags << " " << col << "," << r;
                }
    }
}

TEST_F(Text, Effects)
{
    font_select(3);
    const u8 code = 'K';
    auto each = [&](auto check) {
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c) check(bit(code, r, c), at(20 + c, 20 + r), r, c);
    };
    struct Case {
        const char* name;
        u32 flags;
        u16 set, unset;
    };
    const Case cases[] = {
        {"plain", 0, FG, BG},
        {"inverse", TF_INVERSE, BG, FG},
        {"transparent", TF_TRANSPARENT, FG, PAPER},
        {"inverse transparent", TF_INVERSE | TF_TRANSPARENT, PAPER, FG},
        {"solid", TF_SOLID, FG, FG},
        {"xor", TF_XOR, static_cast<u16>(PAPER ^ FG), static_cast<u16>(PAPER ^ BG)},
        {"xor transparent", TF_XOR | TF_TRANSPARENT, static_cast<u16>(PAPER ^ FG), PAPER},
        {"xor wins over solid", TF_XOR | TF_SOLID, static_cast<u16>(PAPER ^ FG), static_cast<u16>(PAPER ^ BG)},
    };
    for (const auto& k : cases) {
        paper();
        text_draw(20, 20, "K", k.flags);
        each([&](bool b, u16 px, int r, int c) {
            EXPECT_EQ(px, b ? k.set : k.unset) << k.name << " " << c << "," << r;
        });
    }
    // Underline: the last row fully set.
    paper();
    text_draw(20, 20, "K", TF_UNDERLINE);
    each([&](bool b, u16 px, int r, int c) { EXPECT_EQ(px, (b || r == 7) ? FG : BG) << c << "," << r; });
}

TEST_F(Text, ShadowsAndOutlineClearTheirBoxUnlessTransparent)
{
    font_select(3);
    // "AB" at (50, 50): the box is (49, 49)-(67, 59).
    struct Case {
        u32 flags;
        bool box_cleared;
        std::vector<std::pair<int, int>> offsets;
    };
    const Case cases[] = {
        {TF_OUTLINE, true, {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}}},
        {TF_OUTLINE | TF_TRANSPARENT, false, {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}}},
        {TF_SHADOW_DR, true, {{1, 1}}},
        {TF_SHADOW_UL | TF_TRANSPARENT, false, {{-1, -1}}},
    };
    for (const auto& k : cases) {
        paper();
        text_draw(50, 50, "AB", k.flags);
        for (int y = 40; y < 70; ++y)
            for (int x = 40; x < 80; ++x) {
                bool text = false, shadow = false;
                for (int i = 0; i < 2; ++i) {
                    const u8 code = i ? 'B' : 'A';
                    auto glyph_at = [&](int gx, int gy) {
                        const int c = x - gx, r = y - gy;
                        return c >= 0 && c < 8 && r >= 0 && r < 8 && bit(code, r, c);
                    };
                    text = text || glyph_at(50 + 8 * i, 50);
                    for (auto [dx, dy] : k.offsets) shadow = shadow || glyph_at(50 + 8 * i + dx, 50 + dy);
                }
                const bool in_box = x >= 49 && x <= 67 && y >= 49 && y <= 59;
                u16 expected = PAPER;
                if (text)
                    expected = FG;
                else if (shadow)
                    expected = OUTLINE;
                else if (in_box && k.box_cleared)
                    expected = BG;
                ASSERT_EQ(at(x, y), expected) << k.flags << " at " << x << "," << y;
            }
        EXPECT_EQ(fg_color, FG);  // restored after the shadow pass
    }
    // Turned text: the box turns with it and covers the text.
    struct Turned {
        u32 flags;
        Box box;
    };
    const Turned turned[] = {
        {TF_ROT_CCW, {49, 83, 59, 101}},
        {TF_ROT_CW, {41, 99, 51, 117}},
        {TF_ROT_180, {33, 91, 51, 101}},
    };
    for (const auto& t : turned) {
        paper();
        text_draw(50, 100, "AB", TF_OUTLINE | t.flags);
        EXPECT_EQ(inked(), t.box) << t.flags;
        for (int x : {t.box.x0, t.box.x1})
            for (int y : {t.box.y0, t.box.y1}) EXPECT_EQ(at(x, y), BG) << t.flags << " " << x << "," << y;
    }
}

TEST(IntToText, DecimalTexts)
{
    struct Case {
        i32 value;
        u8 width;
        const char* text;
        bool overflow;
    };
    const Case cases[] = {
        {7, 3, "  7", false},
        {-12, 0, "-12", false},
        {0, 2, " 0", false},
        {12345, 2, "12345", true},
        {0, 0, "0", false},
        {-5, 4, "  -5", false},
        {-123, 3, "-123", true},
        {123, 3, "123", false},
        {1234567890, 0, "1234567890", false},
        {INT_MAX, 0, "2147483647", false},
        {INT_MIN, 0, "-2147483648", false},
        {INT_MIN, 12, " -2147483648", false},
    };
    for (const auto& c : cases) {
        char buf[32];
        testing::internal::CaptureStdout();
        int_to_text(c.value, c.width, buf);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_STREQ(buf, c.text) << c.value << " w" << int(c.width);
        EXPECT_EQ(out, c.overflow ? "DigitCount overflow\n" : "") << c.value;
    }
}

TEST(TextToInt, SkipsEverythingButDigitsAndALeadingMinus)
{
    struct Case {
        const char* s;
        i32 value;
    };
    const Case cases[] = {
        {"-0x5", -5},
        {"", 0},
        {"1 2", 12},
        {"12-3", 123},
        {"--7", -7},
        {"abc", 0},
        {"  42 мм", 42},
        {"4294967295", -1},
        {"2147483647", 2147483647},
        {nullptr, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(text_to_int(c.s), c.value) << (c.s ? c.s : "null");
}

TEST_F(Text, NumberDrawIsTheTextOfIntToText)
{
    font_select(2);
    number_draw(100, 10, -42, 5, TF_SOLID);
    EXPECT_EQ(inked(), (Box{100, 10, 129, 17}));  // five cells: "  -42"
    paper();
    number_draw(100, 10, -42, 5, 0);
    std::vector<u16> drawn(framebuffer, framebuffer + LCD_PIXELS);
    paper();
    text_draw(100, 10, "  -42", 0);
    EXPECT_EQ(drawn, std::vector<u16>(framebuffer, framebuffer + LCD_PIXELS));
}

}  // namespace

// Numbers in recordings' CSV tables and signal options: where the standard
// library lacks the floating-point std::from_chars (the web build), strtod
// stands in and must read exactly the same forms.
TEST(TextToDouble, StrtodFallbackReadsWhatFromCharsReads)
{
    const char* cases[] = {"1.5",   "-2.25e3", "0",      "-0",     "1e-5", "12abc", "+1",  " 1",   "",
                           "0x10",  "-0x1p3",  "inf",    "-nan",   "1e999", ".5",   "5.",  "1e",   "--1",
                           "1,5",   "3.14159265358979323846", "-"};
    for (const char* c : cases) {
        const std::string text(c);
        const char* end = text.data() + text.size();
        double a = 7, b = 7;
        const char* stop_a = nullptr;
        const char* stop_b = nullptr;
        const auto r = std::from_chars(text.data(), end, a);
        const bool ok_a = r.ec == std::errc();
        stop_a = r.ptr;
        const bool ok_b = text_to_double_strtod(text.data(), end, &b, &stop_b);
        EXPECT_EQ(ok_b, ok_a) << "'" << c << "'";
        if (!ok_a || !ok_b) continue;
        EXPECT_EQ(stop_b - text.data(), stop_a - text.data()) << "'" << c << "'";
        if (std::isnan(a))
            EXPECT_TRUE(std::isnan(b)) << "'" << c << "'";
        else
            EXPECT_EQ(b, a) << "'" << c << "'";
        double via = 0;
        const char* stop_via = nullptr;
        EXPECT_TRUE(text_to_double(text.data(), end, &via, &stop_via));
        EXPECT_EQ(stop_via, stop_a);
    }
}
