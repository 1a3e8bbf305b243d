#include "gfx/framebuffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "host/device.h"

u16 framebuffer[LCD_PIXELS];
u16* fb_pixels = framebuffer;
i32 screen_width = LCD_WIDTH;
i32 screen_height = LCD_HEIGHT;
i32 pixel_count = LCD_PIXELS;
u16 fg_color = COLOR_WHITE;
u16 bg_color = COLOR_BLACK;
u16 outline_color = COLOR_BLACK;
u8 image_mode = 0;
u16 saved_screen[LCD_PIXELS];

u16* pixel_addr(i32 x, i32 y)
{
    return fb_pixels + y * screen_width + x;
}

void put_pixel(i32 x, i32 y, u16 color)
{
    *pixel_addr(x, y) = color;
}

void plot_bit(i32 x, i32 y, int bit, int transparent)
{
    if (bit)
        *pixel_addr(x, y) = fg_color;
    else if (!transparent)
        *pixel_addr(x, y) = bg_color;
}

void xor_bit(i32 x, i32 y, int bit, int transparent)
{
    if (bit)
        *pixel_addr(x, y) ^= fg_color;
    else if (!transparent)
        *pixel_addr(x, y) ^= bg_color;
}

void lcd_clear()
{
    std::fill_n(fb_pixels, pixel_count, bg_color);
}

void draw_hline(i32 x0, i32 x1, i32 y, u16 color)
{
    if (x0 > x1) std::swap(x0, x1);
    if (x1 > screen_width - 1) x1 = screen_width - 1;
    u16* p = pixel_addr(x0, y);
    for (i32 x = x0; x <= x1; ++x) *p++ = color;
}

void draw_vline(i32 x, i32 y0, i32 y1, u16 color)
{
    if (y0 > y1) std::swap(y0, y1);
    if (y1 > screen_height - 1) y1 = screen_height - 1;
    for (i32 y = y0; y <= y1; ++y) *pixel_addr(x, y) = color;
}

void fill_rect(i32 x0, i32 y0, i32 x1, i32 y1, u16 color)
{
    for (i32 y = y0; y <= y1; ++y) draw_hline(x0, x1, y, color);
}

void clear_rect(i32 x0, i32 y0, i32 x1, i32 y1)
{
    fill_rect(x0, y0, x1, y1, bg_color);
}

void clear_box(i32 x, i32 y, i32 w, i32 h)
{
    clear_rect(x, y, x + w - 1, y + h - 1);
}

void clear_image_area(i32 x, i32 y, const u16* image)
{
    // Header words 0 and 2 hold the low 8 bits of height and width.
    clear_box(x, y, image[2] & 0xFF, image[0] & 0xFF);
}

void draw_line_color(i32 x0, i32 y0, i32 x1, i32 y1, u16 color)
{
    i32 dx = std::abs(x1 - x0);
    i32 dy = std::abs(y1 - y0);
    const bool steep = dy > dx;
    const i32 sx = x1 >= x0 ? 1 : -1;
    const i32 sy = y1 >= y0 ? 1 : -1;
    const i32 major = steep ? dy : dx;
    const i32 minor = steep ? dx : dy;
    i32 err = -major;
    i32 x = x0, y = y0;
    for (i32 i = 0; i <= major; ++i) {
        put_pixel(x, y, color);
        err += 2 * minor;
        if (err > 0) {
            if (steep)
                x += sx;
            else
                y += sy;
            err -= 2 * major;
        }
        if (steep)
            y += sy;
        else
            x += sx;
    }
}

void draw_line(i32 x0, i32 y0, i32 x1, i32 y1)
{
    draw_line_color(x0, y0, x1, y1, fg_color);
}

void draw_rect(i32 x0, i32 y0, i32 x1, i32 y1, u16 color)
{
    draw_line_color(x0, y0, x1, y0, color);
    draw_line_color(x0, y1, x1, y1, color);
    draw_line_color(x0, y0, x0, y1, color);
    draw_line_color(x1, y0, x1, y1, color);
}

void draw_round_rect(i32 x0, i32 y0, i32 x1, i32 y1, u16 color)
{
    constexpr i32 r = 5;
    draw_line_color(x0 + r, y0, x1 - r, y0, color);
    draw_line_color(x0 + r, y1, x1 - r, y1, color);
    draw_line_color(x0, y0 + r, x0, y1 - r, color);
    draw_line_color(x1, y0 + r, x1, y1 - r, color);
    // The five pixels of the top-left corner; the others mirror them.
    static const i32 corner[5][2] = {{1, 4}, {1, 3}, {2, 2}, {3, 1}, {4, 1}};
    for (const auto& c : corner) {
        put_pixel(x0 + c[0], y0 + c[1], color);
        put_pixel(x0 + c[0], y1 - c[1], color);
        put_pixel(x1 - c[0], y0 + c[1], color);
        put_pixel(x1 - c[0], y1 - c[1], color);
    }
}

void draw_etched_frame(i32 x0, i32 y0, i32 x1, i32 y1, int fill)
{
    const u16 fg = fg_color, bg = bg_color;
    if (fill == 1) clear_rect(x0, y0, x1, y1);
    draw_rect(x0 + 1, y0 + 1, x1, y1, COLOR_WHITE);
    draw_rect(x0, y0, x1 - 1, y1 - 1, COLOR_GREY);
    fg_color = fg;
    bg_color = bg;
}

void draw_dotted_vline(i32 x, i32 y0, i32 y1)
{
    for (i32 y = std::min(y0, y1); y < std::max(y0, y1); ++y)
        if ((y & 1) == 0) plot_bit(x, y, 1, 1);
}

void draw_dotted_hline(i32 x0, i32 x1, i32 y)
{
    for (i32 x = std::min(x0, x1); x < std::max(x0, x1); ++x)
        if ((x & 1) == 0) plot_bit(x, y, 1, 1);
}

void draw_dashed_vline(i32 x, i32 y0, i32 y1)
{
    for (i32 y = std::min(y0, y1); y < std::max(y0, y1); ++y)
        if (y & 2) put_pixel(x, y, fg_color);
}

void draw_dashed_hline(i32 x0, i32 x1, i32 y)
{
    for (i32 x = std::min(x0, x1); x < std::max(x0, x1); ++x)
        if (x & 2) put_pixel(x, y, fg_color);
}

void fill_inside(i32 x0, i32 y0, i32 x1, i32 y1, u16 color)
{
    for (i32 y = y0 + 1; y <= y1 - 1; ++y) {
        const i32 c = x0 + (x1 - x0) / 2;
        // The colours at the centre are taken before the row changes.
        const u16 left_match = *pixel_addr(c, y);
        const u16 right_match = c + 1 < screen_width ? *pixel_addr(c + 1, y) : 0;
        for (i32 x = c; x >= 0 && *pixel_addr(x, y) == left_match; --x) *pixel_addr(x, y) = color;
        for (i32 x = c + 1; x < screen_width && *pixel_addr(x, y) == right_match; ++x) *pixel_addr(x, y) = color;
    }
}

void screen_save()
{
    std::memcpy(saved_screen, fb_pixels, sizeof(u16) * static_cast<size_t>(pixel_count));
}

void screen_restore()
{
    std::memcpy(fb_pixels, saved_screen, sizeof(u16) * static_cast<size_t>(pixel_count));
    idle_yield();
}

void framebuffer_reset()
{
    fb_pixels = framebuffer;
    std::fill_n(framebuffer, LCD_PIXELS, u16{0});
    std::fill_n(saved_screen, LCD_PIXELS, u16{0});
    fg_color = COLOR_WHITE;
    bg_color = COLOR_BLACK;
    outline_color = COLOR_BLACK;
    image_mode = 0;
}
