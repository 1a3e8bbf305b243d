// The archive browser: its keys on each kind of line, the pop-up menus, new
// objects and renames with their name checks, deleting objects and
// measurements (also when the delete fails or the flash is full), clearing
// the archive (also cut off by a power loss), voice notes, the error bits of
// a visit, and the browser end to end through the headless runner.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/reset.h"
#include "archive/measurement.h"
#include "archive/mount.h"
#include "archive/objects.h"
#include "archive/route.h"
#include "base/cp1251.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "host/device.h"
#include "host/fram.h"
#include "host/settings.h"
#include "host/sound.h"
#include "screens/archive_tree.h"
#include "screens/browser.h"
#include "screens/saved_dialog.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "storage/nand.h"
#include "tests/support/flash_image.h"
#include "tests/support/screens.h"
#include "tests/support/support.h"

namespace {

constexpr u32 MOD_ENTER = KEY_SHIFT | KEY_ENTER, MOD_LEFT = KEY_SHIFT | KEY_LEFT, MOD_RIGHT = KEY_SHIFT | KEY_RIGHT;
// Stands for "no key" in a script: the Mod key alone, which nothing takes.
constexpr u32 IDLE = KEY_MOD;

const char* const ATTENTION = "Внимание !"_cp;
const char* const ERROR = "Ошибка !"_cp;

class Browser : public ::testing::Test {
protected:
    VirtualHostScope scope;  // first: its reset comes before the mount
    MountedFlash image;
    u32 object = 0;
    // shots[i]: the screen before key i was posted (the one before it
    // handled); the last one is the screen before the closing Esc.
    std::vector<std::vector<u16>> shots;
    // Every picture the host saw, for the boxes shown in between.
    std::vector<std::vector<u16>> frames;

    void SetUp() override
    {
        images_unpack_all();
        archive_state = ARCHIVE_MOUNTED;
        ASSERT_EQ(obj_after_mount(), OBJ_CHOSEN);
        object = settings_current_object();
        archive_tree_init();
        storage_error_flags = 0;
    }
    void TearDown() override { nand_restore_power(); }

    // Runs the browser on `keys`, then Esc; `before_key` (if given) runs
    // before key i is posted.
    int run(std::vector<u32> keys, std::function<void(size_t)> before_key = nullptr)
    {
        keys.push_back(KEY_ESC);
        shots.clear();
        frames.clear();
        scope.host.set_on_pump([this, keys, before_key, next = size_t(0), pumps = 0]() mutable {
            std::vector<u16> px(framebuffer, framebuffer + LCD_PIXELS);
            if (frames.empty() || frames.back() != px) frames.push_back(px);
            if (pending_key != KEY_NONE || power_off_flag) return;
            if (next >= keys.size()) {
                if (++pumps > 100000) power_off_flag = 1;
                return;
            }
            if (++pumps < 5) return;
            pumps = 0;
            shots.push_back(std::move(px));
            if (before_key) before_key(next);
            if (!power_off_flag) key_post(keys[next]);
            ++next;
        });
        const int r = archive_browser();
        scope.host.set_on_pump(nullptr);
        return r;
    }
    bool box_seen(const char* title, std::vector<const char*> lines, bool ok = true) const
    {
        for (const auto& px : frames)
            if (message_box_shows(px, title, lines, ok)) return true;
        return false;
    }
    // A vibrometer reading saved into `into`.
    static u32 measure(u32 into, float value = 2.5f, u32 kind = MEAS_KIND_VIBROMETER)
    {
        const u32 keep = settings_current_object();
        settings_set_current_object(into);
        RmsTableRecord r{};
        r.valid = 1;
        r.values[0][0][1] = value;
        rms_table_seal(&r);
        const u32 id = meas_save(kind, 0, &r, sizeof r, nullptr, 0, nullptr, 0, true);
        settings_set_current_object(keep);
        EXPECT_NE(id, 0u);
        return id;
    }
    static std::string label(u32 id)
    {
        char out[MEAS_LABEL_SIZE];
        return meas_label(dir_find_id(id), out);
    }
    static std::string name_at(int index)
    {
        char name[OBJ_NAME_SIZE];
        return obj_get_name(index, name) ? name : "<unreadable>";
    }
    static std::vector<u32> ids()
    {
        std::vector<u32> v;
        for (u32 i = 0; i < dir_count(); ++i) v.push_back(dir_id(static_cast<int>(i)));
        return v;
    }
    static u32 stored_current_object()
    {
        SettingsBlock stored;
        fram_read(SETTINGS_OFFSET, &stored, SETTINGS_SIZE);
        return stored.current_object;
    }
    // Equal pictures below the title bar (whose clock and battery move on).
    static bool same_below_title(const std::vector<u16>& a, const std::vector<u16>& b)
    {
        return a.size() == b.size() && std::equal(a.begin() + 20 * LCD_WIDTH, a.end(), b.begin() + 20 * LCD_WIDTH);
    }
    static const TreeNode& cursor() { return archive_tree_view()->current; }
    static int cursor_row() { return (archive_tree_view()->cursor_y - ARCHIVE_ROW_Y0) / ARCHIVE_ROW_H; }
    // Puts the cursor on entry `id` (0: the root).
    static void show(u32 id) { archive_show_id(id); }
};

TEST_F(Browser, NotMountedArchiveGivesNothing)
{
    archive_state = ARCHIVE_FAILED;
    EXPECT_EQ(run({}), BROWSER_NOT_READY);
    EXPECT_TRUE(shots.empty());
}

TEST_F(Browser, DeletingTheOnlyObjectCreatesANewCurrentObjectAtOnce)
{
    ASSERT_EQ(cursor().index, dir_find_id(object));
    EXPECT_EQ(run({MOD_LEFT, KEY_ENTER}), BROWSER_LEFT);
    EXPECT_TRUE(box_seen(
        ATTENTION, {"Удалить выбранный объект ?"_cp, "Все замеры из этого объекта"_cp, "также будут удалены."_cp}));
    ASSERT_EQ(dir_count(), 1u);
    EXPECT_NE(dir_id(0), object);
    EXPECT_EQ(name_at(0), "Объект"_cp);
    EXPECT_EQ(settings_current_object(), dir_id(0));
    EXPECT_EQ(stored_current_object(), dir_id(0));  // saved at once
    // The cursor went to the root; the new object is marked current.
    const auto& px = shots.back();
    EXPECT_TRUE(archive_row_shows(px, 0, 0, "Tarvik-2", true, false));
    EXPECT_TRUE(archive_row_shows(px, 1, 1, "Объект"_cp, false));
    EXPECT_TRUE(archive_current_frame(px, 1, 1, 6));
}

TEST_F(Browser, DeletingMeasurementsMovesTheCursorToTheNextThenToTheObject)
{
    const u32 m1 = measure(object, 1.5f), m2 = measure(object, 2.5f), m3 = measure(object, 3.5f);
    const std::string label1 = label(m1), label3 = label(m3);
    show(m2);  // rows: root, object, m3, m2, m1
    EXPECT_EQ(run({MOD_LEFT, KEY_ENTER, MOD_LEFT, KEY_ENTER, MOD_LEFT, KEY_ENTER}), BROWSER_LEFT);
    EXPECT_TRUE(box_seen(ATTENTION, {"Вы действительно хотите"_cp, "удалить замер ?"_cp}));
    // m2 went: the cursor on the next one, m1, in the same row.
    EXPECT_TRUE(archive_row_shows(shots[2], 3, 2, label1.c_str(), true));
    // m1 went: the previous one, m3, one row up.
    EXPECT_TRUE(archive_row_shows(shots[4], 2, 2, label3.c_str(), true));
    // m3, the last one, went: the object.
    EXPECT_EQ(ids(), (std::vector<u32>{object}));
    EXPECT_EQ(cursor().index, 0);
    EXPECT_EQ(cursor_row(), 1);
    EXPECT_TRUE(archive_row_shows(shots.back(), 1, 1, "Объект"_cp, true));
    for (int row = 2; row < 8; ++row)
        for (int x = 2; x < 318; ++x) ASSERT_EQ(shots.back()[archive_row_y(row) * LCD_WIDTH + x], TREE_BACKGROUND);
}

TEST_F(Browser, ModLeftOnTheRootAsksToClearTheArchiveAndCancelKeepsAll)
{
    const u32 m = measure(object);
    show(0);
    const std::vector<u32> before = ids();
    const u64 writes = nand_writes_made();
    for (const std::vector<u32>& keys : {std::vector<u32>{MOD_LEFT, KEY_RIGHT, KEY_ENTER}, {MOD_LEFT, KEY_ESC}}) {
        run(keys);
        EXPECT_TRUE(box_seen(ATTENTION, {"Удалить все объекты,"_cp, "замеры и маршруты прибора ?"_cp}));
        EXPECT_EQ(ids(), before);
        EXPECT_EQ(nand_writes_made(), writes);
        EXPECT_EQ(settings_current_object(), object);
        EXPECT_TRUE(same_below_title(shots.back(), shots.front()));  // the screen as it was
    }
    (void)m;
}

TEST_F(Browser, ClearingTheArchiveLeavesOneNewCurrentObject)
{
    measure(object);
    const u32 other = obj_create("Насос"_cp);
    measure(other);
    show(0);
    run({MOD_LEFT, KEY_ENTER});
    EXPECT_TRUE(box_seen(ATTENTION, {"Удаление архива."_cp, "Пожалуйста, подождите..."_cp}, false));
    ASSERT_EQ(dir_count(), 1u);
    EXPECT_EQ(name_at(0), "Объект"_cp);
    EXPECT_EQ(settings_current_object(), dir_id(0));
    EXPECT_EQ(cursor().index, 0);
    EXPECT_TRUE(archive_row_shows(shots.back(), 1, 1, "Объект"_cp, true));
    EXPECT_TRUE(archive_current_frame(shots.back(), 1, 1, 6));
    image.remount();
    EXPECT_EQ(dir_count(), 1u);
}

TEST_F(Browser, LeftClosesThenClimbsRightOpensThenGoesToTheNewest)
{
    const u32 m1 = measure(object), m2 = measure(object);
    show(object);
    ASSERT_NE(dir_flags(0) & DIR_FLAG_EXPANDED, 0);
    run({KEY_LEFT, KEY_LEFT, KEY_DOWN, KEY_RIGHT, KEY_RIGHT});
    // Closed, then the root; Down back to the object, Right opens it.
    EXPECT_TRUE(archive_row_shows(shots[1], 1, 1, "Объект"_cp, true));
    EXPECT_TRUE(archive_row_shows(shots[2], 0, 0, "Tarvik-2", true, false));
    EXPECT_TRUE(archive_row_shows(shots[4], 2, 2, label(m2).c_str(), false));
    // Right on the open object: its newest measurement.
    EXPECT_EQ(cursor().index, dir_find_id(m2));
    EXPECT_TRUE(archive_row_shows(shots.back(), 2, 2, label(m2).c_str(), true));
    EXPECT_TRUE(archive_row_shows(shots.back(), 3, 2, label(m1).c_str(), false));
}

TEST_F(Browser, LeftOnTheRootClosesEveryObject)
{
    const u32 other = obj_create("Насос"_cp);
    measure(object);
    measure(other);
    dir_flags_set(dir_find_id(other), DIR_FLAG_EXPANDED);
    show(0);
    run({KEY_LEFT});
    for (u32 i = 0; i < dir_count(); ++i) EXPECT_EQ(dir_flags(static_cast<int>(i)) & DIR_FLAG_EXPANDED, 0);
    EXPECT_TRUE(archive_row_shows(shots.back(), 1, 1, "Насос"_cp, false));
    EXPECT_TRUE(archive_row_shows(shots.back(), 2, 1, "Объект"_cp, false));
}

TEST_F(Browser, LongNameIsCutToWholeCharacters)
{
    const char* stored = CP("Насос циркуляционный N1 котельной Северная");
    obj_create(stored);
    show(0);
    run({});
    // 32 characters fit on an object line: (318 - 58 - 1) / 8.
    EXPECT_TRUE(archive_row_shows(shots.back(), 1, 1, std::string(stored, 32).c_str(), false));
}

TEST_F(Browser, NewObjectsAndRenamesRefuseNamesAlreadyTaken)
{
    const u32 three = obj_create("3");
    show(0);
    run({
        MOD_RIGHT, KEY_UP,    KEY_UP,    KEY_ENTER,  // new object "1": current, under the cursor
        MOD_RIGHT, KEY_UP,    KEY_ENTER,             // renamed "2"
        MOD_RIGHT, KEY_UP,    KEY_ENTER, KEY_ENTER,  // "3" is taken: refused
        KEY_UP,    MOD_RIGHT, KEY_UP,    KEY_UP,    KEY_UP, KEY_UP, KEY_ENTER, KEY_ENTER,  // a new "3": refused
    });
    EXPECT_TRUE(box_seen(ERROR, {"Такое имя уже есть в базе !"_cp}));
    EXPECT_TRUE(box_seen(ATTENTION, {"Такое имя уже есть в базе !"_cp}));
    ASSERT_EQ(dir_count(), 3u);
    EXPECT_EQ(name_at(0), "2");
    EXPECT_EQ(dir_id(1), three);
    EXPECT_EQ(name_at(2), "Объект"_cp);
    EXPECT_EQ(settings_current_object(), dir_id(0));
    EXPECT_EQ(stored_current_object(), dir_id(0));
    // After the first key: the new object's line, selected and current.
    EXPECT_TRUE(archive_row_shows(shots[4], 1, 1, "1", true));
    EXPECT_TRUE(archive_current_frame(shots[4], 1, 1, 1));
}

// A name with no character but blanks (the editor drops trailing blanks,
// so it comes back empty) names no object: refused in both editors.
TEST_F(Browser, NewObjectsAndRenamesRefuseEmptyNames)
{
    const u32 zero = obj_create("0");
    show(0);
    const std::vector<u32> before = ids();
    run({
        MOD_RIGHT, KEY_ENTER, KEY_ENTER,                      // new object, nothing entered: refused
        KEY_DOWN, MOD_RIGHT, KEY_DOWN, KEY_ENTER, KEY_ENTER,  // "0" renamed to a blank: refused
    });
    EXPECT_TRUE(box_seen(ATTENTION, {"Имя объекта не задано !"_cp}));
    EXPECT_TRUE(box_seen(ERROR, {"Имя объекта не задано !"_cp}));
    EXPECT_EQ(ids(), before);
    EXPECT_EQ(name_at(dir_find_id(zero)), "0");
    EXPECT_EQ(name_at(dir_find_id(object)), "Объект"_cp);
}

TEST_F(Browser, ModEnterMakesTheObjectCurrentAndOpensIt)
{
    const u32 other = obj_create("Насос"_cp);
    measure(other);
    dir_flags_clear_all(DIR_FLAG_EXPANDED);
    show(other);
    run({MOD_ENTER});
    EXPECT_EQ(settings_current_object(), other);
    EXPECT_EQ(stored_current_object(), other);
    EXPECT_NE(dir_flags(dir_find_id(other)) & DIR_FLAG_EXPANDED, 0);
    EXPECT_TRUE(archive_current_frame(shots.back(), 1, 1, 5));
}

// The items of a pop-up menu at (x, y), item `sel` highlighted.
bool popup_shows(const std::vector<u16>& px, int x, int y, std::vector<const char*> items, size_t sel)
{
    for (size_t i = 0; i < items.size(); ++i) {
        const bool on = i == sel;
        if (!region_has_text(px, x + 4, y + 2 + 20 * static_cast<int>(i) + 2, items[i], 4, 0, on ? TREE_BACKGROUND : 16,
                             on ? 16 : TREE_BACKGROUND))
            return false;
    }
    return true;
}

TEST_F(Browser, PopUpMenusOfEachLineInTheirPlaces)
{
    const u32 m = measure(object);
    show(m);  // row 2, level 2
    run({KEY_ENTER, KEY_DOWN, KEY_DOWN, KEY_UP, KEY_ESC, KEY_UP, KEY_ENTER, KEY_ESC, KEY_UP, KEY_ENTER, KEY_ESC});
    const std::vector<const char*> meas = {" Просмотр замера  І     "_cp, " Удалить замер    Mod+і "_cp};
    // Level 2 would reach past x 312: moved left, 24 characters + 8 wide.
    EXPECT_TRUE(popup_shows(shots[1], 320 - 8 - 200, archive_row_y(2) + 6, meas, 0));
    EXPECT_TRUE(popup_shows(shots[2], 112, archive_row_y(2) + 6, meas, 1));
    EXPECT_TRUE(popup_shows(shots[3], 112, archive_row_y(2) + 6, meas, 0));  // wraps
    EXPECT_TRUE(popup_shows(shots[4], 112, archive_row_y(2) + 6, meas, 1));  // wraps back
    EXPECT_TRUE(same_below_title(shots[5], shots[0]));                       // Esc: the screen as it was
    EXPECT_TRUE(popup_shows(shots[7], 48 + 32, archive_row_y(1) + 6,
                            {" Выбрать объект     Mod+Ent"_cp, " Удалить объект     Mod+і  "_cp,
                             " Удалить только замеры     "_cp, " Исправить наимен.  Mod+І  "_cp},
                            0));
    EXPECT_TRUE(
        popup_shows(shots[10], 32, archive_row_y(0) + 6, {" Новый объект  Mod+І "_cp, " Удалить все   Mod+і "_cp}, 0));
    EXPECT_EQ(dir_count(), 2u);  // nothing chosen
}

TEST_F(Browser, PopUpMenuItemsDoWhatTheirKeysDo)
{
    const u32 other = obj_create("Насос"_cp);
    const u32 keep = measure(object), gone1 = measure(other), gone2 = measure(other);
    show(other);
    // Object menu: delete only the measurements.
    run({KEY_ENTER, KEY_DOWN, KEY_DOWN, KEY_ENTER, KEY_ENTER});
    EXPECT_TRUE(box_seen(ATTENTION, {"Вы действительно хотите"_cp, "удалить данные ?"_cp}));
    EXPECT_EQ(ids(), (std::vector<u32>{other, object, keep}));
    // Object menu: make current; root menu: new object (cancelled).
    run({KEY_ENTER, KEY_ENTER, KEY_UP, KEY_ENTER, KEY_ENTER, KEY_ESC});
    EXPECT_EQ(settings_current_object(), other);
    EXPECT_EQ(dir_count(), 3u);
    // Measurement menu: delete it.
    show(keep);
    run({KEY_ENTER, KEY_DOWN, KEY_ENTER, KEY_ENTER});
    EXPECT_EQ(ids(), (std::vector<u32>{other, object}));
    (void)gone1;
    (void)gone2;
}

// Route points let go of the measurements the browser deletes before they
// go, in the route files and in the route in use: a freed id may name a
// later file, which no point may then take for its own.
TEST_F(Browser, DeletionsLetRoutePointsGoOfTheirMeasurementsFirst)
{
    struct Case {
        const char* what;
        bool on_object;
        std::vector<u32> keys;
        bool b_goes;  // a always goes
    };
    const Case cases[] = {
        {"the measurement", false, {MOD_LEFT, KEY_ENTER}, false},
        {"the object's measurements only", true, {KEY_ENTER, KEY_DOWN, KEY_DOWN, KEY_ENTER, KEY_ENTER}, true},
        {"the object", true, {MOD_LEFT, KEY_ENTER}, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // A route of its own name for each case, with its object and two
        // measurements: the route in use links both, a second copy one.
        const std::string name = "Линия "_cp + std::to_string(++n);
        const u32 file = route_make_test();
        ASSERT_EQ(route_load(file, &route_current), file);
        std::strcpy(route_current.header.name, name.c_str());
        std::strcpy(route_current.items[0].name, name.c_str());
        const u32 into = obj_create(name.c_str());
        ASSERT_NE(into, 0u);
        const u32 a = measure(into, 1.0f, MEAS_KIND_SIGNAL), b = measure(into, 2.0f, MEAS_KIND_SPECTRUM);
        for (const auto& [item, id] : {std::pair{3, a}, std::pair{5, b}}) {
            route_current.items[item].state = ROUTE_STATE_MEASURED;
            route_current.items[item].measurement = static_cast<i32>(id);
        }
        ASSERT_EQ(route_save(file, &route_current), file);
        std::memcpy(&route_other, &route_current, sizeof route_other);
        route_other.items[3].state = ROUTE_STATE_NOT_MEASURED;
        route_other.items[3].measurement = ROUTE_NO_MEASUREMENT;
        const u32 copy = route_save(0, &route_other);
        ASSERT_NE(copy, 0u);

        show(c.on_object ? into : a);
        run(c.keys);
        ASSERT_LT(dir_find_id(a), 0);
        ASSERT_EQ(dir_find_id(b) < 0, c.b_goes);
        const auto linked = [](const RouteItem& it, u32 id) {
            return it.state == ROUTE_STATE_MEASURED && it.measurement == static_cast<i32>(id);
        };
        const auto unlinked = [](const RouteItem& it) {
            return it.state == ROUTE_STATE_NOT_MEASURED && it.measurement == ROUTE_NO_MEASUREMENT;
        };
        EXPECT_TRUE(unlinked(route_current.items[3]));
        EXPECT_EQ(unlinked(route_current.items[5]), c.b_goes);
        ASSERT_EQ(route_load(file, &route_other), file);
        EXPECT_TRUE(unlinked(route_other.items[3]));
        EXPECT_TRUE(c.b_goes ? unlinked(route_other.items[5]) : linked(route_other.items[5], b));
        ASSERT_EQ(route_load(copy, &route_other), copy);
        EXPECT_TRUE(c.b_goes ? unlinked(route_other.items[5]) : linked(route_other.items[5], b));
    }
}

TEST_F(Browser, MeasurementLinesWithoutIconActAsMeasurements)
{
    const u32 shock = measure(object, 1.0f, MEAS_KIND_SHOCK_SPECTRUM);
    show(shock);
    run({MOD_LEFT, KEY_ESC, KEY_LEFT});
    // Mod+Left asked to delete the measurement, not to clear the archive.
    EXPECT_TRUE(box_seen(ATTENTION, {"Вы действительно хотите"_cp, "удалить замер ?"_cp}));
    EXPECT_FALSE(box_seen(ATTENTION, {"Удалить все объекты,"_cp, "замеры и маршруты прибора ?"_cp}));
    // Left climbed to the object instead of closing every object.
    EXPECT_EQ(cursor().index, 0);
    EXPECT_NE(dir_flags(0) & DIR_FLAG_EXPANDED, 0);
    EXPECT_EQ(dir_count(), 2u);
}

TEST_F(Browser, VoiceNoteIsPlayedWhenTheCursorComesOntoItsMeasurement)
{
    const u32 with_note = measure(object, 1.0f);
    // Record a note as the saved dialog does (Down, Down, Enter).
    script_keys(scope.host, {KEY_DOWN, KEY_DOWN, KEY_ENTER});
    FileHandle h{};
    h.first = with_note;
    meas_saved_dialog("", &h);
    scope.host.set_on_pump(nullptr);
    const u32 without = measure(object, 2.0f);
    show(without);  // rows: root, object, without, with_note
    snd_reset();
    std::memset(snd_playback, 0, sizeof snd_playback);
    run({KEY_UP});  // onto the object: nothing to play
    EXPECT_EQ(snd_loaded, 0);
    run({KEY_DOWN, KEY_DOWN});  // onto the plain one, then the one with the note
    EXPECT_EQ(snd_loaded, 1);
    EXPECT_EQ(snd_samples, 1000u);
    const u16 sample = static_cast<u16>(with_note) & 0xFFFE;
    for (u32 i = 0; i < 1000; ++i) ASSERT_EQ(snd_playback[i][0], sample) << i;
    EXPECT_EQ(snd_playback[1000][0], 0);
    EXPECT_EQ(snd_playing, 0);  // stopped on leaving
    // Back onto the plain one: nothing loaded.
    snd_reset();
    run({KEY_UP});
    EXPECT_EQ(snd_loaded, 0);
}

TEST_F(Browser, ErrorBitsSetDuringTheVisitAreClearedOnLeaving)
{
    // An object whose record no longer checks: reading its name fails.
    const u32 bad = obj_create("Насос"_cp);
    image.flash->write_byte(flash_offset(bad, 0), 'X');
    storage_error_flags = STORAGE_ERR_WRITE | STORAGE_ERR_MEAS_HEADER;
    u32 during = 0;
    run({IDLE}, [&](size_t) { during = storage_error_flags; });
    EXPECT_EQ(during, STORAGE_ERR_MEAS_HEADER | STORAGE_ERR_READ);  // write bit cleared on entry
    EXPECT_EQ(storage_error_flags, STORAGE_ERR_MEAS_HEADER);
}

TEST_F(Browser, FailedDeletesPutTheCursorBackAndSaySo)
{
    const u32 m1 = measure(object), m2 = measure(object);
    // m1's head no longer reads as a head: it cannot be deleted.
    image.flash->write_byte(flash_offset(m1, 2049), 0x00);
    PageHeader ph;
    fs_read_header(m1, &ph);
    show(m1);  // row 3
    run({MOD_LEFT, KEY_ENTER, KEY_ENTER});
    EXPECT_TRUE(box_seen(ERROR, {"Не могу удалить"_cp, "указанный замер !"_cp}));
    EXPECT_EQ(ids(), (std::vector<u32>{object, m2, m1}));
    EXPECT_EQ(cursor().index, 2);
    EXPECT_EQ(cursor_row(), 3);
    // The object: m2 goes, m1 and the object stay; the cursor back on it.
    show(object);
    run({MOD_LEFT, KEY_ENTER, KEY_ENTER});
    EXPECT_TRUE(box_seen(ERROR, {"Не могу удалить"_cp, "указанный объект !"_cp}));
    EXPECT_EQ(ids(), (std::vector<u32>{object, m1}));
    EXPECT_EQ(cursor().index, 0);
    EXPECT_EQ(cursor_row(), 1);
    EXPECT_EQ(settings_current_object(), object);
}

TEST_F(Browser, EntriesAddedMeanwhileRedrawTheTreeWithTheCursorKept)
{
    const u32 m = measure(object);
    show(m);
    u32 added = 0;
    run({IDLE, IDLE}, [&](size_t i) {
        if (i == 1) added = obj_create("Насос"_cp);  // sorts before "Объект"
    });
    ASSERT_NE(added, 0u);
    EXPECT_EQ(cursor().index, dir_find_id(m));
    EXPECT_TRUE(archive_row_shows(shots[2], 1, 1, "Насос"_cp, false));
    EXPECT_TRUE(archive_row_shows(shots[2], 2, 1, "Объект"_cp, false));
    EXPECT_TRUE(archive_row_shows(shots[2], 3, 2, label(m).c_str(), true));
}

TEST_F(Browser, PowerOffInADialogChangesNothing)
{
    const u32 m = measure(object);
    const std::vector<u32> before = ids();
    const std::vector<std::vector<u32>> scripts = {
        {MOD_LEFT, IDLE},                           // delete measurement box
        {KEY_UP, MOD_LEFT, IDLE},                   // delete object box
        {KEY_UP, KEY_UP, MOD_LEFT, IDLE},           // clear archive box
        {KEY_UP, KEY_UP, MOD_RIGHT, KEY_UP, IDLE},  // new object editor
        {KEY_UP, MOD_RIGHT, KEY_UP, IDLE},          // rename editor
    };
    for (const auto& keys : scripts) {
        show(m);
        power_off_flag = 0;
        run(keys, [&](size_t i) {
            if (i + 1 == keys.size()) power_off_flag = 1;
        });
        EXPECT_EQ(ids(), before);
        EXPECT_EQ(name_at(0), "Объект"_cp);
    }
    power_off_flag = 0;
    image.remount();
    EXPECT_EQ(ids(), before);
}

TEST_F(Browser, DeletingWhileTheFlashIsFullKeepsEverythingElse)
{
    const u32 m1 = measure(object, 1.0f), m2 = measure(object, 2.0f);
    // Routes taking the space left (a file holds at most 65535 pages).
    std::vector<u32> routes;
    while (fs_free_bytes() > 0) {
        FileHandle h;
        const u32 bytes = std::min<u32>(fs_free_bytes(), 60000u * 2048u);
        ASSERT_EQ(fs_create(&h, FILE_TYPE_ROUTE, 0, 0, bytes, nullptr), FS_OK);
        ASSERT_EQ(fs_close(&h), FS_OK);
        const u32 id = h.first;  // a packed field
        ASSERT_EQ(dir_append(id, 1, 0, FILE_TYPE_ROUTE, 0), DIR_OK);
        routes.push_back(id);
    }
    FileHandle none;
    ASSERT_NE(fs_create(&none, FILE_TYPE_ROUTE, 0, 0, 1, nullptr), FS_OK);
    const std::string kept = label(m1);
    show(m2);
    run({MOD_LEFT, KEY_ENTER});
    std::vector<u32> rest = {object, m1};
    rest.insert(rest.end(), routes.begin(), routes.end());
    EXPECT_EQ(ids(), rest);
    image.remount();
    std::vector<u32> mounted = ids();
    std::sort(mounted.begin(), mounted.end());
    std::sort(rest.begin(), rest.end());
    EXPECT_EQ(mounted, rest);
    EXPECT_EQ(label(m1), kept);
    RmsTableRecord r;
    MeasSection s{&r, sizeof r, 0};
    EXPECT_GT(meas_read(m1, nullptr, &s, nullptr, nullptr, true), 0u);
}

TEST_F(Browser, ClearingCutOffByAPowerLossLeavesAMountableArchive)
{
    measure(object);
    settings.volume = 70;
    settings_save();
    const u32 saved_object = settings.current_object;
    show(0);
    nand_cut_power_at(nand_writes_made() + 5000);  // in the middle of the erase
    testing::internal::CaptureStdout();
    run({MOD_LEFT, KEY_ENTER});
    testing::internal::GetCapturedStdout();
    nand_restore_power();
    // The settings in the parameter memory are untouched.
    SettingsBlock stored;
    fram_read(SETTINGS_OFFSET, &stored, SETTINGS_SIZE);
    EXPECT_EQ(stored.volume, 70u);
    EXPECT_EQ(stored.current_object, saved_object);
    // The next start: the archive mounts, every listed file opens or is
    // refused cleanly, and there is a current object to save into.
    system_reset();
    ASSERT_EQ(fs_init(), FS_OK);
    ASSERT_EQ(fs_mount(), FS_OK);
    for (u32 i = 0; i < dir_count(); ++i) {
        FileHandle f;
        if (fs_open(&f, dir_id(static_cast<int>(i)), FS_READ) == FS_OK) fs_close(&f);
    }
    EXPECT_NE(obj_after_mount(), OBJ_FAILED);
    EXPECT_GE(dir_find_id(settings_current_object()), 0);
}

// Through the headless runner.

const std::string CLOCK = "2026-12-10T12:00:00";

RunResult run_keys(const TempDir& dir, const std::string& keys, const std::string& script = "")
{
    std::vector<std::string> args = {"--data", dir.path(), "--clock", CLOCK, "--seed", "1", "--keys", keys};
    if (!script.empty()) args.push_back(script);
    return run_runner(args);
}

TEST(BrowserRunner, FreshArchiveShowsTheRootAndTheCurrentObjectWithItsFrame)
{
    TempDir dir;
    // Main menu: Down, Right to "Просмотр замеров".
    const auto r = run_keys(dir, "wait 1500; down; right; enter; wait 300; shot " + dir.file("fresh.png"));
    ASSERT_EQ(r.status, 0) << r.output;
    const auto px = load_screenshot(dir.file("fresh.png"));
    EXPECT_TRUE(archive_row_shows(px, 0, 0, "Tarvik-2", false, false));
    EXPECT_TRUE(archive_row_shows(px, 1, 1, "Объект"_cp, true));
    EXPECT_TRUE(archive_current_frame(px, 1, 1, 6));
}

// The committed script: a vibrometer reading saved, back to the main menu,
// the browser opened on it; then the measurement opened.
TEST(BrowserRunner, ScriptSavesAReadingAndTheBrowserShowsAndOpensIt)
{
    TempDir dir;
    const std::string script = std::string(TARVIK2_SOURCE_DIR) + "/tests/scripts/archive_browser.txt";
    const auto r =
        run_keys(dir, "shot " + dir.file("tree.png") + "; right; wait 500; shot " + dir.file("view.png"), script);
    ASSERT_EQ(r.status, 0) << r.output;
    const auto tree = load_screenshot(dir.file("tree.png"));
    EXPECT_TRUE(archive_row_shows(tree, 0, 0, "Tarvik-2", false, false));
    EXPECT_TRUE(archive_row_shows(tree, 1, 1, "Объект"_cp, false));
    EXPECT_TRUE(archive_current_frame(tree, 1, 1, 6));

    // The saved measurement's label, selected under the open object.
    FlashFile flash(dir.file("flash.dat"));
    ASSERT_EQ(fs_init(), FS_OK);
    ASSERT_EQ(fs_mount(), FS_OK);
    ASSERT_EQ(dir_count(), 2u);
    char label[MEAS_LABEL_SIZE];
    meas_label(1, label);
    EXPECT_EQ(std::string(label).substr(6, 5), "#001 ");
    EXPECT_TRUE(archive_row_shows(tree, 2, 2, label, true));

    // Opened: the vibrometer's view of the stored velocity (its caption),
    // digits in the big digits' box (the same digits as when it was saved:
    // SavedReadingOpensWithTheSameDigits).
    const auto view = load_screenshot(dir.file("view.png"));
    images_unpack_all();
    const u16* caption = image_set[IMG_CAPTION_VELOCITY];  // at (7, 76); the run mark covers x 44 on
    const int cw = static_cast<int>(image_width(caption)), ch = static_cast<int>(image_height(caption));
    for (int j = 0; j < ch; ++j)
        for (int i = 0; i < 44 - 7; ++i) ASSERT_EQ(view[(76 + j) * LCD_WIDTH + 7 + i], caption[4 + j * cw + i]) << i;
    int lit = 0;
    for (int y = 68; y < 144; ++y)
        for (int x = 87; x < 271; ++x) lit += view[y * LCD_WIDTH + x] != view[68 * LCD_WIDTH + 87];
    EXPECT_GT(lit, 500);
}

// A reading saved in the vibrometer and opened from the browser shows the
// same digits.
TEST(BrowserRunner, SavedReadingOpensWithTheSameDigits)
{
    TempDir dir;
    const auto r =
        run_keys(dir, "wait 1500; enter; wait 300; enter; wait 3000; enter; wait 300; shot " + dir.file("live.png") +
                          "; shift+enter; wait 300; enter; wait 300; esc; wait 300; down; right; enter; "
                          "wait 500; right; wait 500; shot " +
                          dir.file("view.png"));
    ASSERT_EQ(r.status, 0) << r.output;
    const auto live = load_screenshot(dir.file("live.png")), view = load_screenshot(dir.file("view.png"));
    ASSERT_FALSE(live.empty());
    ASSERT_FALSE(view.empty());
    // The big digits (x 87..270, y 68..143) and the temperature (x 80..160,
    // y 25..63).
    int differing = 0, digits = 0;
    for (int y = 68; y < 144; ++y)
        for (int x = 87; x < 271; ++x) {
            differing += live[y * LCD_WIDTH + x] != view[y * LCD_WIDTH + x];
            digits += live[y * LCD_WIDTH + x] != live[68 * LCD_WIDTH + 87];
        }
    EXPECT_EQ(differing, 0);
    EXPECT_GT(digits, 500);  // there are digits to compare
    for (int y = 25; y < 64; ++y)
        for (int x = 80; x < 161; ++x) ASSERT_EQ(live[y * LCD_WIDTH + x], view[y * LCD_WIDTH + x]) << x << "," << y;
}

}  // namespace
