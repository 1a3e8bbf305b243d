// Route data collection "Сбор данных по маршруту": the current route as a
// tree in the upper part of the screen and, below it, the information about
// the selected item or the plot of the selected point's measurement. Enter
// on a group jumps to its first point still to measure, Enter on a point
// measures it with the point's own settings, Enter again (or the end of the
// averaging) saves the measurement into an object named after the route and
// moves on. The route choice (screens/route_choice.h) picks the route.
#pragma once
#include <string>

#include "base/types.h"
#include "gfx/frame.h"
#include "gfx/tree_view.h"
#include "screens/plot.h"
#include "screens/route_choice.h"

// The tree and the plot on the screen.
constexpr i32 ROUTE_TREE_X0 = 1, ROUTE_TREE_Y0 = 22, ROUTE_TREE_X1 = 318, ROUTE_TREE_Y1 = 123;
constexpr i32 ROUTE_PLOT_X0 = 3, ROUTE_PLOT_Y0 = 125, ROUTE_PLOT_X1 = 317, ROUTE_PLOT_Y1 = 214;
constexpr u8 ROUTE_TREE_FONT = 4;
// The information panel: ROUTE_PANEL_FONT, dark blue outlined in white,
// four lines.
constexpr i32 ROUTE_PANEL_X = 48;
constexpr i32 ROUTE_PANEL_Y[4] = {130, 149, 168, 187};
// Characters of the title; the path to the selected item is cut to them.
constexpr int ROUTE_TITLE_ROOM = 21;
constexpr u32 ROUTE_TITLE_SIZE = 32;
// Request of the screen: vibration, temperature, processing.
constexpr u32 ROUTE_REQUEST = 74;

constexpr int ROUTE_NO_ITEM = -1;

// Screen state (one instance).
struct RouteScreenState {
    u32 route_file;     // the route in use, 0 = none
    TreeView tree;      // over the current route
    int measured_node;  // the point being measured, ROUTE_NO_ITEM when none
    u8 running;
    u8 has_data;        // the plot shows a live or a saved measurement
    u32 plot_mode;      // 0 waveform, 1 spectrum
    u32 plot_quantity;  // 0 A, 1 V, 2 D
    PlotView plot;
    u32 saved_object;  // the archive's current object on entry, restored on leaving
    SoftKeyBar keys;
    int shown_item;  // the item whose title and panel or plot are shown, ROUTE_NO_ITEM forces them
    float last_rms, last_temp;
    u8 plant_route;  // the route holds points of the plant in use: its points feed the measuring chain
    u32 plant_seen;  // the plant_source_generation() plant_route was found for
};
extern RouteScreenState route_screen_state;

// The screen; returns on Esc or at power-off.
void route_screen();

// The title for item `i` of the current route: the path of its parents'
// texts, shortened to ROUTE_TITLE_ROOM characters. `out` holds
// ROUTE_TITLE_SIZE bytes; returns `out`.
char* route_title(int i, char* out);
// Puts the settings of point `i` of the current route into the measurement
// settings (mode, quantity, geometry, averaging) and sets the changed flag
// when any of them differs. Returns whether `i` is a point.
bool route_apply_point(int i);

// The path of item `i` of the current route as a plant names its points:
// the names of the items from level 1 down to it, joined by "/", in UTF-8
// ("group/machine/point" in a route made from a plant).
std::string route_point_path(int i);

// State at power-on.
void route_screen_reset();
