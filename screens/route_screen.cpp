#include "screens/route_screen.h"

#include <cstdio>
#include <cstring>

#include "analysis/meas_module.h"
#include "analysis/measures.h"
#include "analysis/plant_source.h"
#include "analysis/signal.h"
#include "archive/measurement.h"
#include "archive/mount.h"
#include "archive/objects.h"
#include "archive/route.h"
#include "base/cp1251.h"
#include "base/cp1251_utf8.h"
#include "gfx/dialog.h"
#include "gfx/framebuffer.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/settings.h"
#include "screens/meas_setup.h"
#include "screens/route_choice.h"
#include "screens/route_tree.h"
#include "screens/spectra.h"
#include "screens/status.h"
#include "storage/dir.h"
#include "storage/fs.h"

RouteScreenState route_screen_state;

namespace {

RouteScreenState& S = route_screen_state;

constexpr u32 KEY_CHOOSE = KEY_SHIFT | KEY_ENTER;
constexpr u32 PAGE_UP_KEY = KEY_SHIFT | KEY_UP, PAGE_DOWN_KEY = KEY_SHIFT | KEY_DOWN;

// Soft-key slots.
constexpr i32 SLOT_ENTER = -1, SLOT_UP = -2, SLOT_DOWN = -3, SLOT_LEFT = -4, SLOT_RIGHT = -5;

// The plot and the rows around it, cleared before it is set up.
constexpr i32 PLOT_AREA_X0 = 0, PLOT_AREA_Y0 = 124, PLOT_AREA_X1 = 319, PLOT_AREA_Y1 = 215;
constexpr i32 PLOT_GROUP = 1;  // the vibration channel
constexpr float PLOT_MIN_SCALE = 0.5f;

constexpr u32 KIND_COUNT = 2, QUANTITY_COUNT = 3;
constexpr u32 DEFAULT_KIND = KIND_S, DEFAULT_QUANTITY = Q_V;

// Settings indices the points are measured with.
constexpr u32 AVG_IDX_NONE = 1, AVG_IDX_4_STOP = 3, AVG_IDX_10_STOP = 5;
constexpr u32 AVG_STOP_MIN = 2, AVG_STOP_LIMIT = 999;
constexpr i32 FEW_SAMPLES_IDX = 1, MANY_SAMPLES_IDX = 2;
constexpr i32 FMAX_400_IDX = 1, FMAX_1000_IDX = 2, FMAX_4000_IDX = 3;
constexpr i32 FMAX_400_UP_TO = 401, FMAX_1000_UP_TO = 1001;
constexpr int AVERAGES_FEW = 2, AVERAGES_MANY = 4;
constexpr i32 SIGNAL_STEP_MIN = 1, SIGNAL_STEP_MAX = 3;
// Durations of a waveform point (lines / fmax, s) by signal-duration index.
constexpr float DURATION_UP_TO[3] = {0.101f, 0.401f, 1.001f};
constexpr float DURATION_SHOWN[4] = {0.1f, 0.4f, 1.0f, 4.0f};
constexpr int DURATION_INDICES = 4;
constexpr int LINES_MANY = 1600, LINES_FEW = 400;
constexpr int SAMPLES_MANY = 4096, SAMPLES_FEW = 1024;
constexpr int FMAX_SHOWN[3] = {400, 1000, 4000};
constexpr u32 SENSOR_EXTERNAL = 2;

// The title's path.
constexpr char PATH_SEPARATOR = '\x1A';
constexpr int TITLE_GROWS_BELOW = 20;  // pieces are added while the title is shorter
constexpr int PIECE_ROOM_MIN = 3;      // the path stops when less room is left
constexpr int PIECE_SHORT = 2;         // pieces this long are never shortened

const char* const TITLE_LOADING = "Загрузка маршрута"_cp;

// Room for section 2 of a saved point's measurement.
i32 g_data[MEAS_SPECTRA_DATA_CAPACITY / sizeof(i32)];
SpectraRecord g_record;

u32 sane_kind(u32 kind)
{
    return kind >= KIND_COUNT ? DEFAULT_KIND : kind;
}

u32 sane_quantity(u32 quantity)
{
    return quantity >= QUANTITY_COUNT ? DEFAULT_QUANTITY : quantity;
}

// The measurement quantity of a point: 0 A, 2 D, anything else V.
u32 point_quantity(const RouteItem& it)
{
    if (it.quantity == ROUTE_QUANTITY_ACCELERATION) return Q_A;
    if (it.quantity == ROUTE_QUANTITY_DISPLACEMENT) return Q_D;
    return Q_V;
}

bool many_lines(const RouteItem& it)
{
    return it.lines > ROUTE_FEW_LINES;
}

// Signal-duration index 1..4 of a waveform point by lines / fmax.
int duration_index(const RouteItem& it)
{
    if (it.fmax <= 0) return DURATION_INDICES;
    const float d = static_cast<float>(it.lines) / static_cast<float>(it.fmax);
    for (int k = 0; k < DURATION_INDICES - 1; ++k)
        if (d <= DURATION_UP_TO[k]) return k + 1;
    return DURATION_INDICES;
}

int fmax_index(const RouteItem& it)
{
    if (it.fmax <= FMAX_400_UP_TO) return FMAX_400_IDX;
    if (it.fmax <= FMAX_1000_UP_TO) return FMAX_1000_IDX;
    return FMAX_4000_IDX;
}

int clamp(int v, int lo, int hi)
{
    return v < lo ? lo : v > hi ? hi : v;
}

bool is_plot_key(u32 k)
{
    return k == KEY_LEFT || k == KEY_RIGHT || k == (KEY_SHIFT | KEY_LEFT) || k == (KEY_SHIFT | KEY_RIGHT);
}

int current_item()
{
    return S.tree.current.index;
}

bool is_item(const TreeNode* node, const void* context)
{
    return node->index == *static_cast<const int*>(context);
}

// Opens the path to item i and puts the cursor on it.
void select_item(int i)
{
    route_expand_path(i);
    font_select(ROUTE_TREE_FONT);
    tree_select(&S.tree, is_item, &i);
}

// The first shown item after item i, selected.
void select_next(int i)
{
    for (int j = i + 1; static_cast<u32>(j) < route_current.header.count; ++j)
        if (!route_is_hidden(j)) {
            select_item(j);
            return;
        }
}

void draw_tree()
{
    font_select(ROUTE_TREE_FONT);
    tree_draw(&S.tree);
}

void show_data_keys()
{
    softbar_show(&S.keys, SLOT_LEFT, S.has_data, S.has_data);
    softbar_show(&S.keys, SLOT_RIGHT, S.has_data, S.has_data);
}

// A reading of the point measured that is still to be saved (its save
// failed): it stays on the plot, the cursor on its point, until Enter
// saves it or the cursor leaves the point.
bool reading_kept()
{
    return !S.running && S.measured_node != ROUTE_NO_ITEM;
}

void set_enter_label()
{
    softbar_set(&S.keys, SLOT_ENTER, S.running ? "Стоп"_cp : reading_kept() ? "Сохр"_cp : "Пуск"_cp, "Выбр"_cp);
}

void panel_line(int row, const char* text)
{
    text_draw(ROUTE_PANEL_X, ROUTE_PANEL_Y[row], text, TF_OUTLINE | TF_TRANSPARENT);
}

// The information panel of item i over the empty plot.
void draw_panel(int i)
{
    if (route_is_hidden(i)) return;
    const u8 font = font_current;
    const u16 fg = fg_color, outline = outline_color;
    font_select(ROUTE_PANEL_FONT);
    fg_color = COLOR_DARK_BLUE;
    outline_color = COLOR_WHITE;
    char line[48];
    const RouteItem& it = route_current.items[i];
    if (route_is_point(i)) {
        const bool spectrum = it.spectrum == ROUTE_SPECTRUM;
        static const char* const quantities[QUANTITY_COUNT] = {"Ускорение"_cp, "Скорость"_cp, "Перемещен"_cp};
        std::snprintf(line, sizeof line, "%s   %s", spectrum ? "Спектр"_cp : "Сигнал"_cp,
                      quantities[point_quantity(it)]);
        panel_line(0, line);
        panel_line(1, settings.sensor == SENSOR_EXTERNAL ? "Датчик   : Внешний   "_cp : "Датчик   : Внутренний"_cp);
        if (spectrum) {
            std::snprintf(line, sizeof line, "Линий    : %4d"_cp, many_lines(it) ? LINES_MANY : LINES_FEW);
            panel_line(2, line);
            std::snprintf(line, sizeof line, "Частота  : %4.0f Гц"_cp,
                          static_cast<double>(FMAX_SHOWN[fmax_index(it) - 1]));
        } else {
            std::snprintf(line, sizeof line, "Отсчетов : %4d"_cp, many_lines(it) ? SAMPLES_MANY : SAMPLES_FEW);
            panel_line(2, line);
            std::snprintf(line, sizeof line, "Длительн.: %4.1f с"_cp,
                          static_cast<double>(DURATION_SHOWN[duration_index(it) - 1]));
        }
        panel_line(3, line);
    } else {
        const RouteCounts c = route_subtree_counts(i);
        if (c.machines != 0) {
            std::snprintf(line, sizeof line, "Объектов : %3d"_cp, c.machines);
            panel_line(0, line);
        }
        if (c.points != 0) {
            std::snprintf(line, sizeof line, "Замеров  : %3d"_cp, c.points);
            panel_line(1, line);
            std::snprintf(line, sizeof line, "Измерено : %3d"_cp, c.measured);
            panel_line(2, line);
        }
    }
    font_select(font);
    fg_color = fg;
    outline_color = outline;
}

// The empty plot and the panel of item i.
void show_panel(int i)
{
    plot_invalidate(&S.plot);
    plot_draw_empty(&S.plot);
    draw_panel(i);
}

// The title bar while a measurement is shown: its mode icons, and room for
// its RMS and temperature.
void measurement_bar()
{
    frame_title(""_cp);
    status_mode_icons(S.plot_mode, S.plot_quantity);
    S.last_rms = S.last_temp = -1.0f;
}

// Whether any point of the current route is a point of the plant in use.
bool holds_plant_points()
{
    if (!plant_source_loaded()) return false;
    for (int i = 1; static_cast<u32>(i) < route_current.header.count; ++i)
        if (route_is_point(i) && plant_source_holds(route_point_path(i))) return true;
    return false;
}

// On a route with points of the plant in use, the probe goes to point i:
// its signal feeds the measuring chain (a point the plant lacks, its noise
// floor). On groups the probe stays where it was.
void probe_to(int i)
{
    if (S.plant_route && route_is_point(i) && !route_is_hidden(i)) plant_source_walk(route_point_path(i));
}

// Whether the route holds points of the plant in use, found again when
// another plant came (the window can open one while the screen runs); the
// probe then goes to the point under the cursor, or the walk ends.
void follow_plant()
{
    if (S.plant_seen == plant_source_generation()) return;
    S.plant_seen = plant_source_generation();
    S.plant_route = holds_plant_points();
    if (S.plant_route)
        probe_to(current_item());
    else
        plant_source_walk_end();
}

void start_point()
{
    probe_to(S.measured_node);
    S.has_data = 0;
    avg_clear();
    results_reset();
    plot_reset_ranges(&S.plot);  // the point's record shown whole
    route_apply_point(S.measured_node);
    measurement_bar();
    S.last_rms = S.last_temp = -1.0f;
    meas_set_running(1);
    S.running = 1;
    set_enter_label();
    show_data_keys();
    show_panel(S.measured_node);
}

void stop_point()
{
    meas_set_running(0);
    S.running = 0;
    set_enter_label();
    plot_invalidate(&S.plot);
    busy_release();
}

// The velocity RMS and the temperature of the reading in the title bar.
void show_reading_values()
{
    status_rms_print(meas_band_value(PLOT_GROUP, Q_V), &S.last_rms);
    status_temp_print(meas_temperature(), &S.last_temp);
}

// The measurement of point i shown from the archive.
bool show_saved_point(int i)
{
    if (!route_is_point(i) || !route_is_measured(i) || !route_link_valid(i)) return false;
    MeasSection one{&g_record, sizeof g_record, 0};
    MeasSection two{g_data, sizeof g_data, 0};
    u32 kind = 0;
    const u32 id = static_cast<u32>(route_current.items[i].measurement);
    if (meas_read(id, &kind, &one, &two, nullptr, true) == 0 || one.length != SPECTRA_RECORD_SIZE) return false;
    if (g_record.kind >= KIND_COUNT || g_record.quantity >= QUANTITY_COUNT) return false;
    if (!spectra_load(&g_record, g_data, two.length)) return false;
    S.plot_mode = g_record.kind;
    S.plot_quantity = g_record.quantity;
    plot_set_source(&S.plot, S.plot_mode, S.plot_quantity);
    plot_reset_ranges(&S.plot);  // shown whole, whatever length the plot showed before
    plot_invalidate(&S.plot);
    measurement_bar();
    status_rms_print(g_record.velocity, &S.last_rms);
    status_temp_print(g_record.temperature, &S.last_temp);
    return true;
}

// Forgets the point measured (and a reading kept for it).
void forget_reading()
{
    S.measured_node = ROUTE_NO_ITEM;
    set_enter_label();
}

// A failure box over the screen, which comes back as it was: the reading
// stays on the plot.
void failure_box(void (*show)())
{
    softbar_update(&S.keys);
    screen_save();
    show();
    screen_restore();
}

void object_failed()
{
    msg_box("Ошибка !"_cp, "Не могу добавить объект !"_cp, nullptr, nullptr, true, false);
}

// Saves the reading of the point measured into the route's object and marks
// the point measured. A reading that cannot be saved (the archive full) is
// kept, with the reason shown, for Enter to try again; with no reading
// there is nothing to save.
bool save_point()
{
    stop_point();
    const int node = S.measured_node;
    if (node == ROUTE_NO_ITEM) return false;
    if (!S.has_data || !archive_wait() || !route_is_point(node) || route_is_hidden(node)) {
        forget_reading();
        return false;
    }
    set_enter_label();

    const char* name = route_current.header.name;
    u32 object = obj_find_by_name(name);
    if (object == 0) object = obj_create(name);
    if (object == 0) {
        failure_box(object_failed);
        return false;
    }
    obj_select(object);
    const u32 id = spectra_save(S.plot_mode, S.plot_quantity, SPECTRA_LAYOUT_MAIN, true);
    if (id < 1) {
        failure_box(meas_show_save_error);
        return false;
    }
    forget_reading();
    route_set_measurement(node, id);
    return true;
}

// Enter while measuring, or on a kept reading, and the end of the
// averaging: the reading saved and the next item selected.
void save_and_move_on()
{
    const int node = S.measured_node;
    if (save_point())
        select_next(node);
    else if (!reading_kept())
        S.shown_item = ROUTE_NO_ITEM;  // nothing kept: the item as it is again
}

// Enter: saves while measuring, measures a point, or goes to a group's next
// point still to measure.
void enter_key()
{
    const int cur = current_item();
    if (S.running || reading_kept()) {
        save_and_move_on();
    } else if (route_is_point(cur) && !route_is_hidden(cur)) {
        S.measured_node = cur;
        start_point();
        plot_set_source(&S.plot, S.plot_mode, S.plot_quantity);
    } else {
        const int target = route_next_open_point(cur);
        if (target != cur) select_item(target);
    }
}

// The measuring screen: frame, soft keys, tree and plot set up afresh.
void setup_screen()
{
    screen_frame(""_cp);
    font_select(ROUTE_TREE_FONT);
    status_mode_icons(S.plot_mode, S.plot_quantity);
    softbar_init(&S.keys, KEY_MOD);
    set_enter_label();
    softbar_set(&S.keys, SLOT_UP, "\x18", "Стр\x18"_cp);
    softbar_set(&S.keys, SLOT_DOWN, "\x19", "Стр\x19"_cp);
    softbar_set(&S.keys, SLOT_LEFT, "<<<", ">-<");
    softbar_set(&S.keys, SLOT_RIGHT, ">>>", "<+>");
    show_data_keys();

    tree_init(&S.tree, ROUTE_TREE_X0, ROUTE_TREE_Y0, ROUTE_TREE_X1, ROUTE_TREE_Y1, route_tree_root);
    S.tree.page_up_key = PAGE_UP_KEY;
    S.tree.page_down_key = PAGE_DOWN_KEY;

    plot_init(&S.plot, ROUTE_PLOT_X0, ROUTE_PLOT_Y0, ROUTE_PLOT_X1, ROUTE_PLOT_Y1);
    plot_set_cursor_freq(&S.plot, settings.plot_cursor_freq);
    fill_rect(PLOT_AREA_X0, PLOT_AREA_Y0, PLOT_AREA_X1, PLOT_AREA_Y1, COLOR_BACKGROUND);
    plot_set_group(&S.plot, PLOT_GROUP);
    plot_set_source(&S.plot, S.plot_mode, S.plot_quantity);
    plot_reset_markers(&S.plot);
    plot_add_marker(&S.plot, 2.0f, "2x");
    plot_add_marker(&S.plot, 3.0f, "3x");
    plot_set_min_scale(&S.plot, PLOT_MIN_SCALE);
    plot_invalidate(&S.plot);
    S.last_rms = S.last_temp = -1.0f;
}

// Set-up, the stored item selected, its title and panel, acquisition ready.
void build_screen()
{
    setup_screen();
    S.plant_seen = plant_source_generation() - 1;
    follow_plant();
    select_item(static_cast<int>(settings.last_route_item));
    S.shown_item = ROUTE_NO_ITEM;
    meas_start(ROUTE_REQUEST);
}

// The selected item's title, and its saved measurement or its panel.
void selection_changed()
{
    const int i = current_item();
    S.shown_item = i;
    settings.last_route_item = i >= 0 ? static_cast<u32>(i) : 0;
    probe_to(i);
    // A kept reading is given up when the cursor leaves its point.
    if (reading_kept() && i != S.measured_node) forget_reading();
    if (S.running || reading_kept()) {
        // The live measurement or the kept reading stays on the plot and in
        // the title bar.
        if (!S.has_data) show_panel(i);
        if (reading_kept()) show_reading_values();
    } else {
        S.has_data = route_is_point(i) && route_is_measured(i) && route_link_valid(i);
        if (S.has_data && !show_saved_point(i)) {
            S.has_data = 0;
            draw_tree();  // an error box may have covered it
        }
        if (!S.has_data) {
            // The path to the item in the title bar, its panel below.
            char title[ROUTE_TITLE_SIZE];
            frame_title(route_title(i, title));
            S.last_rms = S.last_temp = -1.0f;
            show_panel(i);
        }
    }
    show_data_keys();
}

void leave()
{
    stop_point();
    plant_source_walk_end();
    S.measured_node = ROUTE_NO_ITEM;
    results_reset();
    obj_select(S.saved_object);
    settings.plot_mode = S.plot_mode;
    settings.plot_quantity = S.plot_quantity;
    settings.plot_cursor_freq = plot_cursor_freq(&S.plot);
    busy_release();
}

// One acquisition step and what it brings while measuring; true when the
// point saved itself at the end of its averaging.
bool measuring_step()
{
    meas_step();
    if (!S.running) {
        busy_release();
        return false;
    }
    S.has_data = results.valid != 0;
    show_data_keys();
    const u32 avg = settings.averaging_idx;
    const u32 target = avg_target();
    if ((avg == AVG_IDX_4_STOP || avg == AVG_IDX_10_STOP) && target >= AVG_STOP_MIN && target < AVG_STOP_LIMIT &&
        avg_count() >= target) {
        save_and_move_on();
        return true;
    }
    busy_mark();
    if (S.has_data) show_reading_values();
    return false;
}

enum class Pass { ON, LEAVE };

// Shift+Enter: the route choice, then this screen again with the route
// chosen, or leaving without one.
Pass choose_route()
{
    // A measurement under way ends; a kept reading waits for the return to
    // the same route (the choice can make room by deleting other routes).
    if (S.running) {
        stop_point();
        forget_reading();
    }
    bool changed = false;
    route_select_screen(&S.route_file, &changed);
    if (changed) {
        forget_reading();
        settings.last_route_item = 0;
        if (S.route_file == 0 || route_load(S.route_file, &route_current) == 0) {
            S.route_file = 0;
            settings.last_route = 0;
            return Pass::LEAVE;
        }
        settings.last_route = S.route_file;
    }
    build_screen();
    return Pass::ON;
}

void screen_loop()
{
    bool redraw_tree = true;
    for (;;) {
        frame_status();
        u32 raw = key_poll_raw();
        u32 key = raw & 0xFFFF;
        if (S.has_data) {
            while (is_plot_key(key)) {
                plot_handle_key(&S.plot, raw);
                raw = key_poll_raw();
                key = raw & 0xFFFF;
            }
            if (key == KEY_MOD) plot_set_cursor(&S.plot, plot_find_peak(&S.plot));
        }
        if (key == KEY_ENTER) {
            enter_key();
            redraw_tree = true;
        }
        // While a point is measured the cursor stays on it: Enter saves there.
        font_select(ROUTE_TREE_FONT);
        if (!S.running) tree_key(&S.tree, &key, &redraw_tree);
        if (key == KEY_ESC || power_off_flag) break;
        if (key == KEY_CHOOSE) {
            if (choose_route() == Pass::LEAVE) break;
            redraw_tree = true;
        }
        if (current_item() != S.shown_item) selection_changed();
        follow_plant();
        if (measuring_step()) redraw_tree = true;
        if (S.shown_item == ROUTE_NO_ITEM) {
            selection_changed();
            redraw_tree = true;
        }
        if (redraw_tree) {
            draw_tree();
            redraw_tree = false;
        }
        softbar_update(&S.keys);
        if (S.has_data) {
            plot_set_group(&S.plot, PLOT_GROUP);
            plot_draw(&S.plot);
        }
        idle_yield();
    }
    leave();
}

}  // namespace

char* route_title(int i, char* out)
{
    out[0] = 0;
    if (route_is_hidden(i)) return out;
    char title[ROUTE_TITLE_SIZE] = {};
    int len = 0;
    if (i != 0) title[len++] = PATH_SEPARATOR;
    int a = i != 0 ? route_current.items[i].parent : ROUTE_NO_PARENT;
    while (a >= 0 && len < TITLE_GROWS_BELOW) {
        const int room = ROUTE_TITLE_ROOM - len;
        if (room < PIECE_ROOM_MIN) break;
        char piece[ROUTE_NAME_SIZE + 2];
        int n = 0;
        if (a != 0) piece[n++] = PATH_SEPARATOR;
        const char* text = route_item_text(a);
        const size_t tl = strnlen(text, ROUTE_NAME_SIZE - 1);
        std::memcpy(piece + n, text, tl);
        n += static_cast<int>(tl);
        if (n > PIECE_SHORT && n + 2 > room) {
            int cut = room - 2;
            while (cut > 0 && piece[cut - 1] == ' ') --cut;
            piece[cut] = '.';
            n = cut + 1;
        }
        std::memmove(title + n, title, static_cast<size_t>(len));
        std::memcpy(title, piece, static_cast<size_t>(n));
        len += n;
        const int p = route_current.items[a].parent;
        a = a != 0 && p < a ? p : ROUTE_NO_PARENT;
    }
    title[len] = 0;
    std::memcpy(out, title, static_cast<size_t>(len) + 1);
    return out;
}

std::string route_point_path(int i)
{
    if (i <= 0 || static_cast<u32>(i) >= route_current.header.count) return "";
    std::string path;
    // Up the parents (each before its child) to the route item.
    for (int a = i; a > 0;) {
        const RouteItem& it = route_current.items[a];
        const std::string name(it.name, strnlen(it.name, ROUTE_NAME_SIZE - 1));
        path = path.empty() ? name : name + "/" + path;
        if (it.parent >= a) break;
        a = it.parent;
    }
    return cp1251_to_utf8(path);
}

bool route_apply_point(int i)
{
    if (!route_is_point(i)) return false;
    const RouteItem& it = route_current.items[i];
    SettingsBlock& set = settings;
    const SettingsBlock before = set;

    const bool spectrum = it.spectrum == ROUTE_SPECTRUM;
    S.plot_mode = spectrum ? KIND_S : KIND_W;
    set.meas_mode = spectrum ? MEAS_MODE_SPECTRUM : MEAS_MODE_SIGNAL;
    S.plot_quantity = point_quantity(it);
    set.meas_quantity = S.plot_quantity;

    MeasGeometry g{static_cast<int>(set.spectrum_step_idx),   static_cast<int>(set.spectrum_fmax_idx),
                   static_cast<int>(set.spectrum_lines_idx),  static_cast<int>(set.signal_step_idx),
                   static_cast<int>(set.signal_duration_idx), static_cast<int>(set.signal_samples_idx)};
    const int samples = many_lines(it) ? MANY_SAMPLES_IDX : FEW_SAMPLES_IDX;
    g.samples = g.lines = samples;
    if (spectrum) {
        g.fmax = fmax_index(it);
        // The step follows fmax and lines, the signal set follows them.
        g = meas_geometry_couple(g, SETUP_FIELD_FMAX);
        set.averaging_idx = it.averages < AVERAGES_FEW    ? AVG_IDX_NONE
                            : it.averages > AVERAGES_MANY ? AVG_IDX_10_STOP
                                                          : AVG_IDX_4_STOP;
    } else {
        g.duration = duration_index(it);
        g.signal_step = clamp(g.duration - samples + 1, SIGNAL_STEP_MIN, SIGNAL_STEP_MAX);
        // The duration the step and samples give, and the spectrum set after them.
        g = meas_geometry_couple(g, SETUP_FIELD_DURATION);
        set.averaging_idx = AVG_IDX_NONE;
    }
    set.spectrum_step_idx = static_cast<u32>(g.spectrum_step);
    set.spectrum_fmax_idx = static_cast<u32>(g.fmax);
    set.spectrum_lines_idx = static_cast<u32>(g.lines);
    set.signal_step_idx = static_cast<u32>(g.signal_step);
    set.signal_duration_idx = static_cast<u32>(g.duration);
    set.signal_samples_idx = static_cast<u32>(g.samples);

    const bool differs =
        set.meas_mode != before.meas_mode || set.meas_quantity != before.meas_quantity ||
        set.spectrum_step_idx != before.spectrum_step_idx || set.spectrum_fmax_idx != before.spectrum_fmax_idx ||
        set.spectrum_lines_idx != before.spectrum_lines_idx || set.signal_step_idx != before.signal_step_idx ||
        set.signal_duration_idx != before.signal_duration_idx || set.signal_samples_idx != before.signal_samples_idx ||
        set.averaging_idx != before.averaging_idx;
    if (differs) set.meas_params_changed = 1;
    status_mode_icons(S.plot_mode, S.plot_quantity);
    return true;
}

void route_screen()
{
    S.saved_object = settings_current_object();
    S.plot_mode = sane_kind(settings.plot_mode);
    S.plot_quantity = sane_quantity(settings.plot_quantity);
    S.running = 0;
    S.has_data = 0;
    S.measured_node = ROUTE_NO_ITEM;

    route_clear(&route_current);
    screen_enter(TITLE_LOADING);
    font_select(ROUTE_TREE_FONT);
    if (route_find(ROUTE_TEST_NAME) == 0) route_make_test();

    S.route_file = settings.last_route;
    if (route_load(S.route_file, &route_current) == 0) {
        bool changed = false;
        if (!route_select_screen(&S.route_file, &changed) || route_load(S.route_file, &route_current) == 0) {
            S.route_file = 0;
            return;
        }
        settings.last_route = S.route_file;
        settings.last_route_item = 0;
    }
    build_screen();
    screen_loop();
}

void route_screen_reset()
{
    std::memset(&S, 0, sizeof S);
    S.measured_node = ROUTE_NO_ITEM;
    S.shown_item = ROUTE_NO_ITEM;
    S.plot_mode = DEFAULT_KIND;
    S.plot_quantity = DEFAULT_QUANTITY;
    S.last_rms = S.last_temp = -1.0f;
    plot_init(&S.plot, ROUTE_PLOT_X0, ROUTE_PLOT_Y0, ROUTE_PLOT_X1, ROUTE_PLOT_Y1);
    softbar_init(&S.keys, KEY_MOD);
    std::memset(g_data, 0, sizeof g_data);
    std::memset(&g_record, 0, sizeof g_record);
}
