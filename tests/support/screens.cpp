#include "tests/support/screens.h"

#include <cstring>

#include "base/cp1251.h"
#include "base/text.h"
#include "data/images.h"
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

bool placeholder_shows(const std::vector<u16>& px, const char* title)
{
    return region_has_text(px, 160, 70, title, 4, TF_HCENTER, COLOR_DARK_BLUE, COLOR_BACKGROUND);
}

bool placeholder_shows_key(const std::vector<u16>& px, u32 code)
{
    char line[32];
    std::strcpy(line, "Клавиша: "_cp);
    int_to_text(static_cast<i32>(code), 5, line + std::strlen(line));
    return region_has_text(px, 160, 130, line, 4, TF_HCENTER, COLOR_BLACK, COLOR_BACKGROUND);
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
