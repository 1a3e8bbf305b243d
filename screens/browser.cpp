#include "screens/browser.h"

#include <cstring>

#include "archive/changes.h"
#include "archive/measurement.h"
#include "archive/mount.h"
#include "archive/objects.h"
#include "archive/route.h"
#include "base/cp1251.h"
#include "gfx/dialog.h"
#include "gfx/frame.h"
#include "gfx/framebuffer.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/settings.h"
#include "host/sound.h"
#include "screens/archive_tree.h"
#include "screens/rms.h"
#include "screens/saved_dialog.h"
#include "screens/spectra.h"
#include "screens/vibrometer.h"
#include "storage/dir.h"
#include "storage/fs.h"

const char* const ARCHIVE_BROWSER_TITLE = "Просмотр замеров        "_cp;

namespace {

const char* const TITLE_ATTENTION = "Внимание !"_cp;
const char* const TITLE_ERROR = "Ошибка !"_cp;

constexpr u32 PAGE_UP_KEY = KEY_SHIFT | KEY_UP;
constexpr u32 PAGE_DOWN_KEY = KEY_SHIFT | KEY_DOWN;
constexpr u32 KEY_SELECT = KEY_SHIFT | KEY_ENTER;
constexpr u32 KEY_DELETE = KEY_SHIFT | KEY_LEFT;
constexpr u32 KEY_NEW = KEY_SHIFT | KEY_RIGHT;

constexpr i32 SLOT_ENTER = -1, SLOT_UP = -2, SLOT_DOWN = -3, SLOT_LEFT = -4, SLOT_RIGHT = -5;

// The box shown while the archive is cleared.
constexpr u8 CLEARING_FONT = 6;

// The pop-up menu: items in font 4 on the tree's colours, at least five
// characters of font 5 wide, kept 8 pixels inside the screen.
constexpr u8 POPUP_FONT = 4;
constexpr i32 POPUP_MIN_WIDTH = 5 * 12;  // five characters of font 5
constexpr i32 POPUP_PADDING = 8;         // width beyond the widest item
constexpr i32 POPUP_STEP_X = 48;         // per cursor level
constexpr i32 POPUP_X = 32;
constexpr i32 POPUP_DY = 6;  // below the cursor row's top
constexpr i32 POPUP_SCREEN_MARGIN = 8;
constexpr i32 POPUP_BORDER = 2;      // inside the frame, above the first and below the last item
constexpr i32 POPUP_ITEM_EXTRA = 4;  // item height = font height + this
constexpr int POPUP_NONE = -1;       // closed with Esc

// Items of the pop-up menus (0xB2 and 0xB3 of font 4: the Right and Left keys).
const char* const ROOT_ITEMS[] = {" Новый объект  Mod+І "_cp, " Удалить все   Mod+і "_cp};
const char* const OBJECT_ITEMS[] = {
    " Выбрать объект     Mod+Ent"_cp,
    " Удалить объект     Mod+і  "_cp,
    " Удалить только замеры     "_cp,
    " Исправить наимен.  Mod+І  "_cp,
};
const char* const MEASUREMENT_ITEMS[] = {" Просмотр замера  І     "_cp, " Удалить замер    Mod+і "_cp};
enum : int { ROOT_NEW = 0, ROOT_CLEAR = 1 };
enum : int { OBJECT_SELECT = 0, OBJECT_DELETE = 1, OBJECT_DELETE_MEASUREMENTS = 2, OBJECT_RENAME = 3 };
enum : int { MEASUREMENT_VIEW = 0, MEASUREMENT_DELETE = 1 };

// Result of the editor used here.
constexpr int TEXT_ACCEPTED = 1;  // text_entry_dialog

// A WAV note's sample count from its stored length: length / 2 - 22.
constexpr u32 NOTE_HEADER_WORDS = WAV_HEADER_SIZE / 2;
constexpr u32 WAV_DATA_SIZE_AT = 40;

// The one archive tree of the run; set up after a mount.
TreeView g_view;
bool g_ready = false;
// The records last read for a viewer.
MeasViewRecords g_records;
// Entry under the cursor as last seen (0: the root); a change means the
// cursor moved to another entry, or the entries moved under the cursor.
u32 g_cursor_id = 0;
// Entry whose voice note was last taken care of (0: the root).
u32 g_note_id = 0;
// Shared by the name editors.
char g_name[ARCHIVE_NAME_MAX + 1];
// Directory count at the last full redraw.
u32 g_seen_count = 0;
SoftKeyBar g_keys;
int g_keys_kind = -1;

// Full redraw of the screen.
void draw_screen()
{
    screen_frame(ARCHIVE_BROWSER_TITLE);
    font_select(ARCHIVE_TREE_FONT);
    tree_draw(&g_view);
    softbar_invalidate(&g_keys);
    g_seen_count = dir_count();
}

void set_keys(ArchiveNodeKind kind)
{
    if (kind == g_keys_kind) return;
    g_keys_kind = kind;
    softbar_set(&g_keys, SLOT_ENTER, "Меню"_cp, "Тек"_cp);
    softbar_set(&g_keys, SLOT_UP, "\x18", "Стр\x18"_cp);
    softbar_set(&g_keys, SLOT_DOWN, "\x19", "Стр\x19"_cp);
    softbar_set(&g_keys, SLOT_LEFT, "Свер"_cp, "Удал"_cp);
    switch (kind) {
    case ARCHIVE_NODE_ROOT:
        softbar_set(&g_keys, SLOT_RIGHT, "Разв"_cp, "Нов"_cp);
        softbar_show(&g_keys, SLOT_ENTER, 1, 0);
        break;
    case ARCHIVE_NODE_OBJECT: softbar_set(&g_keys, SLOT_RIGHT, "Разв"_cp, "Испр"_cp); break;
    case ARCHIVE_NODE_MEASUREMENT:
        softbar_set(&g_keys, SLOT_RIGHT, "Просм"_cp, nullptr);
        softbar_show(&g_keys, SLOT_ENTER, 1, 0);
        softbar_show(&g_keys, SLOT_LEFT, 0, 1);
        break;
    }
}

ArchiveNodeKind cursor_kind()
{
    return archive_node_kind(&g_view.current);
}

// Moves the cursor to entry `id` and notes it.
void show(u32 id)
{
    tree_show_id(&g_view, id);
    g_cursor_id = archive_node_id(&g_view.current);
}

// The cursor's node again from the directory: the same entry if it is
// still where it was, else found by its id, else the current object.
void resync_cursor()
{
    const TreeNode& c = g_view.current;
    if (c.index < 0) {
        archive_tree_root(&g_view.current);
        g_cursor_id = 0;
        return;
    }
    TreeNode n;
    if (dir_id(c.index) == g_cursor_id && archive_tree_node(c.index, &n)) {
        g_view.current = n;
        return;
    }
    if (g_cursor_id != 0 && tree_show_id(&g_view, g_cursor_id)) {
        g_cursor_id = archive_node_id(&g_view.current);
        return;
    }
    archive_tree_root(&g_view.current);
    g_view.cursor_y = g_view.y0 + TREE_FIRST_ROW;
    show(settings_current_object());
}

// Reads the voice note of measurement `id` into the sound buffer and plays it.
void play_note(u32 id)
{
    MeasHeader hd;
    if (meas_read_header(id, &hd) != MEAS_OK || hd.note_offset == 0 || hd.note_length < WAV_HEADER_SIZE) return;
    const u32 length = hd.note_length < SND_WAV_SIZE ? hd.note_length : SND_WAV_SIZE;
    FileHandle h;
    if (fs_open(&h, id, FS_READ) != FS_OK) return;
    const u32 got = fs_read(&h, snd_wav, hd.note_offset, length);
    fs_close(&h);
    if (got != length) return;
    // The samples its WAV header claims, no more than were read.
    u32 data_size;
    std::memcpy(&data_size, snd_wav + WAV_DATA_SIZE_AT, sizeof data_size);
    if (data_size > length - WAV_HEADER_SIZE) {
        data_size = length - WAV_HEADER_SIZE;
        std::memcpy(snd_wav + WAV_DATA_SIZE_AT, &data_size, sizeof data_size);
    }
    snd_wav_to_playback(snd_wav);
    snd_samples = length / 2 - NOTE_HEADER_WORDS;
    snd_play_start();
}

// After every key: a cursor on another entry stops the note playing and
// plays the new measurement's note; the soft keys follow the line's kind.
void cursor_moved()
{
    const u32 id = archive_node_id(&g_view.current);
    const ArchiveNodeKind kind = cursor_kind();
    g_cursor_id = id;
    if (id != g_note_id) {
        g_note_id = id;
        snd_play_stop();
        if (kind == ARCHIVE_NODE_MEASUREMENT) play_note(id);
    }
    set_keys(kind);
}

void draw_popup_item(const char* text, i32 x, i32 y, i32 w, bool selected)
{
    const i32 h = font_height + POPUP_ITEM_EXTRA;
    fill_rect(x + POPUP_BORDER, y, x + w - POPUP_BORDER, y + h - 1, selected ? TREE_TEXT : TREE_BACKGROUND);
    fg_color = selected ? TREE_BACKGROUND : TREE_TEXT;
    bg_color = selected ? TREE_TEXT : TREE_BACKGROUND;
    text_draw(x + POPUP_PADDING / 2, y + POPUP_ITEM_EXTRA / 2, text, 0);
}

// The pop-up menu of the cursor line: the chosen item, or POPUP_NONE.
int popup_menu(const char* const* items, int count)
{
    const u8 font = font_current;
    const u16 fg = fg_color, bg = bg_color;
    font_select(POPUP_FONT);
    i32 widest = 0;
    for (int i = 0; i < count; ++i) {
        const i32 w = text_width(items[i]);
        if (w > widest) widest = w;
    }
    const i32 w = widest + POPUP_PADDING > POPUP_MIN_WIDTH ? widest + POPUP_PADDING : POPUP_MIN_WIDTH;
    const i32 item_h = font_height + POPUP_ITEM_EXTRA;
    const i32 h = count * item_h + 2 * POPUP_BORDER;
    i32 x = POPUP_STEP_X * g_view.current.level + POPUP_X;
    i32 y = g_view.cursor_y + POPUP_DY;
    if (x + w > LCD_WIDTH - POPUP_SCREEN_MARGIN) x = LCD_WIDTH - POPUP_SCREEN_MARGIN - w;
    if (y + h > LCD_HEIGHT - POPUP_SCREEN_MARGIN) y = LCD_HEIGHT - POPUP_SCREEN_MARGIN - h;
    if (x < 0) x = 0;
    if (y < 0) y = 0;

    screen_save();
    fill_rect(x, y, x + w, y + h, TREE_BACKGROUND);
    draw_rect(x, y, x + w, y + h, COLOR_BLACK);
    int sel = 0;
    for (int i = 0; i < count; ++i) draw_popup_item(items[i], x, y + POPUP_BORDER + i * item_h, w, i == sel);
    int result = POPUP_NONE;
    for (;;) {
        frame_status();
        idle_yield();
        const u16 key = key_poll();  // Esc at power-off
        if (key == KEY_ESC) break;
        if (key == KEY_ENTER) {
            result = sel;
            break;
        }
        if (key != KEY_UP && key != KEY_DOWN) continue;
        draw_popup_item(items[sel], x, y + POPUP_BORDER + sel * item_h, w, false);
        sel = key == KEY_UP ? (sel + count - 1) % count : (sel + 1) % count;
        draw_popup_item(items[sel], x, y + POPUP_BORDER + sel * item_h, w, true);
    }
    screen_restore();
    fg_color = fg;
    bg_color = bg;
    font_select(font);
    return result;
}

void error_box(const char* line1, const char* line2)
{
    msg_box(TITLE_ERROR, line1, line2, nullptr, true, false);
}

bool confirmed(const char* line1, const char* line2, const char* line3)
{
    return msg_box(TITLE_ATTENTION, line1, line2, line3, true, true) == MSG_CONFIRMED;
}

// A name with a character other than a blank: one that can name an object.
bool name_given(const char* name)
{
    for (; *name != 0; ++name)
        if (*name != ' ') return true;
    return false;
}

const char* const NO_NAME = "Имя объекта не задано !"_cp;

void new_object()
{
    g_name[0] = 0;
    if (text_entry_dialog("Новый объект"_cp, ARCHIVE_NAME_MAX, g_name) == TEXT_ACCEPTED) {
        if (!name_given(g_name)) {
            msg_box(TITLE_ATTENTION, NO_NAME, nullptr, nullptr, true, false);
        } else if (obj_name_taken(g_name, -1) == OBJ_NAME_TAKEN) {
            msg_box(TITLE_ATTENTION, "Такое имя уже есть в базе !"_cp, nullptr, nullptr, true, false);
        } else {
            const u32 id = obj_create(g_name);
            if (id != 0)
                archive_select_object(id);
            else
                error_box("Не могу добавить объект !"_cp, nullptr);
        }
    }
    draw_screen();
}

void rename_object()
{
    const TreeNode& c = g_view.current;
    const char* text = c.text ? c.text(&c, ARCHIVE_NAME_MAX) : "";
    const size_t n = strnlen(text, ARCHIVE_NAME_MAX);
    std::memcpy(g_name, text, n);
    g_name[n] = 0;
    if (text_entry_dialog("Новое имя"_cp, ARCHIVE_NAME_MAX, g_name) == TEXT_ACCEPTED) {
        const int index = g_view.current.index;
        if (!name_given(g_name))
            error_box(NO_NAME, nullptr);
        else if (obj_name_taken(g_name, index) == OBJ_NAME_TAKEN)
            error_box("Такое имя уже есть в базе !"_cp, nullptr);
        else if (obj_rename(index, g_name) != OBJ_OK)
            error_box("Не могу переименовать объект !"_cp, nullptr);
    }
    draw_screen();
}

// Deletes the cursor's entry with `remove` after moving the cursor off it;
// on failure the cursor goes back and `line2` is shown under "Не могу
// удалить".
bool delete_at_cursor(bool (*remove)(int index), const char* line2)
{
    const TreeNode saved = g_view.current;
    const i32 saved_y = g_view.cursor_y;
    const u32 old_id = archive_node_id(&saved);
    tree_step_away(&g_view);
    const u32 next_id = archive_node_id(&g_view.current);
    if (remove(saved.index)) {
        g_cursor_id = next_id;
        return true;
    }
    g_view.current = saved;
    g_view.cursor_y = saved_y;
    g_cursor_id = old_id;
    resync_cursor();  // the failed delete may have removed entries before it
    error_box("Не могу удалить"_cp, line2);
    return false;
}

// The deletions of the browser. Route points that link the measurements
// let go of them first: an id freed here may name a later file.
bool delete_entry(int index)
{
    route_unlink_measurement(dir_id(index));
    return dir_delete(index) == FS_OK;
}

bool delete_object_entry(int index)
{
    route_unlink_object(dir_id(index));
    return obj_delete(index) == OBJ_OK;
}

void delete_object()
{
    if (confirmed("Удалить выбранный объект ?"_cp, "Все замеры из этого объекта"_cp, "также будут удалены."_cp) &&
        delete_at_cursor(delete_object_entry, "указанный объект !"_cp)) {
        // The current object may be gone: another one, or a new "Объект".
        if (obj_ensure_current() == OBJ_CHOSEN) settings_save();
        show(g_cursor_id);
    }
    draw_screen();
}

void delete_measurement()
{
    if (confirmed("Вы действительно хотите"_cp, "удалить замер ?"_cp, "") &&
        delete_at_cursor(delete_entry, "указанный замер !"_cp))
        show(g_cursor_id);
    draw_screen();
}

void delete_measurements_only()
{
    if (confirmed("Вы действительно хотите"_cp, "удалить данные ?"_cp, "")) {
        route_unlink_object(archive_node_id(&g_view.current));
        if (obj_delete_measurements(g_view.current.index) != OBJ_OK) error_box("Не могу удалить замеры !"_cp, nullptr);
        resync_cursor();
    }
    draw_screen();
}

void view_measurement()
{
    meas_view(g_view.current.index);
    resync_cursor();
    draw_screen();
}

void select_object()
{
    archive_select_object(archive_node_id(&g_view.current));
    draw_screen();
}

void clear_archive()
{
    archive_clear_all();
    draw_screen();
}

void root_key(u32 key)
{
    if (key == KEY_LEFT) {
        dir_flags_clear_all(DIR_FLAG_EXPANDED);
        tree_draw(&g_view);
    } else if (key == KEY_NEW) {
        new_object();
    } else if (key == KEY_DELETE) {
        clear_archive();
    } else if (key == KEY_ENTER) {
        const int item = popup_menu(ROOT_ITEMS, 2);
        if (item == ROOT_NEW) new_object();
        if (item == ROOT_CLEAR) clear_archive();
    }
}

void object_key(u32 key)
{
    if (key == KEY_SELECT) {
        select_object();
    } else if (key == KEY_NEW) {
        rename_object();
    } else if (key == KEY_DELETE) {
        delete_object();
    } else if (key == KEY_ENTER) {
        switch (popup_menu(OBJECT_ITEMS, 4)) {
        case OBJECT_SELECT: select_object(); break;
        case OBJECT_DELETE: delete_object(); break;
        case OBJECT_DELETE_MEASUREMENTS: delete_measurements_only(); break;
        case OBJECT_RENAME: rename_object(); break;
        default: break;
        }
    }
}

void measurement_key(u32 key)
{
    if (key == KEY_RIGHT) {
        view_measurement();
    } else if (key == KEY_DELETE) {
        delete_measurement();
    } else if (key == KEY_ENTER) {
        const int item = popup_menu(MEASUREMENT_ITEMS, 2);
        if (item == MEASUREMENT_VIEW) view_measurement();
        if (item == MEASUREMENT_DELETE) delete_measurement();
    }
}

void no_viewer()
{
    screen_save();
    msg_box(TITLE_ATTENTION, "Просмотр недоступен"_cp, nullptr, nullptr, true, false);
    screen_restore();
}

// The archive's listener: the tree follows what was stored, and a save the
// user is to be told of opens the saved dialog.
void archive_change(ArchiveChange change, u32 id)
{
    switch (change) {
    case ARCHIVE_CHANGE_MOUNTED: archive_tree_init(); break;
    case ARCHIVE_CHANGE_SAVED: archive_show_id(id); break;
    case ARCHIVE_CHANGE_SAVED_ANNOUNCE: {
        archive_show_id(id);
        char label[MEAS_LABEL_SIZE];
        meas_label(dir_find_id(id), label);
        FileHandle h{};
        h.first = id;
        meas_saved_dialog(label, &h);
        break;
    }
    case ARCHIVE_CHANGE_REMOVING: {
        const int at = dir_find_id(id);
        if (at >= 0 && archive_cursor_id() == id) archive_show_id(dir_parent(at));
        break;
    }
    }
}

}  // namespace

void archive_tree_init()
{
    const u8 font = font_current;
    font_select(ARCHIVE_TREE_FONT);
    tree_init(&g_view, ARCHIVE_TREE_X0, ARCHIVE_TREE_Y0, ARCHIVE_TREE_X1, ARCHIVE_TREE_Y1, archive_tree_root);
    font_select(font);
    archive_tree_set_shown(ARCHIVE_SHOWN_TYPES);
    g_view.page_up_key = PAGE_UP_KEY;
    g_view.page_down_key = PAGE_DOWN_KEY;
    g_ready = true;
    show(settings_current_object());
    // After a mount no line is open: this opens the current object.
    TreeNode& c = g_view.current;
    if (c.toggle) c.toggle(&c);
}

void archive_select_object(u32 id)
{
    obj_select(id);
    if (g_ready) show(id);
    settings_save();
    const int at = dir_find_id(id);
    if (at >= 0 && dir_has_children(at)) dir_flags_set(at, DIR_FLAG_EXPANDED);
}

void archive_clear_all()
{
    if (!confirmed("Удалить все объекты,"_cp, "замеры и маршруты прибора ?"_cp, "")) return;
    const u8 font = font_current;
    font_select(CLEARING_FONT);
    msg_box(TITLE_ATTENTION, "Удаление архива."_cp, "Пожалуйста, подождите..."_cp, nullptr, false, false);
    font_select(font);
    idle_yield();
    fs_format();
    settings_set_current_object(0);
    // Whatever the format left is mounted again, so that the directory
    // shows what the flash holds.
    if (fs_mount() != FS_OK) archive_state = ARCHIVE_FAILED;
    obj_after_mount();
    archive_tree_init();
}

void archive_show_id(u32 id)
{
    if (g_ready) show(id);
}

void meas_view(int index)
{
    if (index < 0 || static_cast<u32>(index) >= dir_count()) return;
    const u32 kind = dir_attr(index);
    if (kind >= MEAS_KIND_COUNT) return no_viewer();
    if (meas_read_for_view(index, &g_records) != MEAS_OK) return;
    if (kind == MEAS_KIND_VIBROMETER)
        vibrometer_view(&g_records.table);
    else if (kind == MEAS_KIND_RMS_TABLE)
        rms_view(&g_records.table);
    else
        stored_spectra_view(&g_records.spectra, g_records.data, g_records.data_bytes);
}

int archive_browser()
{
    if (!archive_wait()) return BROWSER_NOT_READY;
    if (!g_ready) archive_tree_init();
    resync_cursor();
    const u32 flags_on_entry = storage_error_flags;
    storage_error_flags &= ~static_cast<u32>(STORAGE_ERR_WRITE);

    g_note_id = g_cursor_id;
    softbar_init(&g_keys, KEY_MOD);
    g_keys_kind = -1;
    set_keys(cursor_kind());
    keys_reset();
    draw_screen();
    for (;;) {
        frame_status();
        softbar_update(&g_keys);
        idle_yield();
        u32 key = key_poll();  // Esc at power-off
        // Entries added or removed meanwhile (a viewer, the background
        // job): the cursor's entry is found again and all is redrawn.
        if (dir_count() != g_seen_count) {
            resync_cursor();
            draw_screen();
        }
        bool redraw = false;
        font_select(ARCHIVE_TREE_FONT);
        tree_key(&g_view, &key, &redraw);
        if (redraw) tree_draw(&g_view);
        if (key == KEY_ESC) break;
        if (key != KEY_NONE) {
            switch (cursor_kind()) {
            case ARCHIVE_NODE_ROOT: root_key(key); break;
            case ARCHIVE_NODE_OBJECT: object_key(key); break;
            case ARCHIVE_NODE_MEASUREMENT: measurement_key(key); break;
            }
        }
        cursor_moved();
    }
    snd_play_stop();
    // Errors of this visit are not kept.
    storage_error_flags &= flags_on_entry;
    return BROWSER_LEFT;
}

u32 archive_cursor_id()
{
    return g_ready ? g_cursor_id : 0;
}

TreeView* archive_tree_view()
{
    return &g_view;
}

void archive_browser_reset()
{
    std::memset(&g_view, 0, sizeof g_view);
    g_ready = false;
    g_cursor_id = 0;
    g_note_id = 0;
    g_name[0] = 0;
    g_seen_count = 0;
    std::memset(&g_keys, 0, sizeof g_keys);
    g_keys_kind = -1;
    std::memset(&g_records, 0, sizeof g_records);
    archive_set_listener(archive_change);
}
