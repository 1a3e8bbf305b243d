// Pictures of the measuring screens: sizes, the cells the screens cut out of
// the strips, and the areas the screens clear or draw over.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "gfx/image.h"

namespace {

constexpr u16 SCREEN_BG = 54938;
constexpr u16 TREE_BG = 59164;
constexpr u16 WHITE = 0xFFFF;
constexpr u16 BLACK = 0;

class PicturesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { images_unpack_all(); }

    static const u16* img(int index) { return image_set[index]; }
    static u32 width(int index) { return image_width(img(index)); }
    static u32 height(int index) { return image_height(img(index)); }
    static u16 px(int index, u32 x, u32 y) { return img(index)[4 + y * width(index) + x]; }

    // The pixels of the w x h part at (x, y), row by row.
    static std::vector<u16> part(int index, u32 x, u32 y, u32 w, u32 h)
    {
        std::vector<u16> out;
        for (u32 j = 0; j < h; ++j)
            for (u32 i = 0; i < w; ++i) out.push_back(px(index, x + i, y + j));
        return out;
    }

    // Number of pixels of the part that are not `bg`.
    static int inked(int index, u32 x, u32 y, u32 w, u32 h, u16 bg)
    {
        int n = 0;
        for (u16 p : part(index, x, y, w, h)) n += p != bg;
        return n;
    }

    // Lowest row of the part that holds a pixel other than `bg` (-1: none).
    static int lowest_inked_row(int index, u32 x, u32 y, u32 w, u32 h, u16 bg)
    {
        for (int j = static_cast<int>(h) - 1; j >= 0; --j)
            if (inked(index, x, y + j, w, 1, bg)) return j;
        return -1;
    }
};

TEST_F(PicturesTest, EveryPictureHasTheSizeOfTheSet)
{
    const struct {
        int index;
        u32 w, h;
    } sizes[] = {
        {IMG_VIBRO_PANEL, 197, 43},       {IMG_TREE_ICONS, 506, 20},         {IMG_MODE_ICONS, 180, 14},
        {IMG_DIGITS_GREEN, 629, 76},      {IMG_DIGITS_YELLOW, 629, 76},      {IMG_DIGITS_RED, 629, 76},
        {IMG_TEMP_DIGITS_GREEN, 310, 39}, {IMG_TEMP_DIGITS_YELLOW, 310, 39}, {IMG_TEMP_DIGITS_RED, 310, 39},
        {IMG_PLOT_PANEL, 274, 67},        {IMG_VIBRO_RUNNING, 34, 24},       {IMG_VIBRO_STOPPED, 34, 24},
        {IMG_CAPTION_ACCEL, 77, 68},      {IMG_CAPTION_VELOCITY, 77, 68},    {IMG_CAPTION_DISPLACEMENT, 77, 68},
        {IMG_BAR_FRAME, 46, 174},         {IMG_SHOCK_PANEL, 57, 57},         {IMG_RECORD_MARK, 33, 34},
        {IMG_SAVED_DIALOG, 318, 134},     {IMG_BEARING_DRAWING, 45, 114},
    };
    for (const auto& s : sizes) {
        ASSERT_NE(image_packed[s.index], nullptr) << s.index;
        EXPECT_EQ(image_set_width[s.index], s.w) << s.index;
        EXPECT_EQ(image_set_height[s.index], s.h) << s.index;
        // Unpacked at start-up, not left as the empty picture.
        EXPECT_EQ(width(s.index), s.w) << s.index;
        EXPECT_EQ(height(s.index), s.h) << s.index;
    }
    // The strips hold every cell the screens address.
    EXPECT_GE(width(IMG_TREE_ICONS), 22u * IMG_TREE_ICON_W);
    EXPECT_GE(width(IMG_MODE_ICONS), static_cast<u32>(IMG_MODE_EXTERNAL_X + IMG_MODE_ICON_W));
}

// One digit strip as the vibrometer cuts it.
struct StripLayout {
    const char* name;
    int index;
    u32 pitch, cell, point_x, point, drop, minus_x, minus_w;
};

const StripLayout STRIPS[] = {
    {"green", IMG_DIGITS_GREEN, 55, 53, 550, 27, 49, 580, 39},
    {"yellow", IMG_DIGITS_YELLOW, 55, 53, 550, 27, 49, 580, 39},
    {"red", IMG_DIGITS_RED, 55, 53, 550, 27, 49, 580, 39},
    {"temperature green", IMG_TEMP_DIGITS_GREEN, 27, 27, 270, 15, 24, 285, 20},
    {"temperature yellow", IMG_TEMP_DIGITS_YELLOW, 27, 27, 270, 15, 24, 285, 20},
    {"temperature red", IMG_TEMP_DIGITS_RED, 27, 27, 270, 15, 24, 285, 20},
};

TEST_F(PicturesTest, DigitStripsHoldTheirGlyphsInTheCellsTheScreenCuts)
{
    for (const auto& s : STRIPS) {
        SCOPED_TRACE(s.name);
        const u32 w = width(s.index), h = height(s.index) - 1;  // the screen copies height - 1 rows
        // The layout names of the header agree with the screen's cuts.
        const bool big = s.pitch == 55;
        EXPECT_EQ(s.pitch, static_cast<u32>(big ? IMG_DIGITS_PITCH : IMG_TEMP_DIGITS_PITCH));
        EXPECT_EQ(s.point_x, static_cast<u32>(big ? IMG_DIGITS_POINT_X : IMG_TEMP_DIGITS_POINT_X));
        EXPECT_EQ(s.minus_x, static_cast<u32>(big ? IMG_DIGITS_MINUS_X : IMG_TEMP_DIGITS_MINUS_X));
        ASSERT_GE(w, s.minus_x + s.minus_w);
        std::set<std::vector<u16>> digits;
        for (u32 d = 0; d < 10; ++d) {
            EXPECT_GT(inked(s.index, d * s.pitch, 0, s.cell, h, SCREEN_BG), 0) << d;
            digits.insert(part(s.index, d * s.pitch, 0, s.cell, h));
        }
        EXPECT_EQ(digits.size(), 10u) << "two digits look alike";
        EXPECT_GT(inked(s.index, s.point_x, 0, s.point, s.point, SCREEN_BG), 0);
        EXPECT_GT(inked(s.index, s.minus_x, 0, s.minus_w, h, SCREEN_BG), 0);
        // Nothing of a glyph lies where the screen never copies from: between
        // the cells, in the last row, below the point's cell.
        std::vector<bool> copied(w * (h + 1), false);
        auto mark = [&](u32 x, u32 y, u32 cw, u32 ch) {
            for (u32 j = y; j < y + ch; ++j)
                for (u32 i = x; i < x + cw; ++i) copied[j * w + i] = true;
        };
        for (u32 d = 0; d < 10; ++d) mark(d * s.pitch, 0, s.cell, h);
        mark(s.point_x, 0, s.point, s.point);
        mark(s.minus_x, 0, s.minus_w, h);
        int stray = 0;
        for (u32 y = 0; y <= h; ++y)
            for (u32 x = 0; x < w; ++x) stray += !copied[y * w + x] && px(s.index, x, y) != SCREEN_BG;
        EXPECT_EQ(stray, 0);
        // Drawn `drop` rows lower, the point stands on the digits' baseline.
        const int digit_base = lowest_inked_row(s.index, 0, 0, s.cell, h, SCREEN_BG);
        const int point_base = lowest_inked_row(s.index, s.point_x, 0, s.point, s.point, SCREEN_BG);
        EXPECT_EQ(point_base + static_cast<int>(s.drop), digit_base);
    }
}

TEST_F(PicturesTest, PicturesDrawAlikeInEveryKeyingMode)
{
    // No white (keyed out by modes 1 to 3) and no black (recoloured by mode
    // 4): these pictures look the same whichever mode a screen draws them in.
    const int keyless[] = {IMG_VIBRO_PANEL,      IMG_MODE_ICONS,           IMG_DIGITS_GREEN,       IMG_DIGITS_YELLOW,
                           IMG_DIGITS_RED,       IMG_TEMP_DIGITS_GREEN,    IMG_TEMP_DIGITS_YELLOW, IMG_TEMP_DIGITS_RED,
                           IMG_PLOT_PANEL,       IMG_VIBRO_RUNNING,        IMG_VIBRO_STOPPED,      IMG_CAPTION_ACCEL,
                           IMG_CAPTION_VELOCITY, IMG_CAPTION_DISPLACEMENT, IMG_BAR_FRAME,          IMG_SHOCK_PANEL,
                           IMG_RECORD_MARK,      IMG_SAVED_DIALOG,         IMG_BEARING_DRAWING};
    for (int index : keyless) {
        int keyed = 0;
        for (u16 p : part(index, 0, 0, width(index), height(index))) keyed += p == WHITE || p == BLACK;
        EXPECT_EQ(keyed, 0) << index;
    }
    // The tree icons past the first one (that one is keyed on purpose).
    int keyed = 0;
    for (u16 p : part(IMG_TREE_ICONS, IMG_TREE_ICON_W, 0, width(IMG_TREE_ICONS) - IMG_TREE_ICON_W, IMG_TREE_ICON_H))
        keyed += p == WHITE || p == BLACK;
    EXPECT_EQ(keyed, 0);
}

TEST_F(PicturesTest, GradeStripsShowTheirOwnColour)
{
    // Mean colour of the inked pixels of digit 8 (all segments lit).
    struct Mean {
        double r, g, b;
    };
    auto mean = [&](int index, u32 cell, u32 h) {
        Mean m{0, 0, 0};
        int n = 0;
        for (u16 p : part(index, 8 * (cell == 53 ? 55u : 27u), 0, cell, h)) {
            if (p == SCREEN_BG) continue;
            m.r += (p >> 11) / 31.0;
            m.g += ((p >> 5) & 63) / 63.0;
            m.b += (p & 31) / 31.0;
            ++n;
        }
        return Mean{m.r / n, m.g / n, m.b / n};
    };
    for (const auto& [green, yellow, red, cell, h] :
         {std::tuple{IMG_DIGITS_GREEN, IMG_DIGITS_YELLOW, IMG_DIGITS_RED, 53u, 75u},
          std::tuple{IMG_TEMP_DIGITS_GREEN, IMG_TEMP_DIGITS_YELLOW, IMG_TEMP_DIGITS_RED, 27u, 38u}}) {
        const Mean g = mean(green, cell, h), y = mean(yellow, cell, h), r = mean(red, cell, h);
        EXPECT_GT(g.g, 2 * g.r);
        EXPECT_GT(g.g, 2 * g.b);
        EXPECT_GT(r.r, 2 * r.g);
        EXPECT_GT(r.r, 2 * r.b);
        EXPECT_GT(y.r, 2 * y.b);
        EXPECT_GT(y.g, 2 * y.b);
        EXPECT_GT(y.g, 0.6 * y.r);
        EXPECT_GT(y.r, 0.6 * y.g);
    }
}

TEST_F(PicturesTest, AreasTheScreensClearAreBackgroundInThePanels)
{
    // (panel, where it is drawn, the rectangle the screen fills with the
    // background over it, inclusive corners)
    const struct {
        const char* what;
        int index;
        int x, y;
        int x0, y0, x1, y1;
    } areas[] = {
        {"temperature digits", IMG_VIBRO_PANEL, 18, 22, 80, 25, 161, 63},
        {"plot view", IMG_PLOT_PANEL, 0, 149, 2, 153, 270, 211},
        {"shock-pulse values", IMG_PLOT_PANEL, 0, 149, 65, 153, 269, 210},
    };
    for (const auto& a : areas) {
        SCOPED_TRACE(a.what);
        ASSERT_GE(a.x0, a.x);
        ASSERT_LT(a.x1 - a.x, static_cast<int>(width(a.index)));
        ASSERT_LT(a.y1 - a.y, static_cast<int>(height(a.index)));
        EXPECT_EQ(inked(a.index, a.x0 - a.x, a.y0 - a.y, a.x1 - a.x0 + 1, a.y1 - a.y0 + 1, SCREEN_BG), 0);
        // The frame around it is drawn.
        EXPECT_NE(px(a.index, a.x0 - a.x - 1, a.y0 - a.y - 1), SCREEN_BG);
    }
    // The shock-pulse picture lies inside the plot area it is drawn over.
    EXPECT_LE(4 + width(IMG_SHOCK_PANEL), 65u);
    EXPECT_LE(154 + height(IMG_SHOCK_PANEL), 212u);
    // The bar graph's field (x 285..308, y 67..205 on screen, frame at
    // (274, 42)) has one colour, so the bar and its lines stand out alike.
    const auto field = part(IMG_BAR_FRAME, 285 - 274, 67 - 42, 308 - 285 + 1, 205 - 67 + 1);
    EXPECT_EQ(std::set<u16>(field.begin(), field.end()).size(), 1u);
}

TEST_F(PicturesTest, RunIndicatorsDifferAndFitTheirSockets)
{
    EXPECT_NE(part(IMG_VIBRO_RUNNING, 0, 0, 34, 24), part(IMG_VIBRO_STOPPED, 0, 0, 34, 24));
    // The sockets in the panel (indicator at (44, 33), panel at (18, 22)) and
    // in each caption (indicator at (44, 86), caption at (7, 76)) hold the
    // corner colour of the indicators, so an indicator fills its socket.
    const u16 socket = px(IMG_VIBRO_RUNNING, 0, 0);
    EXPECT_EQ(px(IMG_VIBRO_STOPPED, 0, 0), socket);
    EXPECT_EQ(px(IMG_VIBRO_PANEL, 44 - 18, 33 - 22), socket);
    for (int q = IMG_CAPTION_ACCEL; q <= IMG_CAPTION_DISPLACEMENT; ++q) EXPECT_EQ(px(q, 44 - 7, 86 - 76), socket) << q;
    EXPECT_NE(part(IMG_CAPTION_ACCEL, 0, 0, 77, 68), part(IMG_CAPTION_VELOCITY, 0, 0, 77, 68));
    EXPECT_NE(part(IMG_CAPTION_VELOCITY, 0, 0, 77, 68), part(IMG_CAPTION_DISPLACEMENT, 0, 0, 77, 68));
}

TEST_F(PicturesTest, IconStripsHoldDistinctIcons)
{
    std::set<std::vector<u16>> tree;
    for (int n = 1; n <= 22; ++n) {
        const u32 x = (n - 1) * IMG_TREE_ICON_W;
        // Icon 1 is drawn in image mode 1 on a white ground, the others in
        // mode 0 on the tree's background.
        const u16 ground = n == 1 ? WHITE : TREE_BG;
        EXPECT_EQ(px(IMG_TREE_ICONS, x, 0), ground) << n;
        EXPECT_EQ(px(IMG_TREE_ICONS, x + IMG_TREE_ICON_W - 1, IMG_TREE_ICON_H - 1), ground) << n;
        EXPECT_GT(inked(IMG_TREE_ICONS, x, 0, IMG_TREE_ICON_W, IMG_TREE_ICON_H, ground), 12) << n;
        tree.insert(part(IMG_TREE_ICONS, x, 0, IMG_TREE_ICON_W, IMG_TREE_ICON_H));
    }
    EXPECT_EQ(tree.size(), 22u);
    // In mode 1 nothing but the ground of icon 1 takes the background colour.
    const auto first = part(IMG_TREE_ICONS, 0, 0, IMG_TREE_ICON_W, IMG_TREE_ICON_H);
    EXPECT_EQ(std::count(first.begin(), first.end(), TREE_BG), 0);

    std::set<std::vector<u16>> modes;
    for (int x = 0; x + IMG_MODE_ICON_W <= static_cast<int>(width(IMG_MODE_ICONS)); x += IMG_MODE_ICON_W)
        modes.insert(part(IMG_MODE_ICONS, x, 0, IMG_MODE_ICON_W, IMG_MODE_ICON_H));
    EXPECT_EQ(modes.size(), width(IMG_MODE_ICONS) / IMG_MODE_ICON_W);
}

TEST_F(PicturesTest, RecordingMarkReplacesThePatchOfTheSavedDialog)
{
    // The mark goes to (281, 141), the dialog to (1, 50); the dialog's own
    // patch there is the idle microphone that the mark gives way to.
    const u32 x = 281 - 1, y = 141 - 50;
    const auto idle = part(IMG_SAVED_DIALOG, x, y, 33, 34);
    const auto mark = part(IMG_RECORD_MARK, 0, 0, 33, 34);
    EXPECT_NE(idle, mark);
    // Both stand on the same ground: their corners match.
    for (const auto& [cx, cy] : {std::pair{0u, 0u}, std::pair{32u, 0u}, std::pair{0u, 33u}, std::pair{32u, 33u}})
        EXPECT_EQ(mark[cy * 33 + cx], idle[cy * 33 + cx]) << cx << "," << cy;
}

}  // namespace
