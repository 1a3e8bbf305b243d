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

// True when the placeholder screen of a not yet built item shows `title`.
bool placeholder_shows(const std::vector<u16>& px, const char* title);
// True when the placeholder screen shows `code` as the last key taken.
bool placeholder_shows_key(const std::vector<u16>& px, u32 code);

// Reads a 16-bit BMP written by the picture writer as RGB565 pixels.
std::vector<u16> load_bmp565(const std::string& path);

// The stored settings block of fram.dat in `folder` (292 bytes; empty when
// the file is missing or short).
std::vector<u8> stored_settings(const std::string& folder);
