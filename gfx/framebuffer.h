// The LCD picture and the drawing primitives.
#pragma once
#include "base/types.h"

constexpr int LCD_WIDTH = 320;
constexpr int LCD_HEIGHT = 240;
constexpr int LCD_PIXELS = LCD_WIDTH * LCD_HEIGHT;

// Colours in use (RGB565).
enum : u16 {
    COLOR_BLACK = 0,
    COLOR_DARK_BLUE = 16,
    COLOR_BLUE = 31,
    COLOR_FORM_TEXT = 585,
    COLOR_GOOD = 1280,
    COLOR_DARK_GREY = 16904,
    COLOR_GREY = 33808,
    COLOR_WARNING = 44352,
    COLOR_BACKGROUND = 54938,
    COLOR_LIGHT_GREY = 59164,
    COLOR_RED = 63488,
    COLOR_MAGENTA = 63519,
    COLOR_WHITE = 65535,
};

extern u16 framebuffer[LCD_PIXELS];
extern u16* fb_pixels;  // all primitives address pixels through it
extern i32 screen_width;
extern i32 screen_height;
extern i32 pixel_count;
extern u16 fg_color;
extern u16 bg_color;
extern u16 outline_color;
extern u8 image_mode;
extern u16 saved_screen[LCD_PIXELS];

u16* pixel_addr(i32 x, i32 y);
void put_pixel(i32 x, i32 y, u16 color);
void plot_bit(i32 x, i32 y, int bit, int transparent);
void xor_bit(i32 x, i32 y, int bit, int transparent);
void lcd_clear();
void draw_hline(i32 x0, i32 x1, i32 y, u16 color);
void draw_vline(i32 x, i32 y0, i32 y1, u16 color);
void fill_rect(i32 x0, i32 y0, i32 x1, i32 y1, u16 color);
void clear_rect(i32 x0, i32 y0, i32 x1, i32 y1);
void clear_box(i32 x, i32 y, i32 w, i32 h);
// The image starts with its height and width words (see gfx/image.h).
void clear_image_area(i32 x, i32 y, const u16* image);
void draw_line(i32 x0, i32 y0, i32 x1, i32 y1);
void draw_line_color(i32 x0, i32 y0, i32 x1, i32 y1, u16 color);
void draw_rect(i32 x0, i32 y0, i32 x1, i32 y1, u16 color);
void draw_round_rect(i32 x0, i32 y0, i32 x1, i32 y1, u16 color);
void draw_etched_frame(i32 x0, i32 y0, i32 x1, i32 y1, int fill);
void draw_dotted_vline(i32 x, i32 y0, i32 y1);
void draw_dotted_hline(i32 x0, i32 x1, i32 y);
void draw_dashed_vline(i32 x, i32 y0, i32 y1);
void draw_dashed_hline(i32 x0, i32 x1, i32 y);
void fill_inside(i32 x0, i32 y0, i32 x1, i32 y1, u16 color);
void screen_save();
void screen_restore();

// Back to the initial drawing state (tests and the start of a run).
void framebuffer_reset();
