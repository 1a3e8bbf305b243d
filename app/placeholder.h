// Screens of the instrument that this build does not have yet: a frame
// with the item's name, the key codes taken, and Esc to go back.
#pragma once

void placeholder_screen(const char* title);

// Screens reached from the menus.
void route_screen();
