// What the instrument's screens show, for the end-to-end tests.
#pragma once
#include <string>
#include <vector>

#include "base/types.h"

// Places of the main-menu icons (two rows of three).
struct IconPlace {
    int x, y;
};
extern const IconPlace MAIN_MENU_ICONS[6];

// True when the main menu shows item `selected` (1..6) highlighted and the
// other five normal.
bool main_menu_shows(const std::vector<u16>& px, int selected);

// True when the title bar shows `title` left of the clock, as frame_title
// draws it (an empty title: the bare bar).
bool title_shows(const std::vector<u16>& px, const char* title);

// True when `text` stands at (x, y) as the information panels write it:
// font 5, dark blue outlined in white, over the background colour.
bool panel_text_shows(const std::vector<u16>& px, int x, int y, const char* text);

// True when a message box with `title` (and its icon) shows `lines`, the
// non-empty lines in order (font 4, black on the box background, right of
// the icon column), with or without buttons, as long as the box is as wide
// as its longest text.
bool message_box_shows(const std::vector<u16>& px, const char* title, std::vector<const char*> lines, bool ok = true);

// The archive browser's tree: rows ARCHIVE_ROW_H apart from ARCHIVE_ROW_Y0,
// 25 pixels of indent per level, text in font 4 after a 30-pixel icon. The
// route screen's tree starts at the same place and has the same rows.
constexpr int ARCHIVE_ROW_Y0 = 30, ARCHIVE_ROW_H = 23;
// Top of tree row `row` (0 = the top row).
constexpr int archive_row_y(int row)
{
    return ARCHIVE_ROW_Y0 + row * ARCHIVE_ROW_H;
}
// True when tree row `row` shows `text` at `level` (after an icon unless
// `icon` is false), inverted when selected, and nothing after it.
bool archive_row_shows(const std::vector<u16>& px, int row, int level, const char* text, bool selected,
                       bool icon = true);
// True when the dotted frame that marks the current object surrounds row
// `row` at `level`, whose text is `chars` characters long.
bool archive_current_frame(const std::vector<u16>& px, int row, int level, int chars);

// Reads a 16-bit BMP written by the picture writer as RGB565 pixels.
std::vector<u16> load_bmp565(const std::string& path);

// The stored settings block of fram.dat in `folder` (292 bytes; empty when
// the file is missing or short).
std::vector<u8> stored_settings(const std::string& folder);
