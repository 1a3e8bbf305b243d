// The route choice "Выберите маршрут": the routes of the archive in a list
// with the points of the selected one and how many of them are measured;
// Enter chooses, Mod+Left deletes a route with its measurements, Mod+Right
// clears its measurements.
#pragma once
#include "base/types.h"

// The font of the route panels: the choice's counts and the route screen's
// information panel.
constexpr u8 ROUTE_PANEL_FONT = 5;

// The route choice: `file` holds the route in use on entry and the chosen one
// on return; `changed` is set when the route in use was chosen, cleared or
// deleted. Returns true when a route was chosen.
bool route_select_screen(u32* file, bool* changed);
// The list emptied (state at power-on).
void route_choice_reset();
