// Routes: the stored layout of the demonstration route, finding and loading
// routes, damaged route files, rewriting a point's state, links to the
// archive, the tree model, the walk to the next point still to measure, the
// counts of a subtree, clearing and deleting routes, waiting for the
// archive, and power cuts while a point is saved.
#include <gtest/gtest.h>

#include <cstdio>
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
#include "base/stamp.h"
#include "data/images.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "gfx/tree_view.h"
#include "host/settings.h"
#include "screens/archive_tree.h"
#include "screens/browser.h"
#include "screens/route_tree.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "storage/nand.h"
#include "tests/support/flash_image.h"
#include "tests/support/support.h"

namespace {

constexpr u32 HEADER = ROUTE_HEADER_SIZE, ITEM = ROUTE_ITEM_SIZE;

u32 u32_at(const std::vector<u8>& b, size_t at)
{
    u32 v;
    std::memcpy(&v, b.data() + at, sizeof v);
    return v;
}
i32 i32_at(const std::vector<u8>& b, size_t at)
{
    return static_cast<i32>(u32_at(b, at));
}
void put_u32(std::vector<u8>& b, size_t at, u32 v)
{
    std::memcpy(b.data() + at, &v, sizeof v);
}
void put_u16(std::vector<u8>& b, size_t at, u16 v)
{
    std::memcpy(b.data() + at, &v, sizeof v);
}
size_t item_at(u32 i)
{
    return HEADER + ITEM * i;
}
// Stores the header checksum the way the files are checked.
void seal_header(std::vector<u8>& b)
{
    put_u16(b, 138, reference_checksum(b.data(), HEADER, 138));
}

// The bytes of file `id` from offset 0 (as many as it holds of `n`).
std::vector<u8> file_bytes(u32 id, u32 n)
{
    FileHandle h{};
    std::vector<u8> v(n);
    if (fs_open(&h, id, FS_READ) != FS_OK) return {};
    v.resize(fs_read(&h, v.data(), 0, n));
    return v;
}

// A route file made of raw bytes, registered as the instrument does.
u32 store_raw(const std::vector<u8>& bytes)
{
    FileHandle h{};
    const u32 size = static_cast<u32>(bytes.size());
    EXPECT_EQ(fs_create(&h, FILE_TYPE_ROUTE, 0, 0, size), FS_OK);
    if (size != 0) {
        EXPECT_EQ(fs_write(&h, bytes.data(), 0, size), size);
    }
    fs_close(&h);
    EXPECT_EQ(dir_append(h.first, h.stamp, 0, FILE_TYPE_ROUTE, 0), DIR_OK);
    return h.first;
}

// A signal (kind 0) or spectrum (kind 1) measurement of the current object
// at `stamp` (0: now).
u32 measurement(u32 kind = MEAS_KIND_SIGNAL, u32 stamp = 0)
{
    SpectraRecord r{};
    r.type = 1;
    r.kind = kind;
    const u32 id = meas_save(kind, stamp, &r, sizeof r, nullptr, 0, nullptr, 0, true);
    EXPECT_NE(id, 0u);
    return id;
}

int route_count_in_directory()
{
    int n = 0;
    for (u32 i = 0; i < dir_count(); ++i) n += dir_type(static_cast<int>(i)) == FILE_TYPE_ROUTE;
    return n;
}

class Routes : public ::testing::Test {
protected:
    VirtualHostScope scope;  // first: its reset comes before the mount
    MountedFlash image;
    u32 object = 0;        // "Объект"
    u32 route_object = 0;  // the route's, made by test_route()

    void SetUp() override
    {
        images_unpack_all();
        archive_state = ARCHIVE_MOUNTED;
        ASSERT_EQ(obj_after_mount(), OBJ_CHOSEN);
        object = settings_current_object();
        font_select(4);
    }

    // The demonstration route stored and loaded as the current route; its
    // object (named after it) becomes the current object, into which
    // measurement() saves, as the route screen saves a point.
    u32 test_route()
    {
        const u32 file = route_make_test();
        EXPECT_NE(file, 0u);
        EXPECT_EQ(route_load(file, &route_current), file);
        route_object = obj_find_by_name(ROUTE_TEST_NAME);
        if (route_object == 0) route_object = obj_create(ROUTE_TEST_NAME);
        EXPECT_EQ(obj_select(route_object), OBJ_OK);
        return file;
    }
    // Its bytes as stored.
    static std::vector<u8> test_route_bytes()
    {
        const u32 file = route_make_test();
        return file_bytes(file, HEADER + ITEM * ROUTE_TEST_ITEMS);
    }

    // The items of the lines of the current route in display order.
    static std::vector<int> lines()
    {
        TreeView view;
        tree_init(&view, 1, 22, 318, 123, route_tree_root);
        std::vector<int> out;
        TreeNode n = view.root;
        out.push_back(n.index);
        while (out.size() <= ROUTE_MAX_ITEMS + 1 && tree_next_visible(&view, &n)) out.push_back(n.index);
        return out;
    }

    static void measure(int i, u32 id)
    {
        route_current.items[i].state = ROUTE_STATE_MEASURED;
        route_current.items[i].measurement = static_cast<i32>(id);
    }
};

// The demonstration route's rows: name, level, parent, node kind, expanded,
// then the point's type, spectrum, quantity, lines, fmin, fmax, averages.
struct TestRow {
    const char* name;
    u32 level;
    i32 parent;
    u32 kind, expanded;
    u32 type, spectrum, quantity;
    i32 lines, fmin, fmax, averages;
};
const TestRow TEST_ROWS[ROUTE_TEST_ITEMS] = {
    {"Маршрут 1"_cp, 0, -1, 2, 1, 0, 0, 0, 0, 0, 0, 0}, {"Цех"_cp, 1, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0},
    {"Н-528"_cp, 2, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0},      {"1В"_cp, 3, 2, 0, 0, 1, 0, 1, 1600, 10, 400, 1},
    {"1П"_cp, 3, 2, 0, 0, 2, 0, 1, 400, 10, 4000, 1},   {"1О"_cp, 3, 2, 0, 0, 3, 1, 2, 1600, 10, 4000, 4},
    {"Н-529"_cp, 2, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0},      {"1В"_cp, 3, 6, 0, 0, 1, 0, 1, 1600, 10, 400, 1},
    {"ТЭЦ-9"_cp, 1, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0},      {"Насос-12"_cp, 2, 8, 1, 0, 0, 0, 0, 0, 0, 0, 0},
    {"1В"_cp, 3, 9, 0, 0, 1, 0, 1, 400, 10, 1000, 1},   {"2В"_cp, 3, 9, 0, 0, 1, 0, 1, 400, 10, 1000, 1},
};

TEST_F(Routes, TestRouteIsStoredByteForByteAsLaidOut)
{
    const u32 file = route_make_test();
    ASSERT_NE(file, 0u);
    const int at = dir_find_id(file);
    ASSERT_GE(at, 0);
    EXPECT_EQ(dir_type(at), FILE_TYPE_ROUTE);
    EXPECT_EQ(dir_parent(at), 0u);
    FileHandle h{};
    ASSERT_EQ(fs_open(&h, file, FS_READ), FS_OK);
    const u32 size = HEADER + ITEM * ROUTE_TEST_ITEMS;
    const u32 pages = h.pages;
    EXPECT_EQ(pages, 1u + (size - 1) / 2048);  // created with the route's size

    const std::vector<u8> b = file_bytes(file, size);
    ASSERT_EQ(b.size(), size);
    EXPECT_EQ(u32_at(b, 0), 512u);
    EXPECT_STREQ(reinterpret_cast<const char*>(b.data() + 4), "Маршрут 1"_cp);
    EXPECT_EQ(u32_at(b, 68), 12u);
    for (size_t k = 72; k < 138; ++k) EXPECT_EQ(b[k], 0) << "reserved header byte " << k;
    u16 checksum;
    std::memcpy(&checksum, b.data() + 138, 2);
    EXPECT_EQ(checksum, reference_checksum(b.data(), HEADER, 138));

    for (u32 i = 0; i < ROUTE_TEST_ITEMS; ++i) {
        SCOPED_TRACE("item " + std::to_string(i));
        const TestRow& r = TEST_ROWS[i];
        const size_t o = item_at(i);
        EXPECT_EQ(i32_at(b, o + 0), -2);
        EXPECT_EQ(i32_at(b, o + 4), -1);
        EXPECT_STREQ(reinterpret_cast<const char*>(b.data() + o + 8), r.name);
        EXPECT_EQ(u32_at(b, o + 72), r.type);
        EXPECT_EQ(u32_at(b, o + 76), r.spectrum);
        EXPECT_EQ(u32_at(b, o + 80), r.quantity);
        EXPECT_EQ(i32_at(b, o + 88), r.lines);
        EXPECT_EQ(i32_at(b, o + 92), r.fmin);
        EXPECT_EQ(i32_at(b, o + 96), r.fmax);
        EXPECT_EQ(i32_at(b, o + 100), r.averages);
        EXPECT_EQ(u32_at(b, o + 108), r.level);
        EXPECT_EQ(i32_at(b, o + 112), r.parent);
        EXPECT_EQ(u32_at(b, o + 116), r.kind);
        EXPECT_EQ(u32_at(b, o + 120), r.expanded);
        std::memcpy(&checksum, b.data() + o + 158, 2);
        EXPECT_EQ(checksum, reference_checksum(b.data() + o, ITEM, 158));
    }
}

TEST_F(Routes, SavedRouteIsFoundAndLoadsAfterTheNextMount)
{
    const u32 file = route_make_test();
    ASSERT_NE(file, 0u);
    image.remount();
    ASSERT_EQ(route_find(ROUTE_TEST_NAME), file);
    ASSERT_EQ(route_load(file, &route_current), file);
    EXPECT_EQ(route_current_file(), file);
    EXPECT_EQ(route_current.header.count, ROUTE_TEST_ITEMS);
    EXPECT_EQ(std::memcmp(&route_current, &route_other, HEADER + ITEM * ROUTE_TEST_ITEMS), 0);
    // Slots past the route are empty.
    EXPECT_EQ(route_current.items[ROUTE_TEST_ITEMS].state, ROUTE_STATE_EMPTY);
    EXPECT_EQ(route_current.items[ROUTE_MAX_ITEMS - 1].measurement, ROUTE_NO_MEASUREMENT);
    // The second buffer does not change the current file.
    ASSERT_EQ(route_load(file, &route_other), file);
    EXPECT_EQ(route_current_file(), file);
}

TEST_F(Routes, FindReturnsTheFirstSoundRouteOfThatNameInArchiveOrder)
{
    std::vector<u8> bytes = test_route_bytes();
    ASSERT_EQ(dir_count(), 2u);
    // Same name, but a wrong checksum, then a wrong format.
    std::vector<u8> bad_sum = bytes;
    bad_sum[138] ^= 1;
    std::vector<u8> bad_format = bytes;
    put_u32(bad_format, 0, 511);
    seal_header(bad_format);
    // Ahead of everything: the damaged ones come first in archive order.
    ASSERT_EQ(dir_delete(1), FS_OK);
    const u32 sum_file = store_raw(bad_sum);
    const u32 format_file = store_raw(bad_format);
    std::vector<u8> other = bytes;
    std::memset(other.data() + 4, 0, 64);
    std::strcpy(reinterpret_cast<char*>(other.data() + 4), "Маршрут 2"_cp);
    seal_header(other);
    const u32 other_file = store_raw(other);
    const u32 first = store_raw(bytes);
    const u32 second = store_raw(bytes);
    ASSERT_NE(first, second);

    EXPECT_EQ(route_find(ROUTE_TEST_NAME), first);
    EXPECT_EQ(route_find("Маршрут 2"_cp), other_file);
    EXPECT_EQ(route_find("Маршрут"_cp), 0u) << "a prefix is no match";
    EXPECT_EQ(route_find("Маршрут 11"_cp), 0u);
    EXPECT_EQ(route_find(""), 0u);
    EXPECT_EQ(route_load(sum_file, &route_other), 0u);
    EXPECT_EQ(route_load(format_file, &route_other), 0u);
    // The second of the same name is still a route of its own.
    EXPECT_EQ(route_load(second, &route_other), second);
}

// A damaged route: what is done to the demonstration route's bytes, and
// whether the route still loads.
struct Damage {
    const char* what;
    std::function<void(std::vector<u8>&)> change;
    bool loads;
};

TEST_F(Routes, DamagedRouteFilesAreRefusedOrShownWithoutAFault)
{
    const std::vector<u8> good = test_route_bytes();
    auto item_field = [](u32 i, size_t field, u32 v) {
        return [=](std::vector<u8>& b) { put_u32(b, item_at(i) + field, v); };
    };
    auto header = [](std::function<void(std::vector<u8>&)> f) {
        return [=](std::vector<u8>& b) {
            f(b);
            seal_header(b);
        };
    };
    const std::vector<Damage> cases = {
        {"the demonstration route as made", [](std::vector<u8>&) {}, true},
        {"header checksum wrong", [](std::vector<u8>& b) { b[100] ^= 0x40; }, false},
        {"format 0", header([](std::vector<u8>& b) { put_u32(b, 0, 0); }), false},
        {"count 0", header([](std::vector<u8>& b) { put_u32(b, 68, 0); }), false},
        {"count 1025", header([](std::vector<u8>& b) { put_u32(b, 68, 1025); }), false},
        {"count 0xFFFFFFFF", header([](std::vector<u8>& b) { put_u32(b, 68, 0xFFFFFFFF); }), false},
        {"count beyond the file's length", header([](std::vector<u8>& b) { put_u32(b, 68, 30); }), false},
        {"file shorter than its header", [](std::vector<u8>& b) { b.resize(100); }, false},
        {"items cut short", [](std::vector<u8>& b) { b.resize(item_at(11) + 80); }, false},
        {"a parent pointing at itself", item_field(4, 112, 4), false},
        {"a parent pointing forwards", item_field(3, 112, 5), false},
        {"a parent before the route", item_field(5, 112, static_cast<u32>(-7)), false},
        {"a parent outside the route", item_field(7, 112, 5000), false},
        {"a level that does not match the parent", item_field(4, 108, 2), false},
        {"a huge level", item_field(11, 108, 0x80000000u), false},
        {"route item with a parent", item_field(0, 112, 0), false},
        {"route item below level 0", item_field(0, 108, 1), false},
        {"route item ignored", item_field(0, 0, static_cast<u32>(-1)), false},
        {"a subtree split: 1П moved under Цех between the points of Н-528",
         [&](std::vector<u8>& b) {
             put_u32(b, item_at(4) + 112, 1);
             put_u32(b, item_at(4) + 108, 2);
         },
         false},
        {"names without a terminating NUL", header([](std::vector<u8>& b) {
             std::memset(b.data() + 4, 'A', 64);
             for (u32 i = 0; i < ROUTE_TEST_ITEMS; ++i) std::memset(b.data() + item_at(i) + 8, 'B', 64);
         }),
         true},
        {"an ignored machine with its points", item_field(6, 0, static_cast<u32>(-1)), true},
        {"an ignored point", item_field(4, 0, static_cast<u32>(-3)), true},
        {"empty slots in the middle", item_field(10, 0, static_cast<u32>(-1)), true},
        {"a point that says it has children", item_field(3, 116, 1), true},
        {"a group that says it is a point", item_field(9, 116, 0), true},
        {"a point measured with a link to nowhere",
         [](std::vector<u8>& b) {
             put_u32(b, item_at(3), static_cast<u32>(-4));
             put_u32(b, item_at(3) + 4, 99999);
         },
         true},
        {"a point measured with a link to the route itself",
         [](std::vector<u8>& b) {
             put_u32(b, item_at(3), static_cast<u32>(-4));
             put_u32(b, item_at(3) + 4, 0);  // filled in below: the file's own id
         },
         true},
        {"settings out of range", item_field(3, 96, 0), true},
        {"bad item checksums (not checked)", [](std::vector<u8>& b) { b[item_at(5) + 158] ^= 0xFF; }, true},
    };
    for (const Damage& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<u8> bytes = good;
        c.change(bytes);
        const u32 file = store_raw(bytes);
        if (std::string(c.what).find("the route itself") != std::string::npos) {
            route_load(file, &route_other);
            route_other.items[3].measurement = static_cast<i32>(file);
            route_other.items[3].state = ROUTE_STATE_MEASURED;
            ASSERT_EQ(route_save(file, &route_other), file);
        }
        const u32 loaded = route_load(file, &route_current);
        EXPECT_EQ(loaded != 0, c.loads);
        // The same bytes without the archive, by the same rules.
        const std::vector<u8> stored = file_bytes(file, static_cast<u32>(bytes.size()));
        EXPECT_EQ(route_from_bytes(stored.data(), stored.size(), &route_other), c.loads);
        if (c.loads) {
            EXPECT_EQ(std::memcmp(&route_other, &route_current, sizeof route_other), 0);
        } else {
            EXPECT_EQ(route_other.header.count, 0u);
        }
        if (!loaded) {
            EXPECT_EQ(route_current.header.count, 0u) << "a refused route leaves an empty buffer";
            continue;
        }
        // Shown without a fault: every line reached, drawn, paged through;
        // texts end inside the route; every walk of the screen ends.
        const std::vector<int> shown = lines();
        EXPECT_LE(shown.size(), route_current.header.count);
        TreeView view;
        tree_init(&view, 1, 22, 318, 123, route_tree_root);
        view.page_down_key = 133;
        for (size_t k = 0; k <= shown.size(); ++k) {
            tree_draw(&view);
            u32 key = 5;  // Down
            bool redraw = false;
            tree_key(&view, &key, &redraw);
        }
        for (u32 i = 0; i < route_current.header.count; ++i) {
            const int at = static_cast<int>(i);
            EXPECT_LT(std::strlen(route_item_text(at)), 63u + 24u);
            route_item_icon(at);
            route_subtree_counts(at);
            route_next_open_point(at);
        }
    }
}

TEST_F(Routes, BytesFromElsewhereAreTakenByTheSameRules)
{
    std::vector<u8> bytes = test_route_bytes();
    // More bytes than the route needs are fine (a file ends on a page).
    bytes.resize(4096, 0xFF);
    ASSERT_TRUE(route_from_bytes(bytes.data(), bytes.size(), &route_other));
    EXPECT_EQ(route_other.header.count, ROUTE_TEST_ITEMS);
    EXPECT_EQ(route_other.items[ROUTE_TEST_ITEMS].state, ROUTE_STATE_EMPTY);
    // One byte short of the last item.
    EXPECT_FALSE(route_from_bytes(bytes.data(), HEADER + ITEM * ROUTE_TEST_ITEMS - 1, &route_other));
    EXPECT_FALSE(route_from_bytes(bytes.data(), HEADER - 1, &route_other));
    EXPECT_FALSE(route_from_bytes(nullptr, 0, &route_other));
    EXPECT_EQ(route_other.header.count, 0u);
}

TEST_F(Routes, NamesWithoutTerminatorAreCutToTheirField)
{
    std::vector<u8> bytes = test_route_bytes();
    std::memset(bytes.data() + 4, 'A', 64);
    std::memset(bytes.data() + item_at(2) + 8, 'B', 64);
    seal_header(bytes);
    const u32 file = store_raw(bytes);
    // Found by the name as far as it goes; loaded with names cut to 63.
    EXPECT_EQ(route_find(std::string(64, 'A').c_str()), file);
    ASSERT_EQ(route_load(file, &route_current), file);
    EXPECT_EQ(std::string(route_current.header.name), std::string(63, 'A'));
    EXPECT_EQ(std::string(route_item_text(2)), std::string(63, 'B'));
}

TEST_F(Routes, StoringAPointsStateRewritesOnlyTheFirstEightBytesOfTheItem)
{
    const u32 file = test_route();
    const u32 size = HEADER + ITEM * ROUTE_TEST_ITEMS;
    const std::vector<u8> before = file_bytes(file, size);
    measure(5, 4321);
    ASSERT_TRUE(route_store_item_state(5));
    std::vector<u8> after = file_bytes(file, size);
    EXPECT_EQ(i32_at(after, item_at(5)), ROUTE_STATE_MEASURED);
    EXPECT_EQ(i32_at(after, item_at(5) + 4), 4321);
    // Everything else as it was, the item's checksum too.
    for (size_t k = 0; k < 8; ++k) after[item_at(5) + k] = before[item_at(5) + k];
    EXPECT_EQ(after, before);
    // Unchanged state: nothing to write, still true.
    const u64 writes = nand_writes_made();
    EXPECT_TRUE(route_store_item_state(5));
    EXPECT_EQ(nand_writes_made(), writes);
    // The file still loads (only the header checksum is checked).
    ASSERT_EQ(route_load(file, &route_other), file);
    EXPECT_EQ(route_other.items[5].measurement, 4321);
    // Outside the route, or without a current file: nothing is written.
    EXPECT_FALSE(route_store_item_state(ROUTE_TEST_ITEMS));
    EXPECT_FALSE(route_store_item_state(-1));
    route_delete(file);
    EXPECT_EQ(route_current_file(), 0u);
    EXPECT_FALSE(route_store_item_state(5));
}

TEST_F(Routes, ItemTextAndIconFollowTheLinkedMeasurement)
{
    test_route();
    const u32 stamp = pack(date_to_days(2026, 12, 10), time_to_seconds(9, 5, 7));
    const u32 signal = measurement(MEAS_KIND_SIGNAL, stamp);
    const u32 spectrum = measurement(MEAS_KIND_SPECTRUM, stamp);
    measure(3, signal);    // waveform point
    measure(5, spectrum);  // spectrum point

    EXPECT_EQ(std::string(route_item_text(0)), "Маршрут 1"_cp);
    EXPECT_EQ(std::string(route_item_text(2)), "Н-528"_cp);
    EXPECT_EQ(std::string(route_item_text(3)), std::string("1В"_cp) + " #001 09:05:07 10.12.26");
    EXPECT_EQ(std::string(route_item_text(5)), std::string("1О"_cp) + " #002 09:05:07 10.12.26");
    EXPECT_EQ(std::string(route_item_text(4)), "1П"_cp);
    EXPECT_EQ(std::string(route_item_text(-1)), "");
    EXPECT_EQ(std::string(route_item_text(ROUTE_TEST_ITEMS)), "");

    struct Case {
        int item, icon;
    };
    for (const Case c :
         {Case{0, IMG_TREE_ROUTE}, Case{1, IMG_TREE_OBJECT}, Case{9, IMG_TREE_OBJECT}, Case{3, IMG_TREE_SIGNAL},
          Case{5, IMG_TREE_SPECTRUM}, Case{4, IMG_TREE_SIGNAL_TODO}, Case{ROUTE_TEST_ITEMS, 0}})
        EXPECT_EQ(route_item_icon(c.item), c.icon) << c.item;
    EXPECT_TRUE(route_link_valid(3));
    EXPECT_TRUE(route_link_valid(5));

    // Deleted in the archive browser: shown as not measured, the link gone.
    ASSERT_EQ(dir_delete(dir_find_id(signal)), FS_OK);
    ASSERT_EQ(dir_delete(dir_find_id(spectrum)), FS_OK);
    EXPECT_EQ(route_item_icon(3), IMG_TREE_SIGNAL_TODO);
    EXPECT_EQ(route_item_icon(5), IMG_TREE_SPECTRUM_TODO);
    EXPECT_EQ(std::string(route_item_text(3)), "1В"_cp);
    EXPECT_EQ(route_current.items[3].state, ROUTE_STATE_NOT_MEASURED);
    EXPECT_EQ(route_current.items[5].measurement, ROUTE_NO_MEASUREMENT);
}

TEST_F(Routes, OnlyASignalOrSpectrumMeasurementIsAValidLink)
{
    test_route();
    RmsTableRecord table{};
    table.valid = 1;
    rms_table_seal(&table);
    const u32 vibrometer = meas_save(MEAS_KIND_VIBROMETER, 0, &table, sizeof table, nullptr, 0, nullptr, 0, true);
    ASSERT_NE(vibrometer, 0u);
    struct Case {
        const char* what;
        i32 link;
        bool valid;
    };
    // A spectrum saved into another object, as the spectra screen saves it.
    ASSERT_EQ(obj_select(object), OBJ_OK);
    const u32 foreign = measurement(MEAS_KIND_SPECTRUM);
    ASSERT_EQ(obj_select(route_object), OBJ_OK);
    const Case cases[] = {
        {"a spectrum", static_cast<i32>(measurement(MEAS_KIND_SPECTRUM)), true},
        {"a spectrum of another object", static_cast<i32>(foreign), false},
        {"a vibrometer reading", static_cast<i32>(vibrometer), false},
        {"an object", static_cast<i32>(object), false},
        {"the route file", static_cast<i32>(route_current_file()), false},
        {"no number", 0, false},
        {"a negative number", -5, false},
        {"a number not in the archive", 77777, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        measure(3, static_cast<u32>(c.link));
        ASSERT_TRUE(route_store_item_state(3));
        EXPECT_EQ(route_link_valid(3), c.valid);
        EXPECT_EQ(route_is_measured(3), c.valid);
        // A link found stale is dropped in the file too.
        ASSERT_EQ(route_load(route_current_file(), &route_other), route_current_file());
        EXPECT_EQ(route_other.items[3].state, c.valid ? ROUTE_STATE_MEASURED : ROUTE_STATE_NOT_MEASURED);
        EXPECT_EQ(route_other.items[3].measurement, c.valid ? c.link : ROUTE_NO_MEASUREMENT);
    }
    // Before the archive is mounted nothing is judged and nothing dropped.
    measure(3, 77777);
    archive_state = ARCHIVE_SCANNING;
    EXPECT_FALSE(route_link_valid(3));
    EXPECT_EQ(route_current.items[3].measurement, 77777);
    archive_state = ARCHIVE_MOUNTED;
    // An ignored item stays ignored.
    route_current.items[4].state = ROUTE_STATE_EMPTY;
    EXPECT_FALSE(route_link_valid(4));
    EXPECT_EQ(route_current.items[4].state, ROUTE_STATE_EMPTY);
}

TEST_F(Routes, TreeShowsTheRouteInDepthFirstOrderWithoutIgnoredItems)
{
    test_route();
    // "Насос-12" is stored closed.
    EXPECT_EQ(lines(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    route_current.items[9].expanded = 1;
    EXPECT_EQ(lines(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
    // An ignored machine goes with its points, an ignored point alone.
    route_current.items[6].state = ROUTE_STATE_EMPTY;
    route_current.items[4].state = -3;
    EXPECT_EQ(lines(), (std::vector<int>{0, 1, 2, 3, 5, 8, 9, 10, 11}));
    // An ignored first child: the group's first line is the next one.
    route_current.items[3].state = ROUTE_STATE_EMPTY;
    EXPECT_EQ(lines(), (std::vector<int>{0, 1, 2, 5, 8, 9, 10, 11}));

    TreeNode root, n, out;
    route_tree_root(&root);
    EXPECT_EQ(root.index, 0);
    EXPECT_EQ(root.level, 0);
    EXPECT_EQ(root.parent, nullptr);
    EXPECT_EQ(root.prev_sibling, nullptr);
    EXPECT_EQ(root.next_sibling, nullptr);
    EXPECT_EQ(root.toggle, nullptr);
    EXPECT_EQ(root.is_current, nullptr);
    ASSERT_TRUE(route_tree_node(5, &n));
    EXPECT_EQ(n.level, 3);
    ASSERT_TRUE(n.parent(&n, &out));
    EXPECT_EQ(out.index, 2);
    EXPECT_FALSE(n.prev_sibling(&n, &out)) << "the points before it are ignored";
    EXPECT_FALSE(n.next_sibling(&n, &out));
    EXPECT_FALSE(route_tree_node(4, &out));
    EXPECT_FALSE(route_tree_node(ROUTE_TEST_ITEMS, &out));
    EXPECT_FALSE(route_tree_node(-1, &out));
    // A point has no children and counts as expanded; toggling it only
    // sets its flag.
    EXPECT_FALSE(n.has_children(&n));
    EXPECT_TRUE(n.is_expanded(&n));
    n.toggle(&n);
    EXPECT_EQ(route_current.items[5].expanded, 1u);
    n.toggle(&n);
    EXPECT_EQ(route_current.items[5].expanded, 1u);
    // A group toggles.
    ASSERT_TRUE(route_tree_node(8, &n));
    EXPECT_TRUE(n.has_children(&n));
    n.toggle(&n);
    EXPECT_FALSE(n.is_expanded(&n));
    ASSERT_TRUE(n.prev_sibling(&n, &out));
    EXPECT_EQ(out.index, 1);
    EXPECT_EQ(std::string(out.text(&out, 40)), "Цех"_cp);
    EXPECT_EQ(out.icon(&out), IMG_TREE_OBJECT);
}

TEST_F(Routes, EnterOnAGroupGoesToItsNextPointStillToMeasure)
{
    test_route();
    const u32 id = measurement();
    struct Case {
        const char* what;
        std::vector<int> measured, ignored;
        int group, target;
    };
    const std::vector<Case> cases = {
        {"route item of the fresh route", {}, {}, 0, 3},
        {"Цех of the fresh route: 1В under Н-528", {}, {}, 1, 3},
        {"Цех with 1В measured", {3}, {}, 1, 4},
        {"Цех with Н-528 measured: Н-529's point", {3, 4, 5}, {}, 1, 7},
        {"Цех with all measured: the last item of its subtree", {3, 4, 5, 7}, {}, 1, 7},
        {"Н-528 with all measured", {3, 4, 5}, {}, 2, 5},
        {"ТЭЦ-9: into the closed pump", {}, {}, 8, 10},
        {"route item with every point measured", {3, 4, 5, 7, 10, 11}, {}, 0, 11},
        {"an ignored point is passed over", {}, {3}, 2, 4},
        {"an ignored machine is passed over", {3, 4, 5}, {6}, 1, 5},
        {"ignored last points: the last shown item", {3, 4}, {5}, 2, 4},
        {"a point: nothing after it below it", {}, {}, 3, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(route_load(route_current_file(), &route_current), route_current_file());
        for (int i : c.measured) measure(i, id);
        for (int i : c.ignored) route_current.items[i].state = ROUTE_STATE_EMPTY;
        EXPECT_EQ(route_next_open_point(c.group), c.target);
        // The group and every item passed on the way are opened.
        for (int i = c.group; i < c.target; ++i) EXPECT_EQ(route_current.items[i].expanded, 1u) << i;
    }
    // The pump is opened on the way to its first point.
    ASSERT_EQ(route_load(route_current_file(), &route_current), route_current_file());
    route_next_open_point(8);
    EXPECT_EQ(route_current.items[9].expanded, 1u);
    EXPECT_EQ(route_next_open_point(-1), -1);
    EXPECT_EQ(route_next_open_point(ROUTE_TEST_ITEMS), static_cast<int>(ROUTE_TEST_ITEMS));
}

TEST_F(Routes, SubtreeCountsMachinesPointsAndValidlyMeasuredPoints)
{
    test_route();
    const u32 id = measurement();
    struct Case {
        const char* what;
        std::vector<int> measured, ignored;
        int item;
        RouteCounts counts;
    };
    const std::vector<Case> cases = {
        {"route item of the fresh route", {}, {}, 0, {3, 6, 0}},
        {"Цех", {}, {}, 1, {2, 4, 0}},
        {"Н-528: no groups below it", {}, {}, 2, {0, 3, 0}},
        {"ТЭЦ-9", {}, {}, 8, {1, 2, 0}},
        {"route item, two measured", {3, 10}, {}, 0, {3, 6, 2}},
        {"Цех, two measured, one of them elsewhere", {3, 10}, {}, 1, {2, 4, 1}},
        {"an ignored machine leaves out its points", {}, {6}, 0, {2, 5, 0}},
        {"a machine whose points are all ignored is no machine", {}, {10, 11}, 8, {0, 0, 0}},
        {"an ignored measured point is not counted", {3}, {3}, 2, {0, 2, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(route_load(route_current_file(), &route_current), route_current_file());
        for (int i : c.measured) measure(i, id);
        for (int i : c.ignored) route_current.items[i].state = ROUTE_STATE_EMPTY;
        const RouteCounts r = route_subtree_counts(c.item);
        EXPECT_EQ(r.machines, c.counts.machines);
        EXPECT_EQ(r.points, c.counts.points);
        EXPECT_EQ(r.measured, c.counts.measured);
    }
    // A link that no longer leads to a measurement is not counted.
    ASSERT_EQ(route_load(route_current_file(), &route_current), route_current_file());
    measure(3, id);
    ASSERT_EQ(dir_delete(dir_find_id(id)), FS_OK);
    EXPECT_EQ(route_subtree_counts(0).measured, 0);
}

// The route choice counts a route's points as the route screen does: only
// points measured with their own measurement.
TEST_F(Routes, TheRouteChoiceCountsWhatTheRouteShows)
{
    const u32 file = test_route();
    const u32 own = measurement(), gone = measurement();
    ASSERT_EQ(obj_select(object), OBJ_OK);
    const u32 foreign = measurement(MEAS_KIND_SPECTRUM);
    measure(3, own);
    measure(4, gone);
    measure(5, foreign);
    // Not measured, with a number left over.
    route_current.items[7].measurement = static_cast<i32>(own);
    // Measured, under an ignored machine.
    measure(10, own);
    route_current.items[9].state = ROUTE_STATE_EMPTY;
    ASSERT_EQ(route_save(file, &route_current), file);
    ASSERT_EQ(dir_delete(dir_find_id(gone)), FS_OK);

    ASSERT_EQ(route_load(file, &route_other), file);
    const RouteCounts choice = route_point_counts(&route_other);
    const RouteCounts shown = route_subtree_counts(0);
    EXPECT_EQ(choice.points, 4);
    EXPECT_EQ(choice.measured, 1);
    EXPECT_EQ(choice.points, shown.points);
    EXPECT_EQ(choice.measured, shown.measured);
}

TEST_F(Routes, ClearingARouteRemovesItsMeasurementsAndKeepsIgnoredItems)
{
    const u32 file = test_route();
    const u32 a = measurement(), b = measurement(MEAS_KIND_SPECTRUM), spare = measurement();
    const u32 vibro_object = obj_create("Насос"_cp);
    ASSERT_NE(vibro_object, 0u);
    measure(3, a);
    measure(5, b);
    // A number that now names an object is no measurement of the route, nor
    // is a reading that another object holds.
    measure(4, vibro_object);
    ASSERT_EQ(obj_select(object), OBJ_OK);
    const u32 foreign = measurement();
    measure(10, foreign);
    route_current.items[6].state = ROUTE_STATE_EMPTY;
    route_current.items[7].state = -3;
    ASSERT_EQ(route_save(file, &route_current), file);
    const u32 entries = dir_count();

    // The archive browser stands on one of the measurements: it moves to
    // the object first.
    archive_tree_init();
    archive_show_id(a);
    ASSERT_EQ(archive_cursor_id(), a);

    EXPECT_EQ(route_clear_measurements(file), file);
    EXPECT_EQ(archive_cursor_id(), route_object);
    EXPECT_LT(dir_find_id(a), 0);
    EXPECT_LT(dir_find_id(b), 0);
    EXPECT_GE(dir_find_id(spare), 0);
    EXPECT_GE(dir_find_id(vibro_object), 0);
    EXPECT_GE(dir_find_id(foreign), 0);
    EXPECT_EQ(dir_count(), entries - 2);

    ASSERT_EQ(route_load(file, &route_other), file);
    for (u32 i = 0; i < ROUTE_TEST_ITEMS; ++i) {
        SCOPED_TRACE(i);
        const RouteItem& it = route_other.items[i];
        if (i == 6 || i == 7) {
            EXPECT_EQ(it.state & ROUTE_STATE_IGNORED_BIT, 1);
        } else {
            EXPECT_EQ(it.state, ROUTE_STATE_NOT_MEASURED);
            EXPECT_EQ(it.measurement, ROUTE_NO_MEASUREMENT);
        }
        std::vector<u8> raw(ITEM);
        std::memcpy(raw.data(), &it, ITEM);
        EXPECT_EQ(it.checksum, reference_checksum(raw.data(), ITEM, 158)) << "a fresh item checksum";
    }
    EXPECT_EQ(route_clear_measurements(object), 0u) << "an object is no route";
    EXPECT_EQ(route_clear_measurements(0), 0u);
}

TEST_F(Routes, DeletingARouteRemovesItsEntryAndItsMeasurements)
{
    const u32 file = test_route();
    const u32 a = measurement();
    measure(10, a);
    ASSERT_EQ(route_save(file, &route_current), file);
    EXPECT_TRUE(route_delete(file));
    EXPECT_LT(dir_find_id(file), 0);
    EXPECT_LT(dir_find_id(a), 0);
    EXPECT_EQ(route_current_file(), 0u);
    EXPECT_EQ(route_find(ROUTE_TEST_NAME), 0u);
    EXPECT_GE(dir_find_id(object), 0);

    // A route that no longer loads can still be deleted; other files cannot.
    std::vector<u8> bytes = test_route_bytes();
    const u32 made = route_find(ROUTE_TEST_NAME);
    ASSERT_TRUE(route_delete(made));
    put_u32(bytes, item_at(3) + 112, 3);  // a parent pointing at itself
    const u32 broken = store_raw(bytes);
    ASSERT_EQ(route_load(broken, &route_other), 0u);
    EXPECT_TRUE(route_delete(broken));
    EXPECT_EQ(route_count_in_directory(), 0);
    EXPECT_FALSE(route_delete(object));
    EXPECT_GE(dir_find_id(object), 0);
    EXPECT_FALSE(route_delete(0));
}

TEST_F(Routes, SavingIsRefusedForFilesThatAreNoRouteAndForImpossibleCounts)
{
    const u32 file = test_route();
    char name[OBJ_NAME_SIZE];
    ASSERT_EQ(route_save(object, &route_current), 0u);
    ASSERT_EQ(obj_get_name(dir_find_id(object), name), OBJ_OK);
    EXPECT_STREQ(name, "Объект"_cp);
    EXPECT_EQ(route_save(99999, &route_current), 0u);
    route_current.header.count = 0;
    EXPECT_EQ(route_save(file, &route_current), 0u);
    route_current.header.count = ROUTE_MAX_ITEMS + 1;
    EXPECT_EQ(route_save(0, &route_current), 0u);
    EXPECT_EQ(route_count_in_directory(), 1);
}

TEST_F(Routes, EveryFlashOperationWaitsForTheArchiveAndFailsWithoutIt)
{
    const u32 file = test_route();
    archive_state = ARCHIVE_FAILED;
    EXPECT_EQ(route_find(ROUTE_TEST_NAME), 0u);
    EXPECT_EQ(route_load(file, &route_other), 0u);
    EXPECT_EQ(route_save(file, &route_current), 0u);
    EXPECT_EQ(route_save(0, &route_current), 0u);
    EXPECT_FALSE(route_store_item_state(3));
    EXPECT_EQ(route_make_test(), 0u);
    EXPECT_EQ(route_clear_measurements(file), 0u);
    EXPECT_FALSE(route_delete(file));
    archive_state = ARCHIVE_MOUNTED;
    EXPECT_EQ(route_count_in_directory(), 1);
    EXPECT_EQ(route_load(file, &route_other), file);
}

TEST_F(Routes, ALargeRouteLoadsAndItsTreeWalksEnd)
{
    // The route item, then 1023 points under it.
    route_clear(&route_other);
    std::strcpy(route_other.header.name, "Большой"_cp);
    route_other.header.count = ROUTE_MAX_ITEMS;
    route_other.items[0] = RouteItem{};
    route_other.items[0].state = ROUTE_STATE_NOT_MEASURED;
    route_other.items[0].parent = ROUTE_NO_PARENT;
    route_other.items[0].node_kind = ROUTE_NODE_ROUTE;
    route_other.items[0].expanded = 1;
    for (u32 i = 1; i < ROUTE_MAX_ITEMS; ++i) {
        RouteItem& it = route_other.items[i];
        it = RouteItem{};
        it.state = ROUTE_STATE_NOT_MEASURED;
        it.measurement = ROUTE_NO_MEASUREMENT;
        std::snprintf(it.name, sizeof it.name, "%u", i);
        it.point_type = 1;
        it.level = 1;
        it.parent = 0;
    }
    const u32 file = route_save(0, &route_other);
    ASSERT_NE(file, 0u);
    ASSERT_EQ(route_load(file, &route_current), file);
    EXPECT_EQ(lines().size(), ROUTE_MAX_ITEMS);
    EXPECT_EQ(route_subtree_counts(0).points, static_cast<int>(ROUTE_MAX_ITEMS - 1));
    EXPECT_EQ(route_next_open_point(0), 1);
}

// Power cuts while a point is saved again: the new measurement, the item's
// state, then the old measurement removed. Whatever the cut, the image
// mounts, the route loads, and the point is either measured with a link to
// a measurement of the archive or not measured.
class RoutePowerCut : public ::testing::Test {
protected:
    VirtualHostScope scope;
    TempDir dir;
    static constexpr u32 FIRST_PAGE = 64, BLOCK_PAGES = 64;
    static constexpr u64 BLOCK_AT = flash_offset(FIRST_PAGE, 0);
    static constexpr size_t BLOCK_BYTES = BLOCK_PAGES * 2112;
    std::vector<u8> block;
    u32 file = 0, old = 0;

    void mount()
    {
        settings_set_current_object(0);
        ASSERT_EQ(fs_init(), FS_OK);
        ASSERT_EQ(fs_mount(), FS_OK);
        archive_state = ARCHIVE_MOUNTED;
        ASSERT_NE(obj_after_mount(), OBJ_FAILED);
    }
    void SetUp() override
    {
        system_reset();
        FlashFile flash(dir.file("flash.dat"));
        mount();
        file = route_make_test();
        ASSERT_NE(file, 0u);
        ASSERT_EQ(route_load(file, &route_current), file);
        // The route's measurements go into its object.
        ASSERT_EQ(obj_select(obj_create(ROUTE_TEST_NAME)), OBJ_OK);
        old = measurement();
        route_current.items[3].state = ROUTE_STATE_MEASURED;
        route_current.items[3].measurement = static_cast<i32>(old);
        ASSERT_TRUE(route_store_item_state(3));
        ASSERT_LT(file, FIRST_PAGE + BLOCK_PAGES);
        block = flash.read(BLOCK_AT, BLOCK_BYTES);
    }
    // The save of a point, with the power cut after `cut` writes (never when
    // negative); returns the writes made.
    u64 save_again(i64 cut)
    {
        FlashFile flash(dir.file("flash.dat"));
        flash.write(BLOCK_AT, block);
        mount();
        EXPECT_EQ(route_load(file, &route_current), file);
        EXPECT_EQ(obj_select(obj_find_by_name(ROUTE_TEST_NAME)), OBJ_OK);
        const u64 before = nand_writes_made();
        if (cut >= 0) nand_cut_power_at(before + static_cast<u64>(cut));
        testing::internal::CaptureStdout();  // the flash layers' diagnostic lines
        // As the route screen saves a point: a failed save stores nothing.
        SpectraRecord r{};
        r.type = 1;
        const u32 id = meas_save(MEAS_KIND_SIGNAL, 0, &r, sizeof r, nullptr, 0, nullptr, 0, true);
        if (id != 0) route_set_measurement(3, id);
        testing::internal::GetCapturedStdout();
        nand_restore_power();
        return nand_writes_made() - before;
    }
};

TEST_F(RoutePowerCut, CutAnywhereInSavingAPointLeavesTheRouteLoadableAndThePointMeasured)
{
    const u64 writes = save_again(-1);
    ASSERT_GT(writes, 2u);
    std::vector<u32> links;
    // Every cut up to 16 writes, then every eighth: each costs two mounts.
    for (i64 cut = 0; cut < static_cast<i64>(writes); cut += cut < 16 ? 1 : 8) {
        SCOPED_TRACE("power cut after " + std::to_string(cut) + " of " + std::to_string(writes) + " writes");
        save_again(cut);
        FlashFile flash(dir.file("flash.dat"));
        mount();
        ASSERT_EQ(route_load(file, &route_current), file);
        EXPECT_EQ(route_current.header.count, ROUTE_TEST_ITEMS);
        for (int i = 0; i < static_cast<int>(ROUTE_TEST_ITEMS); ++i) {
            if (i != 3) {
                EXPECT_FALSE(route_is_measured(i)) << i;
            }
        }
        // The new link is stored before the old measurement goes, so the
        // point always links a measurement that reads: the old one or the
        // new one.
        ASSERT_TRUE(route_is_measured(3) && route_link_valid(3));
        const u32 link = static_cast<u32>(route_current.items[3].measurement);
        MeasHeader hd;
        EXPECT_EQ(meas_read_header(link, &hd), MEAS_OK);
        if (links.empty() || links.back() != link) links.push_back(link);
    }
    // Early cuts keep the old link, late ones show the new.
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(links[0], old);
}

}  // namespace
