#include "tests/support/screens.h"

#include <algorithm>
#include <cstring>

#include "data/images.h"
#include "gfx/frame.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "tests/support/support.h"

const IconPlace MAIN_MENU_ICONS[6] = {{25, 44}, {115, 44}, {205, 44}, {25, 120}, {115, 120}, {205, 120}};

bool main_menu_shows(const std::vector<u16>& px, int selected)
{
    images_unpack_all();
    for (int i = 0; i < 6; ++i) {
        const int index = (i + 1 == selected ? IMG_MENU_VIBROMETER_SEL : IMG_MENU_VIBROMETER) + 2 * i;
        if (!region_is_image(px, MAIN_MENU_ICONS[i].x, MAIN_MENU_ICONS[i].y, image_set[index])) return false;
    }
    return true;
}

bool title_shows(const std::vector<u16>& px, const char* title)
{
    if (px.size() != static_cast<size_t>(LCD_PIXELS)) return false;
    // Left of the clock, which frame_title draws too.
    constexpr int TITLE_BAR_H = 20, CLOCK_LEFT = 200;
    images_unpack_all();
    std::vector<u16> saved(framebuffer, framebuffer + LCD_PIXELS);
    const u8 font = font_current;
    const u16 fg = fg_color, bg = bg_color, outline = outline_color;
    frame_title(title);
    bool same = true;
    for (int y = 0; y < TITLE_BAR_H && same; ++y)
        for (int x = 0; x < CLOCK_LEFT; ++x)
            if (framebuffer[y * LCD_WIDTH + x] != px[y * LCD_WIDTH + x]) {
                same = false;
                break;
            }
    std::copy(saved.begin(), saved.end(), framebuffer);
    font_select(font);
    fg_color = fg;
    bg_color = bg;
    outline_color = outline;
    return same;
}

bool panel_text_shows(const std::vector<u16>& px, int x, int y, const char* text)
{
    const u16 outline = outline_color;
    outline_color = COLOR_WHITE;
    const bool same =
        region_has_text(px, x, y, text, 5, TF_OUTLINE | TF_TRANSPARENT, COLOR_DARK_BLUE, COLOR_BACKGROUND);
    outline_color = outline;
    return same;
}

bool message_box_shows(const std::vector<u16>& px, const char* title, std::vector<const char*> lines, bool ok)
{
    size_t longest = std::strlen(title);
    for (const char* l : lines) longest = std::max(longest, std::strlen(l));
    const int w = 8 * static_cast<int>(longest);
    const int h = std::max(44 + (ok ? 43 : 0) + 23 * static_cast<int>(lines.size()), 90);
    const int top = (240 - h) / 2;
    const int left = std::max(160 - w / 2 - 56, 1), right = std::min(160 + w / 2 + 56, 318);
    if (!region_has_text(px, left + (right - left) / 2, top + 8, title, 4, TF_HCENTER, COLOR_WHITE, COLOR_BLUE))
        return false;
    int y = top + 42;
    for (const char* l : lines) {
        const int x = std::max(160 - 4 * static_cast<int>(std::strlen(l)), 60);
        if (!region_has_text(px, x, y, l, 4, 0, COLOR_BLACK, COLOR_BACKGROUND)) return false;
        y += 23;
    }
    return true;
}

namespace {

constexpr u16 TREE_BG = 59164, TREE_FG = 16;

int archive_text_x(int level, bool icon)
{
    return 1 + 2 + 25 * level + (icon ? 30 : 0);
}

}  // namespace

bool archive_row_shows(const std::vector<u16>& px, int row, int level, const char* text, bool selected, bool icon)
{
    if (px.size() != static_cast<size_t>(LCD_PIXELS)) return false;
    const int x = archive_text_x(level, icon), y = archive_row_y(row);
    const u16 fg = selected ? TREE_BG : TREE_FG, bg = selected ? TREE_FG : TREE_BG;
    if (!region_has_text(px, x, y, text, 4, 0, fg, bg)) return false;
    // After the text: the end of the inverted band, then the background up
    // to the frame (no further characters).
    const int end = x + 8 * static_cast<int>(std::strlen(text));
    for (int j = y; j < y + 16; ++j) {
        if (px[j * LCD_WIDTH + end] != (selected ? TREE_FG : TREE_BG)) return false;
        for (int i = end + 1; i < 318; ++i) {
            // The dotted frame of the current object may pass two pixels on.
            const u16 c = px[j * LCD_WIDTH + i];
            if (c != TREE_BG && !(c == TREE_FG && i == end + 2)) return false;
        }
    }
    return true;
}

bool archive_current_frame(const std::vector<u16>& px, int row, int level, int chars)
{
    if (px.size() != static_cast<size_t>(LCD_PIXELS)) return false;
    const int x = 1 + 2 + 25 * level, y = archive_row_y(row);
    const int left = x - 2, right = x + 32 + 8 * chars, top = y - 2 - 2, bottom = y + 19;
    // Dots on even places; a connector line of a neighbouring row may cross.
    auto fits = [](u16 c, int along) { return (along & 1) == 0 ? c == TREE_FG || c == 0 : c != TREE_FG; };
    for (int i = left; i < right; ++i)
        for (int yy : {top, bottom})
            if (!fits(px[yy * LCD_WIDTH + i], i)) return false;
    for (int j = top + 1; j < bottom; ++j)
        for (int xx : {left, right})
            if (!fits(px[j * LCD_WIDTH + xx], j)) return false;
    return true;
}

std::vector<u16> load_bmp565(const std::string& path)
{
    const auto f = read_file_bytes(path);
    if (f.size() != 66u + LCD_PIXELS * 2u || f[0] != 'B' || f[1] != 'M') return {};
    std::vector<u16> px(LCD_PIXELS);
    for (int y = 0; y < LCD_HEIGHT; ++y)
        for (int x = 0; x < LCD_WIDTH; ++x) {
            const size_t at = 66 + ((LCD_HEIGHT - 1 - y) * LCD_WIDTH + x) * 2;
            px[y * LCD_WIDTH + x] = static_cast<u16>(f[at] | (f[at + 1] << 8));
        }
    return px;
}

std::vector<u8> stored_settings(const std::string& folder)
{
    const auto f = read_file_bytes(folder + "/fram.dat");
    if (f.size() < 4 + 292) return {};
    return std::vector<u8>(f.begin() + 4, f.begin() + 4 + 292);
}
