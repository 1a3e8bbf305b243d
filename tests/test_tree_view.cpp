// The tree view widget over a small model of its own: display order both
// ways, the cursor keys (incremental moves and scrolling, collapsing,
// climbing, expanding, descending, pages), selection, stepping away before a
// delete, the pictures of a line, and models whose links run in circles.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "data/images.h"
#include "gfx/framebuffer.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "gfx/tree_view.h"
#include "host/device.h"
#include "tests/support/screens.h"
#include "tests/support/support.h"

namespace {

// A model held in a table: each item names its parent (-1 for the root,
// item 0); children are the items naming it, in table order.
struct Item {
    int parent;
    bool expanded;
    std::string text;
    int icon;
    bool current;
};
std::vector<Item> g_items;
int g_toggles = 0;

int level_of(int i)
{
    int level = 0;
    while (g_items[i].parent >= 0) {
        i = g_items[i].parent;
        ++level;
    }
    return level;
}

bool build(int i, TreeNode* out);

bool expanded(const TreeNode* n)
{
    return g_items[n->index].expanded;
}
void toggle(const TreeNode* n)
{
    g_items[n->index].expanded = !g_items[n->index].expanded;
    ++g_toggles;
}
bool current(const TreeNode* n)
{
    return g_items[n->index].current;
}
bool first_child(const TreeNode* n, TreeNode* out)
{
    for (size_t j = 0; j < g_items.size(); ++j)
        if (g_items[j].parent == n->index) return build(static_cast<int>(j), out);
    return false;
}
bool has_children(const TreeNode* n)
{
    TreeNode c;
    return first_child(n, &c);
}
bool parent(const TreeNode* n, TreeNode* out)
{
    return g_items[n->index].parent >= 0 && build(g_items[n->index].parent, out);
}
const char* text(const TreeNode* n, int)
{
    return g_items[n->index].text.c_str();
}
int icon(const TreeNode* n)
{
    return g_items[n->index].icon;
}
bool sibling(const TreeNode* n, int dir, TreeNode* out)
{
    const int p = g_items[n->index].parent;
    if (p < 0) return false;
    for (int j = n->index + dir; j >= 0 && j < static_cast<int>(g_items.size()); j += dir)
        if (g_items[j].parent == p) return build(j, out);
    return false;
}
bool prev_sibling(const TreeNode* n, TreeNode* out)
{
    return sibling(n, -1, out);
}
bool next_sibling(const TreeNode* n, TreeNode* out)
{
    return sibling(n, 1, out);
}

bool build(int i, TreeNode* out)
{
    TreeNode n{};
    n.level = static_cast<u8>(level_of(i));
    n.index = i;
    n.is_expanded = expanded;
    n.toggle = i == 0 ? nullptr : toggle;  // the root stays open
    n.is_current = current;
    n.has_children = has_children;
    n.parent = parent;
    n.text = text;
    n.icon = icon;
    n.prev_sibling = prev_sibling;
    n.next_sibling = next_sibling;
    n.first_child = first_child;
    *out = n;
    return true;
}

void root(TreeNode* out)
{
    build(0, out);
}

// Root, A (open: A1, A2), B (closed: B1), C (open, no children),
// D (open: D1 (open: D1a)). Display order: Root A A1 A2 B C D D1 D1a.
void small_model()
{
    g_items = {
        {-1, true, "Root", 0, false}, {0, true, "A", 1, true},   {1, false, "A1", 19, false},
        {1, false, "A2", 17, false},  {0, false, "B", 1, false}, {4, false, "B1", 18, false},
        {0, true, "C", 1, false},     {0, true, "D", 1, false},  {7, true, "D1", 3, false},
        {8, false, "D1a", 22, false},
    };
    g_toggles = 0;
}

// Root and `n` children "Item 0" ... without children.
void long_model(int n)
{
    g_items = {{-1, true, "Root", 0, false}};
    for (int i = 0; i < n; ++i) g_items.push_back({0, false, "Item " + std::to_string(i), 19, false});
}

int index_of(const std::string& text)
{
    for (size_t i = 0; i < g_items.size(); ++i)
        if (g_items[i].text == text) return static_cast<int>(i);
    return -1;
}

TreeNode node(const std::string& text)
{
    TreeNode n{};
    build(index_of(text), &n);
    return n;
}

// The browser's area, in font 4: rows 23 apart from y 30, 8 rows.
class Tree : public ::testing::Test {
protected:
    VirtualHostScope scope;
    TreeView view{};

    void SetUp() override
    {
        images_unpack_all();
        small_model();
        font_select(4);
        tree_init(&view, 1, 22, 318, 215, root);
    }
    // Puts the cursor on line `text` at row `row`.
    void put(const std::string& text, int row)
    {
        view.current = node(text);
        view.cursor_y = archive_row_y(row);
    }
    std::string cursor() const { return g_items[view.current.index].text; }
    // Sends a key: whether the tree took it and whether it asked for a redraw.
    std::pair<bool, bool> press(u32 key)
    {
        bool redraw = false;
        const u32 before = key;
        const bool used = tree_key(&view, &key, &redraw);
        EXPECT_EQ(key, used ? KEY_NONE : before);
        return {used, redraw};
    }
    static std::vector<u16> screen() { return std::vector<u16>(framebuffer, framebuffer + LCD_PIXELS); }
};

TEST_F(Tree, InitialisationTakesTheAreaTheRootAndTheFont)
{
    EXPECT_EQ(view.current.index, 0);
    EXPECT_EQ(view.root.index, 0);
    EXPECT_EQ(view.cursor_y, 30);
    EXPECT_EQ(view.font_height, 16);
    EXPECT_EQ(view.row_height, 23);
    EXPECT_EQ(view.page_up_key, KEY_NONE);
    EXPECT_EQ(view.page_down_key, KEY_NONE);
    EXPECT_EQ(tree_rows_per_page(&view), 8);
    font_select(3);  // 8 pixels high: 15-pixel rows
    tree_init(&view, 1, 22, 318, 215, root);
    EXPECT_EQ(view.row_height, 15);
    EXPECT_EQ(tree_rows_per_page(&view), 12);
}

TEST_F(Tree, DisplayOrderBothWaysAndNothingBeyondTheEnds)
{
    const std::vector<std::string> order = {"Root", "A", "A1", "A2", "B", "C", "D", "D1", "D1a"};
    TreeNode n = view.root;
    std::vector<std::string> seen = {g_items[n.index].text};
    while (tree_next_visible(&view, &n)) seen.push_back(g_items[n.index].text);
    EXPECT_EQ(seen, order);
    EXPECT_EQ(g_items[n.index].text, "D1a");  // unchanged at the end

    std::vector<std::string> back = {g_items[n.index].text};
    while (tree_prev_visible(&view, &n)) back.push_back(g_items[n.index].text);
    EXPECT_EQ(back, std::vector<std::string>(order.rbegin(), order.rend()));
    EXPECT_EQ(n.index, 0);

    // Opening B shows B1 between B and C, both ways.
    g_items[index_of("B")].expanded = true;
    n = node("B");
    ASSERT_TRUE(tree_next_visible(&view, &n));
    EXPECT_EQ(g_items[n.index].text, "B1");
    n = node("C");
    ASSERT_TRUE(tree_prev_visible(&view, &n));
    EXPECT_EQ(g_items[n.index].text, "B1");
}

TEST_F(Tree, PreviousLineIntoAnOpenNodeWithoutAReachableChildFails)
{
    TreeNode b = node("B");
    g_items[index_of("B")].expanded = true;
    TreeNode c = node("C");
    c.prev_sibling = [](const TreeNode*, TreeNode* out) {
        build(index_of("B"), out);
        out->first_child = nullptr;  // says it has children but gives none
        out->has_children = [](const TreeNode*) { return true; };
        return true;
    };
    EXPECT_FALSE(tree_prev_visible(&view, &c));
    EXPECT_EQ(g_items[c.index].text, "C");
    (void)b;
}

TEST_F(Tree, UpAndDownMoveInsideTheAreaThenScroll)
{
    long_model(20);
    tree_init(&view, 1, 22, 318, 215, root);
    tree_draw(&view);
    // Seven steps down stay inside the 8 rows: only two lines are redrawn.
    for (int row = 1; row <= 7; ++row) {
        const auto [used, redraw] = press(KEY_DOWN);
        EXPECT_TRUE(used);
        EXPECT_FALSE(redraw) << row;
        EXPECT_EQ(view.cursor_y, archive_row_y(row));
    }
    const auto px = screen();
    EXPECT_TRUE(archive_row_shows(px, 6, 1, "Item 5", false));
    EXPECT_TRUE(archive_row_shows(px, 7, 1, "Item 6", true));
    // The eighth scrolls: the cursor row stays the last one.
    EXPECT_EQ(press(KEY_DOWN), std::make_pair(true, true));
    EXPECT_EQ(view.cursor_y, archive_row_y(7));
    EXPECT_EQ(cursor(), "Item 7");
    tree_draw(&view);
    EXPECT_TRUE(archive_row_shows(screen(), 0, 1, "Item 0", false));
    EXPECT_TRUE(archive_row_shows(screen(), 7, 1, "Item 7", true));
    // Up: inside until the first row, then scrolling.
    for (int row = 6; row >= 0; --row) EXPECT_EQ(press(KEY_UP), std::make_pair(true, false)) << row;
    EXPECT_EQ(cursor(), "Item 0");
    EXPECT_EQ(press(KEY_UP), std::make_pair(true, true));
    EXPECT_EQ(cursor(), "Root");
    EXPECT_EQ(view.cursor_y, archive_row_y(0));
    // Up on the first line and Down on the last do nothing.
    EXPECT_EQ(press(KEY_UP), std::make_pair(true, false));
    EXPECT_EQ(cursor(), "Root");
    put("Item 19", 3);
    EXPECT_EQ(press(KEY_DOWN), std::make_pair(true, false));
    EXPECT_EQ(cursor(), "Item 19");
    EXPECT_EQ(view.cursor_y, archive_row_y(3));
}

TEST_F(Tree, LeftAndRightOpenCloseClimbAndDescend)
{
    struct Case {
        const char* from;
        u32 key;
        bool used;
        const char* to;
        int toggles;  // of the line the key was pressed on
        int row;      // cursor row afterwards (from row 4)
    };
    const Case cases[] = {
        {"A", KEY_LEFT, true, "A", 1, 4},     // open with children: closes
        {"B", KEY_LEFT, true, "Root", 0, 0},  // closed: climbs to a smaller level
        {"A2", KEY_LEFT, true, "A", 0, 2},    // past its sibling A1 to the parent
        {"D1a", KEY_LEFT, true, "D1", 0, 3},     {"C", KEY_LEFT, true, "Root", 0, 0},  // open without children: climbs
        {"Root", KEY_LEFT, false, "Root", 0, 4}, {"B", KEY_RIGHT, true, "B", 1, 4},    // closed: opens
        {"A", KEY_RIGHT, true, "A1", 0, 5},                                            // open: first child
        {"A1", KEY_RIGHT, false, "A1", 0, 4},    {"C", KEY_RIGHT, false, "C", 0, 4},
        {"Root", KEY_RIGHT, true, "A", 0, 5},    {"A", KEY_ENTER, false, "A", 0, 4},  // not a tree key
    };
    for (const Case& c : cases) {
        small_model();
        put(c.from, 4);
        const bool was_open = g_items[index_of(c.from)].expanded;
        const auto [used, redraw] = press(c.key);
        EXPECT_EQ(used, c.used) << c.from << " " << c.key;
        EXPECT_EQ(cursor(), c.to) << c.from << " " << c.key;
        EXPECT_EQ(g_toggles, c.toggles) << c.from << " " << c.key;
        EXPECT_EQ(g_items[index_of(c.from)].expanded, was_open != (c.toggles == 1)) << c.from;
        EXPECT_EQ(view.cursor_y, archive_row_y(c.row)) << c.from << " " << c.key;
        if (!c.used) {
            EXPECT_FALSE(redraw);
        }
    }
}

TEST_F(Tree, PageKeysMoveByAPageAndKeepTheCursorRowInside)
{
    long_model(30);
    tree_init(&view, 1, 22, 318, 215, root);
    EXPECT_EQ(press(KEY_SHIFT | KEY_DOWN), std::make_pair(false, false));  // no page keys yet
    view.page_up_key = KEY_SHIFT | KEY_UP;
    view.page_down_key = KEY_SHIFT | KEY_DOWN;
    put("Item 2", 3);
    EXPECT_EQ(press(KEY_SHIFT | KEY_DOWN), std::make_pair(true, true));
    EXPECT_EQ(cursor(), "Item 10");
    EXPECT_EQ(view.cursor_y, archive_row_y(7));
    EXPECT_EQ(press(KEY_SHIFT | KEY_UP), std::make_pair(true, true));
    EXPECT_EQ(cursor(), "Item 2");
    EXPECT_EQ(view.cursor_y, archive_row_y(0));
    // Near the ends: as far as there are lines.
    EXPECT_EQ(press(KEY_SHIFT | KEY_UP), std::make_pair(true, true));
    EXPECT_EQ(cursor(), "Root");
    put("Item 26", 7);
    press(KEY_SHIFT | KEY_DOWN);
    EXPECT_EQ(cursor(), "Item 29");
}

TEST_F(Tree, SelectPlacesTheCursorRowByTheLinesBefore)
{
    long_model(20);
    tree_init(&view, 1, 22, 318, 215, root);
    auto by_text = [](const TreeNode* n, const void* ctx) {
        return g_items[n->index].text == *static_cast<const std::string*>(ctx);
    };
    const std::string third = "Item 2", far = "Item 15", missing = "Nothing";
    EXPECT_TRUE(tree_select(&view, by_text, &third));
    EXPECT_EQ(cursor(), "Item 2");
    EXPECT_EQ(view.cursor_y, archive_row_y(3));
    EXPECT_TRUE(tree_select(&view, by_text, &far));
    EXPECT_EQ(cursor(), "Item 15");
    EXPECT_EQ(view.cursor_y, archive_row_y(7));  // the last row of the page
    EXPECT_FALSE(tree_select(&view, by_text, &missing));
    EXPECT_EQ(cursor(), "Item 15");
    EXPECT_EQ(view.cursor_y, archive_row_y(7));
    // Closed lines are not searched.
    small_model();
    const std::string hidden = "B1";
    EXPECT_FALSE(tree_select(&view, by_text, &hidden));
}

TEST_F(Tree, StepAwayPrefersTheNextSiblingThenThePreviousThenTheParent)
{
    struct Case {
        const char* from;
        int row;
        const char* to;
        int new_row;
    };
    const Case cases[] = {
        {"A1", 2, "A2", 2},  {"A", 1, "B", 1},    {"A2", 3, "A1", 2},  {"A2", 2, "A1", 1}, {"A2", 1, "A1", 1},
        {"D1a", 3, "D1", 2}, {"D1a", 1, "D1", 0}, {"D1a", 0, "D1", 0}, {"D1", 7, "D", 6},
    };
    for (const Case& c : cases) {
        put(c.from, c.row);
        EXPECT_TRUE(tree_step_away(&view)) << c.from;
        EXPECT_EQ(cursor(), c.to) << c.from;
        EXPECT_EQ(view.cursor_y, archive_row_y(c.new_row)) << c.from << " from row " << c.row;
    }
    put("Root", 0);
    EXPECT_FALSE(tree_step_away(&view));
    EXPECT_EQ(cursor(), "Root");
}

// Pixels of the drawn lines.
class TreeDraw : public Tree {
protected:
    static u16 at(int x, int y) { return framebuffer[y * LCD_WIDTH + x]; }
    static int indent(int level) { return 1 + 2 + 25 * level; }
};

TEST_F(TreeDraw, FrameRowsAndTheCursorLine)
{
    put("A2", 3);
    bg_color = COLOR_MAGENTA;
    lcd_clear();
    tree_draw(&view);
    const auto px = screen();
    // The frame one pixel outside the area, and the area cleared.
    EXPECT_EQ(at(0, 21), TREE_FRAME);
    EXPECT_EQ(at(318, 215), TREE_FRAME);
    EXPECT_EQ(at(160, 21), TREE_FRAME);
    EXPECT_EQ(at(0, 100), TREE_FRAME);
    EXPECT_EQ(at(319, 100), COLOR_MAGENTA);  // outside: untouched
    EXPECT_EQ(at(160, 210), TREE_BACKGROUND);
    // Cursor first, the following lines down to the area's end, the
    // preceding ones up to its top.
    EXPECT_TRUE(archive_row_shows(px, 0, 0, "Root", false, false));
    EXPECT_TRUE(archive_row_shows(px, 1, 1, "A", false));
    EXPECT_TRUE(archive_row_shows(px, 2, 2, "A1", false));
    EXPECT_TRUE(archive_row_shows(px, 3, 2, "A2", true));
    EXPECT_TRUE(archive_row_shows(px, 4, 1, "B", false));
    EXPECT_TRUE(archive_row_shows(px, 7, 2, "D1", false));
    // D1a would be on row 8, which does not fit (only the line towards it
    // is drawn, at x 63).
    for (int x = 84; x < 318; ++x) ASSERT_EQ(at(x, 214), TREE_BACKGROUND) << x;
    // The current item's dotted frame.
    EXPECT_TRUE(archive_current_frame(px, 1, 1, 1));
    EXPECT_FALSE(archive_current_frame(px, 4, 1, 1));
}

TEST_F(TreeDraw, ConnectorsExpandBoxesAndTheLineTowardsHiddenChildren)
{
    put("A", 1);
    tree_draw(&view);
    const int xa = indent(1), xa1 = indent(2);
    const int ya = archive_row_y(1), ym = ya + 7;
    // A: connector from above its icon down past its row (B follows), the
    // horizontal stub, the box with a minus.
    for (int y = ya - 5; y <= ya + 23; ++y) ASSERT_EQ(at(xa - 15, y), TREE_LINES) << y;
    for (int x = xa - 15; x < xa; ++x) {  // the icon covers x = xa
        if (x != xa - 2) {  // A's dotted frame crosses at xa - 2
            ASSERT_EQ(at(x, ym), TREE_LINES) << x;
        }
    }
    for (int y = ym - 4; y <= ym + 4; ++y) {
        EXPECT_EQ(at(xa - 12, y), TREE_LINES);
        EXPECT_EQ(at(xa - 4, y), TREE_LINES);
    }
    EXPECT_EQ(at(xa - 8, ym - 2), TREE_BACKGROUND);  // minus: no bar
    // B is closed: a plus.
    const int yb = archive_row_y(4) + 7;
    for (int y = yb - 4; y <= yb + 4; ++y) ASSERT_EQ(at(xa - 8, y), TREE_LINES) << y;
    // A1's row: A's connector passes (A has a later sibling), A1's own runs
    // on to A2; A2's stops at its middle.
    const int y1 = archive_row_y(2), y2 = archive_row_y(3);
    for (int y = y1; y <= y1 + 23; ++y) ASSERT_EQ(at(xa - 15, y), TREE_LINES) << y;
    for (int y = y1; y <= y1 + 23; ++y) ASSERT_EQ(at(xa1 - 15, y), TREE_LINES) << y;
    EXPECT_EQ(at(xa1 - 15, y2 + 7), TREE_LINES);
    EXPECT_EQ(at(xa1 - 15, y2 + 9), TREE_BACKGROUND);
    // D (the last child of the root) has no connector below its middle.
    // Its child D1 is open and on the last row: the line towards the hidden
    // D1a runs from y1 - 1 up to the row's y + 16, where D1's icon covers it.
    put("D1", 7);
    tree_draw(&view);
    const int xd1 = indent(2), y7 = archive_row_y(7);
    for (int y = y7 + 18; y <= 214; ++y) ASSERT_EQ(at(xd1 + 10, y), TREE_LINES) << y;  // below D1's icon
    EXPECT_EQ(at(indent(1) - 15, y7 + 12), TREE_BACKGROUND);  // D has no later sibling
}

TEST_F(TreeDraw, IconsComeFromTheStripAndTheTextFollows)
{
    put("A1", 2);
    tree_draw(&view);
    const u16* strip = image_set[IMG_TREE_ICONS];
    ASSERT_NE(strip, nullptr);
    const int w = static_cast<int>(image_width(strip));
    // Icon 19 of A1 at (indent, y - 2), copied as it is; icon 1 of A with its
    // white pixels in the tree's background.
    const int x1 = indent(2), y1 = archive_row_y(2) - 2;
    for (int j = 0; j < 20; ++j)
        for (int i = 0; i < 22; ++i) ASSERT_EQ(at(x1 + i, y1 + j), strip[4 + j * w + 18 * 22 + i]) << i << "," << j;
    const int xa = indent(1), ya = archive_row_y(1) - 2;
    for (int j = 0; j < 20; ++j)
        for (int i = 0; i < 22; ++i) {
            const u16 p = strip[4 + j * w + i];
            ASSERT_EQ(at(xa + i, ya + j), p == COLOR_WHITE ? static_cast<u16>(TREE_BACKGROUND) : p) << i << "," << j;
        }
    // The root has no icon: its text starts at the indent.
    EXPECT_TRUE(archive_row_shows(screen(), 0, 0, "Root", false, false));
}

TEST_F(TreeDraw, LongTextIsCutToWholeCharacters)
{
    const std::string long_text(60, 'W');
    put("A1", 2);
    g_items[index_of("A1")].text = long_text;
    g_items[index_of("A")].text = long_text;
    tree_draw(&view);
    // Level 2: text from x 83, (318 - 83 - 1) / 8 = 29 characters; level 1:
    // (318 - 58 - 1) / 8 = 32.
    const auto px = screen();
    EXPECT_TRUE(archive_row_shows(px, 2, 2, long_text.substr(0, 29).c_str(), true));
    EXPECT_TRUE(archive_row_shows(px, 1, 1, long_text.substr(0, 32).c_str(), false));
    EXPECT_TRUE(archive_current_frame(px, 1, 1, 32));
}

// Models whose links lead in circles or deeper than a level can say: every
// walk ends, and nothing is drawn outside the screen.
TEST_F(Tree, LinksInCirclesAndDeepLevelsEndEveryWalk)
{
    // Every item is its own parent and its own next sibling.
    small_model();
    TreeNode loop = node("A1");
    loop.parent = [](const TreeNode* n, TreeNode* out) {
        *out = *n;
        return true;
    };
    loop.next_sibling = loop.parent;
    loop.prev_sibling = loop.parent;
    loop.level = 255;
    view.current = loop;
    view.cursor_y = archive_row_y(3);
    tree_draw(&view);  // ASan: nothing outside the framebuffer
    TreeNode n = loop;
    EXPECT_TRUE(tree_next_visible(&view, &n));
    bool redraw = false;
    u32 key = KEY_LEFT;
    EXPECT_TRUE(tree_key(&view, &key, &redraw));
    key = KEY_DOWN;
    EXPECT_TRUE(tree_key(&view, &key, &redraw));
    tree_step_away(&view);

    // A parent chain that never reaches the root, and a sibling chain
    // without end: the search gives up.
    TreeNode endless{};
    endless.index = 1;
    endless.text = text;
    endless.next_sibling = [](const TreeNode* n, TreeNode* out) {
        *out = *n;
        return true;
    };
    view.root = endless;
    auto never = [](const TreeNode*, const void*) { return false; };
    EXPECT_FALSE(tree_select(&view, never, nullptr));
}

}  // namespace
