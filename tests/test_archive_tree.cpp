// The archive as a tree: the lines built from the directory (objects in
// name order, their measurements newest first, routes hidden), the kinds
// without a label or icon, measurements whose object is gone, damaged
// directories whose walks must end, and showing an entry by its id.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "archive/measurement.h"
#include "archive/objects.h"
#include "base/cp1251.h"
#include "gfx/text.h"
#include "host/device.h"
#include "screens/archive_tree.h"
#include "screens/browser.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "tests/support/flash_image.h"
#include "tests/support/screens.h"
#include "tests/support/support.h"

namespace {

struct Line {
    int index;
    int level;
    bool operator==(const Line&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Line& l)
{
    return os << "{" << l.index << ", " << l.level << "}";
}

class ArchiveTree : public ::testing::Test {
protected:
    VirtualHostScope scope;  // first: its reset comes before the mount
    MountedFlash image;
    TreeView view{};

    void SetUp() override
    {
        font_select(ARCHIVE_TREE_FONT);
        tree_init(&view, ARCHIVE_TREE_X0, ARCHIVE_TREE_Y0, ARCHIVE_TREE_X1, ARCHIVE_TREE_Y1, archive_tree_root);
    }

    // A vibrometer measurement (or another kind) saved into object `object`.
    static u32 measure(u32 object, u32 kind = MEAS_KIND_VIBROMETER)
    {
        settings_set_current_object(object);
        RmsTableRecord r{};
        r.valid = 1;
        r.values[0][0][1] = 2.5f;
        rms_table_seal(&r);
        const u32 id = meas_save(kind, 0, &r, sizeof r, nullptr, 0, nullptr, 0, true);
        EXPECT_NE(id, 0u);
        return id;
    }
    static int at(u32 id) { return dir_find_id(id); }
    // Every line in display order from the root, at most `limit` of them.
    std::vector<Line> lines(size_t limit = 100000)
    {
        std::vector<Line> v;
        TreeNode n = view.root;
        v.push_back({n.index, n.level});
        while (v.size() < limit && tree_next_visible(&view, &n)) v.push_back({n.index, n.level});
        return v;
    }
    static std::string text_of(const TreeNode& n) { return n.text(&n, 100); }
};

TEST_F(ArchiveTree, EmptyArchiveShowsOnlyTheRootWhichCannotOpen)
{
    ASSERT_EQ(dir_count(), 0u);
    EXPECT_EQ(text_of(view.root), "Tarvik-2");
    EXPECT_EQ(view.root.index, -1);
    EXPECT_EQ(archive_node_kind(&view.root), ARCHIVE_NODE_ROOT);
    EXPECT_FALSE(view.root.has_children(&view.root));
    EXPECT_EQ(lines(), (std::vector<Line>{{-1, 0}}));
    for (u32 key : {u32{KEY_RIGHT}, u32{KEY_LEFT}}) {
        u32 k = key;
        bool redraw = false;
        EXPECT_FALSE(tree_key(&view, &k, &redraw)) << key;
        EXPECT_EQ(view.current.index, -1);
    }
}

TEST_F(ArchiveTree, ObjectsInNameOrderEachWithItsMeasurementsNewestFirst)
{
    const u32 b = obj_create("Б"_cp), a = obj_create("А"_cp);
    const u32 a1 = measure(a), a2 = measure(a), b1 = measure(b);
    FileHandle h;
    ASSERT_EQ(fs_create(&h, FILE_TYPE_ROUTE, 0, 0, 300, nullptr), FS_OK);  // a route: hidden
    ASSERT_EQ(fs_close(&h), FS_OK);
    ASSERT_EQ(dir_append(h.first, 1, 0, FILE_TYPE_ROUTE, 0), DIR_OK);
    settings_set_current_object(b);
    dir_flags_set(at(a), DIR_FLAG_EXPANDED);
    dir_flags_set(at(b), DIR_FLAG_EXPANDED);

    const std::vector<Line> all = {{-1, 0}, {at(a), 1}, {at(a2), 2}, {at(a1), 2}, {at(b), 1}, {at(b1), 2}};
    EXPECT_EQ(lines(), all);
    // Back up from the last line, the same lines.
    TreeNode n;
    ASSERT_TRUE(archive_tree_node(at(b1), &n));
    std::vector<Line> back = {{n.index, n.level}};
    while (tree_prev_visible(&view, &n)) back.push_back({n.index, n.level});
    EXPECT_EQ(back, std::vector<Line>(all.rbegin(), all.rend()));

    // What each line says.
    ASSERT_TRUE(archive_tree_node(at(a), &n));
    EXPECT_EQ(text_of(n), "А"_cp);
    EXPECT_EQ(n.icon(&n), 1);
    EXPECT_FALSE(n.is_current(&n));
    EXPECT_EQ(archive_node_kind(&n), ARCHIVE_NODE_OBJECT);
    EXPECT_EQ(archive_node_id(&n), a);
    ASSERT_TRUE(archive_tree_node(at(b), &n));
    EXPECT_TRUE(n.is_current(&n));
    ASSERT_TRUE(archive_tree_node(at(a2), &n));
    char label[MEAS_LABEL_SIZE];
    EXPECT_EQ(text_of(n), meas_label(at(a2), label));
    EXPECT_EQ(text_of(n).substr(0, 11), " 2.5  #002 ");
    EXPECT_EQ(n.icon(&n), 19);
    EXPECT_EQ(archive_node_kind(&n), ARCHIVE_NODE_MEASUREMENT);
    EXPECT_EQ(n.has_children, nullptr);
    EXPECT_EQ(n.is_current, nullptr);
    EXPECT_FALSE(archive_tree_node(dir_find_id(h.first), &n));

    // A closed object hides its measurements.
    dir_flags_clear(at(a), DIR_FLAG_EXPANDED);
    EXPECT_EQ(lines(), (std::vector<Line>{{-1, 0}, {at(a), 1}, {at(b), 1}, {at(b1), 2}}));
    // Types outside the mask give no lines: without type 19, no measurement;
    // letting routes through still gives them no line.
    archive_tree_set_shown((1u << FILE_TYPE_OBJECT) | (1u << FILE_TYPE_SIGNAL));
    EXPECT_EQ(lines(), (std::vector<Line>{{-1, 0}, {at(a), 1}, {at(b), 1}}));
    ASSERT_TRUE(archive_tree_node(at(b), &n));
    EXPECT_FALSE(n.has_children(&n));
    archive_tree_set_shown(0xFFFFFFFF);
    EXPECT_EQ(lines().size(), 4u);
    archive_tree_reset();
    EXPECT_EQ(archive_tree_shown(), 0x480201u);
}

TEST_F(ArchiveTree, ShockPulseKindsAreMeasurementLinesWithoutTextOrIcon)
{
    const u32 o = obj_create("Объект"_cp);
    const u32 s = measure(o, MEAS_KIND_SHOCK_SIGNAL), sp = measure(o, MEAS_KIND_SHOCK_SPECTRUM);
    dir_flags_set(at(o), DIR_FLAG_EXPANDED);
    EXPECT_EQ(lines(), (std::vector<Line>{{-1, 0}, {at(o), 1}, {at(sp), 2}, {at(s), 2}}));
    for (u32 id : {s, sp}) {
        TreeNode n;
        ASSERT_TRUE(archive_tree_node(at(id), &n));
        EXPECT_EQ(text_of(n), "");
        EXPECT_EQ(n.icon(&n), 0);
        // Taken from the entry, not from the missing icon: not the root.
        EXPECT_EQ(archive_node_kind(&n), ARCHIVE_NODE_MEASUREMENT);
        EXPECT_EQ(archive_node_id(&n), id);
    }
}

TEST_F(ArchiveTree, MeasurementsWhoseObjectIsGoneFollowTheObjectsAtTheirLevel)
{
    const u32 a = obj_create("А"_cp);
    const u32 a1 = measure(a);
    const u32 lost1 = measure(obj_create("Б"_cp)), lost2 = measure(obj_create("В"_cp));
    // The objects Б and В go, their measurements stay (as after a delete
    // that could not finish).
    ASSERT_EQ(dir_delete(at(dir_parent(at(lost1)))), FS_OK);
    ASSERT_EQ(dir_delete(at(dir_parent(at(lost2)))), FS_OK);
    fs_mount();  // in the mount's order: objects first, then the rest newest first
    dir_flags_set(at(a), DIR_FLAG_EXPANDED);
    ASSERT_EQ(dir_count(), 4u);

    // The two, in directory order, after the object's lines.
    EXPECT_EQ(std::set<u32>({dir_id(2), dir_id(3)}), std::set<u32>({lost1, lost2}));
    EXPECT_EQ(lines(), (std::vector<Line>{{-1, 0}, {at(a), 1}, {at(a1), 2}, {2, 1}, {3, 1}}));
    TreeNode n;
    ASSERT_TRUE(archive_tree_node(3, &n));
    EXPECT_EQ(archive_node_kind(&n), ARCHIVE_NODE_MEASUREMENT);
    EXPECT_EQ(n.icon(&n), 19);
    TreeNode p;
    ASSERT_TRUE(n.parent(&n, &p));
    EXPECT_EQ(p.index, -1);
    // Back up: the other one, then into the open object's last line.
    ASSERT_TRUE(tree_prev_visible(&view, &n));
    EXPECT_EQ(n.index, 2);
    ASSERT_TRUE(tree_prev_visible(&view, &n));
    EXPECT_EQ(n.index, at(a1));
    // Left climbs from an orphan to the root.
    ASSERT_TRUE(archive_tree_node(3, &view.current));
    u32 key = KEY_LEFT;
    bool redraw = false;
    EXPECT_TRUE(tree_key(&view, &key, &redraw));
    EXPECT_EQ(view.current.index, -1);
}

// Directories no instrument writes, as a damaged or foreign image may give
// them (entries without files: only their ids and parents matter).
struct Damaged {
    const char* what;
    std::vector<DirEntry> entries;  // id, stamp, parent, attr, type
};

DirEntry object(u32 id, u32 parent = 0)
{
    return {id, 1, parent, 0, FILE_TYPE_OBJECT, 0};
}
DirEntry measurement(u32 id, u32 parent)
{
    return {id, 1, parent, MEAS_KIND_VIBROMETER, FILE_TYPE_VIBROMETER, 0};
}

std::vector<Damaged> damaged_directories()
{
    std::vector<Damaged> v = {
        {"parents in a circle", {object(100), measurement(101, 102), measurement(102, 101), measurement(103, 100)}},
        {"own parent", {object(100), object(104, 104), measurement(105, 105), measurement(106, 100)}},
        {"object under its own measurement", {object(100, 101), measurement(101, 100), object(102)}},
        {"measurement before its object", {measurement(101, 100), object(100), measurement(102, 100)}},
        {"same id twice", {object(100), object(101), object(100), measurement(102, 100), measurement(103, 100)}},
        {"object nested under an object",
         {object(100), object(101), object(102, 101), measurement(103, 100), measurement(104, 102)}},
        {"missing parents", {measurement(101, 900), object(100), measurement(102, 901), measurement(103, 100)}},
    };
    Damaged deep{"nested 100 deep", {object(100)}};
    for (u32 i = 1; i <= 100; ++i) deep.entries.push_back(measurement(100 + i, 99 + i));
    v.push_back(deep);
    return v;
}

TEST_F(ArchiveTree, DamagedDirectoriesEndEveryWalk)
{
    testing::internal::CaptureStdout();
    for (const Damaged& d : damaged_directories()) {
        SCOPED_TRACE(d.what);
        dir_reset();
        for (const DirEntry& e : d.entries) ASSERT_EQ(dir_append(e.id, e.stamp, e.parent, e.type, e.attr), DIR_OK);
        for (u32 i = 0; i < dir_count(); ++i) dir_flags_set(static_cast<int>(i), DIR_FLAG_EXPANDED);

        // Display order ends, and no entry comes twice.
        const std::vector<Line> all = lines(dir_count() + 2);
        ASSERT_LE(all.size(), dir_count() + 1);
        std::set<int> seen;
        for (const Line& l : all) EXPECT_TRUE(seen.insert(l.index).second) << l;
        // The keys from every line end, and so do drawing and showing.
        for (const Line& l : all) {
            for (u32 key : {u32{KEY_UP}, u32{KEY_DOWN}, u32{KEY_LEFT}, u32{KEY_RIGHT}, KEY_SHIFT | KEY_UP,
                            KEY_SHIFT | KEY_DOWN}) {
                if (l.index < 0)
                    archive_tree_root(&view.current);
                else
                    ASSERT_TRUE(archive_tree_node(l.index, &view.current));
                view.cursor_y = archive_row_y(3);
                view.page_up_key = KEY_SHIFT | KEY_UP;
                view.page_down_key = KEY_SHIFT | KEY_DOWN;
                u32 k = key;
                bool redraw = false;
                tree_key(&view, &k, &redraw);
                tree_draw(&view);
            }
            tree_step_away(&view);
        }
        for (const DirEntry& e : d.entries) tree_show_id(&view, e.id);
    }
    testing::internal::GetCapturedStdout();
}

TEST_F(ArchiveTree, ShowIdOpensTheAncestorsAndPlacesTheCursor)
{
    std::vector<u32> objects;
    for (const char* name : {"01", "02", "03", "04", "05", "06", "07", "08", "09", "10"})
        objects.push_back(obj_create(name));
    const u32 m = measure(objects[2]);
    dir_flags_clear_all(DIR_FLAG_EXPANDED);

    EXPECT_TRUE(tree_show_id(&view, m));
    EXPECT_EQ(dir_flags(at(objects[2])) & DIR_FLAG_EXPANDED, DIR_FLAG_EXPANDED);
    EXPECT_EQ(dir_flags(at(objects[1])) & DIR_FLAG_EXPANDED, 0);
    EXPECT_EQ(view.current.index, at(m));
    EXPECT_EQ(view.cursor_y, archive_row_y(4));  // root, 01, 02, 03, then the measurement

    EXPECT_TRUE(tree_show_id(&view, objects[9]));
    EXPECT_EQ(view.current.index, at(objects[9]));
    EXPECT_EQ(view.cursor_y, archive_row_y(7));                   // 11 lines before it: the last row
    EXPECT_EQ(dir_flags(at(objects[9])) & DIR_FLAG_EXPANDED, 0);  // not itself

    EXPECT_FALSE(tree_show_id(&view, 99999));
    EXPECT_EQ(view.current.index, at(objects[9]));
    EXPECT_TRUE(tree_show_id(&view, 0));
    EXPECT_EQ(view.current.index, -1);
    EXPECT_EQ(view.cursor_y, archive_row_y(0));
}

TEST_F(ArchiveTree, SetUpAfterAMountOpensTheCurrentObject)
{
    const u32 a = obj_create("А"_cp), b = obj_create("Б"_cp);
    measure(a);
    const u32 b1 = measure(b);
    settings_set_current_object(b);
    image.remount();  // all lines closed again
    archive_tree_init();
    const TreeView* v = archive_tree_view();
    EXPECT_EQ(v->current.index, at(b));
    EXPECT_EQ(v->cursor_y, archive_row_y(2));  // root, А (closed), Б
    EXPECT_EQ(dir_flags(at(b)) & DIR_FLAG_EXPANDED, DIR_FLAG_EXPANDED);
    EXPECT_EQ(dir_flags(at(a)) & DIR_FLAG_EXPANDED, 0);
    EXPECT_EQ(v->page_up_key, KEY_SHIFT | KEY_UP);
    EXPECT_EQ(v->page_down_key, KEY_SHIFT | KEY_DOWN);
    EXPECT_EQ(v->row_height, 23);
    // A new measurement becomes the cursor at once.
    const u32 b2 = measure(b);
    EXPECT_EQ(v->current.index, at(b2));
    (void)b1;
}

}  // namespace
