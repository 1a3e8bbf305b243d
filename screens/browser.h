// The archive browser "Просмотр замеров": the tree of all objects and their
// measurements, in which the user chooses the current object, creates,
// renames and deletes objects, deletes and opens measurements, hears their
// voice notes and clears the whole archive.
#pragma once
#include "base/types.h"
#include "gfx/tree_view.h"

// Title of the browser's screen (the viewers open over it).
extern const char* const ARCHIVE_BROWSER_TITLE;

// The archive tree on screen.
constexpr i32 ARCHIVE_TREE_X0 = 1, ARCHIVE_TREE_Y0 = 22, ARCHIVE_TREE_X1 = 318, ARCHIVE_TREE_Y1 = 215;
constexpr u8 ARCHIVE_TREE_FONT = 4;
// Characters of an object name the editors take.
constexpr u32 ARCHIVE_NAME_MAX = 20;

// Results of archive_browser.
enum : int { BROWSER_NOT_READY = 0, BROWSER_LEFT = 1 };

// Runs the browser until Esc or power-off: BROWSER_LEFT, or
// BROWSER_NOT_READY when the archive could not be mounted.
int archive_browser();
// Sets up the archive tree and shows the current object opened; runs after
// every mount and after the archive is cleared.
void archive_tree_init();
// Makes object `id` current, shows it in the tree (opened when it has
// measurements) and saves the settings so that the choice survives a restart.
void archive_select_object(u32 id);
// Asks, then deletes every file of the archive and mounts it again with one
// new object "Объект".
void archive_clear_all();
// Moves the tree cursor to entry `id` (a new measurement, for instance), once
// the tree is set up.
void archive_show_id(u32 id);
// Id of the entry the browser's cursor stays on between visits (0: the root,
// or the tree not set up yet).
u32 archive_cursor_id();
// The browser's tree view (for the tests and the benchmarks).
TreeView* archive_tree_view();
// Reads the measurement at directory index `index` and opens the viewer of
// its kind (vibrometer_view, rms_view, stored_spectra_view); a kind without a
// viewer gets a short message instead, a failed read its error box.
void meas_view(int index);
// The tree not set up, no records read for a viewer, and the archive's
// change listener installed (state at power-on).
void archive_browser_reset();
