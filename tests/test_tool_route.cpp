// Routes between the PC and the archive through the archive tool: round
// trips of export and import, a route made on the PC walked and measured by
// the route screen, and bad route files refused with one clear message and
// no change to the archive.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "archive/measurement.h"
#include "archive/mount.h"
#include "archive/objects.h"
#include "archive/route.h"
#include "base/cp1251.h"
#include "front/common/instance.h"
#include "host/session.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "storage/nand.h"
#include "tests/support/flash_image.h"
#include "tests/support/support.h"
#include "tools/archive/route_io.h"

namespace {

constexpr const char* CLOCK = "2026-12-10T12:00:00";

class ToolRoute : public ::testing::Test {
protected:
    VirtualHostScope scope;
    TempDir data;
    u32 demo = 0;

    // An archive made by the instrument's code with the demonstration
    // route, at the image's full size, an hour ago: a route the tool stores
    // now is the newest.
    void SetUp() override
    {
        scope.host.set_clock(std::time(nullptr) - 3600);
        MountedFlash image;
        archive_state = ARCHIVE_MOUNTED;
        ASSERT_NE(obj_after_mount(), OBJ_FAILED);
        demo = route_make_test();
        ASSERT_NE(demo, 0u);
        ASSERT_TRUE(image.fill_chip());
        std::filesystem::copy_file(image.folder + "/flash.dat", data.file("flash.dat"));
    }

    RunResult tool(const std::string& args) const { return run_archive_tool(data.path(), args); }
    // The id of the route named `name` in the tool's listing, or 0.
    u32 route_id(const std::string& name) const
    {
        const std::string o = tool("ls").output;
        const std::string tail = "] " + name + "\n";
        const size_t at = o.find(tail);
        if (at == std::string::npos) return 0;
        const size_t open = o.rfind('[', at);
        return static_cast<u32>(std::stoul(o.substr(open + 1, at - open - 1)));
    }
    // The route file as stored.
    std::unique_ptr<RouteBuffer> stored(u32 id) const
    {
        auto buf = std::make_unique<RouteBuffer>();
        FlashFile flash(data.file("flash.dat"));
        EXPECT_EQ(fs_init(), FS_OK);
        EXPECT_EQ(fs_mount(), FS_OK);
        archive_state = ARCHIVE_MOUNTED;
        EXPECT_EQ(route_load(id, buf.get()), id);
        flash_handle = 0;
        return buf;
    }
    u64 last_written() const { return last_written_ns(data.file("flash.dat")); }
};

TEST_F(ToolRoute, ExportedRoutesComeBackAsTheyWere)
{
    for (const char* format : {"json", "csv"}) {
        SCOPED_TRACE(format);
        const std::string first = data.file(std::string("first.") + format);
        ASSERT_EQ(tool("route export " + std::to_string(demo) + " --format " + format + " --out " + shell_quote(first))
                      .status,
                  0);
        const std::string name = std::string("Копия ") + format;
        const RunResult r = tool("route import " + shell_quote(first) + " --name " + shell_quote(name));
        ASSERT_EQ(r.status, 0) << r.output;
        const u32 copy = route_id(name);
        ASSERT_NE(copy, 0u) << tool("ls").output;
        const std::string second = data.file(std::string("second.") + format);
        ASSERT_EQ(tool("route export " + std::to_string(copy) + " --format " + format + " --out " + shell_quote(second))
                      .status,
                  0);
        std::string want = read_text_file(first);
        if (std::string(format) == "json") {
            const std::string old_name = "\"name\": \"Маршрут 1\"";
            want.replace(want.find(old_name), old_name.size(), "\"name\": \"" + name + "\"");
        }
        EXPECT_EQ(read_text_file(second), want);
        // Both keep every item byte for byte but the route's.
        const auto a = stored(demo);
        const auto b = stored(copy);
        ASSERT_EQ(b->header.count, a->header.count);
        for (u32 i = 1; i < a->header.count; ++i)
            EXPECT_EQ(std::memcmp(&a->items[i], &b->items[i], sizeof(RouteItem)), 0) << "item " << i;
    }
}

// A '/' inside a name would split the CSV path: it is written as "\/".
TEST_F(ToolRoute, NamesWithTheCsvPathSeparatorComeBackWhole)
{
    write_text_file(data.file("slash.json"), R"({"name": "Линия 1/2", "items": [{"group": "Н-528/А", "items": [
      {"point": "1В\\2", "type": "spectrum", "quantity": "velocity", "lines": 400, "fmin": 0, "fmax": 1000,
       "averages": 1}]}]})");
    ASSERT_EQ(tool("route import " + shell_quote(data.file("slash.json"))).status, 0);
    const u32 id = route_id("Линия 1/2");
    ASSERT_NE(id, 0u);
    const RunResult csv =
        tool("route export " + std::to_string(id) + " --format csv --out " + shell_quote(data.file("slash.csv")));
    ASSERT_EQ(csv.status, 0) << csv.output;
    EXPECT_NE(read_text_file(data.file("slash.csv")).find("Н-528\\/А/1В\\\\2,spectrum"), std::string::npos)
        << read_text_file(data.file("slash.csv"));
    ASSERT_EQ(tool("route import " + shell_quote(data.file("slash.csv")) + " --name again").status, 0);
    const std::string listing = tool("ls").output;
    const size_t at = listing.find("] again\n");
    ASSERT_NE(at, std::string::npos) << listing;
    EXPECT_NE(listing.find("[1] group: Н-528/А", at), std::string::npos) << listing;
    EXPECT_NE(listing.find("[2] point: 1В\\2", at), std::string::npos) << listing;
}

TEST_F(ToolRoute, ARoutePreparedOnThePcIsWalkedAndMeasuredByTheRouteScreen)
{
    write_text_file(data.file("line5.json"), R"({
  "name": "Линия 5",
  "items": [
    {"group": "Компрессор К-2", "items": [
      {"point": "Подшипник 1", "type": "spectrum", "quantity": "velocity", "lines": 400, "fmin": 2,
       "fmax": 1000, "averages": 1},
      {"point": "Подшипник 2", "type": "waveform", "quantity": "acceleration", "lines": 1600, "fmin": 0,
       "fmax": 4000, "averages": 1}
    ]}
  ]
})");
    const RunResult imported = tool("route import " + shell_quote(data.file("line5.json")));
    ASSERT_EQ(imported.status, 0) << imported.output;
    EXPECT_NE(imported.output.find("Линия 5, 4 items"), std::string::npos) << imported.output;
    const u32 id = route_id("Линия 5");
    ASSERT_NE(id, 0u);
    // The route choice lists the imported route first (the newest); Enter
    // opens it, Enter on the route item goes to its first point, Enter
    // measures, Enter again saves.
    const std::string shot = data.file("choice.png");
    const RunResult run = run_runner({"--data", data.path(), "--clock", CLOCK, "--seed", "1", "--keys",
                                      "wait 1500; right; right; enter; wait 500; shot " + shot +
                                          "; enter; wait 300; enter; wait 300; enter; wait 5000; enter; wait 500; "
                                          "esc; wait 300; esc; wait 300"});
    ASSERT_EQ(run.status, 0) << run.output;
    const std::string listing = tool("ls").output;
    const size_t at = listing.find("route [" + std::to_string(id) + "] Линия 5");
    ASSERT_NE(at, std::string::npos) << listing;
    EXPECT_NE(listing.find("[2] point: Подшипник 1 #001", at), std::string::npos) << listing;
    EXPECT_NE(listing.find("[3] point: Подшипник 2 (to measure)", at), std::string::npos) << listing;
    EXPECT_EQ(tool("verify").status, 0);
}

TEST_F(ToolRoute, BadRouteFilesAreRefusedWithOneClearMessageAndChangeNothing)
{
    auto points = [](int n) {
        std::string s = R"({"name": "Большой", "items": [)";
        for (int i = 0; i < n; ++i)
            s +=
                std::string(i ? "," : "") + R"({"point": "P)" + std::to_string(i) +
                R"(", "type": "spectrum", "quantity": "velocity", "lines": 400, "fmin": 0, "fmax": 1000, "averages": 1})";
        return s + "]}";
    };
    auto zeros = [](int n) {
        std::string s = "[0";
        for (int i = 1; i < n; ++i) s += ",0";
        return s + "]";
    };
    std::string long_name;
    for (int i = 0; i < 64; ++i) long_name += "Ж";
    const std::string point =
        R"("type": "spectrum", "quantity": "velocity", "lines": 400, "fmin": 0, "fmax": 1000, "averages": 1)";
    const std::string twice = R"({"items": [{"point": "P", )" + point + R"(, "lines": 1600}]})";
    const struct {
        const char* what;
        const char* file;
        std::string text;
        std::string says;
    } cases[] = {
        {"cut JSON", "a.json", R"({"name": "A", "items": [)",
         "line 1, column 25: the text ends where a value should be"},
        {"not JSON", "a.json", "name = A", "line 1, column 1: unexpected text (null?)"},
        {"2000 items", "a.json", points(2000), "more than 1024 items"},
        {"1023 points and the route item fit", "b.json", points(1023), ""},
        {"name too long", "a.json", R"({"name": "A", "items": [{"group": ")" + long_name + R"("}]})",
         "is 64 bytes in Windows-1251; at most 63 fit"},
        {"unknown quantity", "a.json", R"({"items": [{"point": "P", "type": "spectrum", "quantity": "speed"}]})",
         "line 1, column 12: unknown quantity \"speed\""},
        {"lines not offered", "a.json",
         R"({"items": [{"point": "P", "type": "spectrum", "quantity": "velocity", "lines": 800}]})",
         "lines must be 400 or 1600"},
        {"unknown key", "a.json", R"({"items": [{"point": "P", "colour": "red"}]})",
         "line 1, column 37: unknown key \"colour\" for a point"},
        {"no Windows-1251 code", "a.json", R"({"items": [{"group": "中"}]})",
         "U+4E2D at byte 1 has no Windows-1251 code"},
        {"empty route", "a.json", R"({"name": "A", "items": []})", "the route has no groups or points"},
        {"control character", "a.json", R"({"items": [{"group": "Цех\n2"}]})",
         "a control character in a name (character 4)"},
        {"a key twice", "a.json", "{\"name\": \"A\",\n \"items\": [], \"name\": \"B\"}",
         "line 2, column 15: the key \"name\" a second time in one object"},
        {"a key twice in an item", "a.json", twice,
         "line 1, column " + std::to_string(twice.rfind("\"lines\"") + 1) +
             ": the key \"lines\" a second time in one object"},
        {"DEL in a name", "a.json", "{\"items\": [{\"group\": \"Цех\x7f\"}]}",
         "a control character in a name (character 4)"},
        {"overlong UTF-8", "a.json", "{\"items\": [{\"group\": \"Ц\xC1\x81\"}]}", "malformed UTF-8 at byte 3"},
        {"a surrogate in UTF-8", "a.json", "{\"items\": [{\"group\": \"\xED\xA0\x80\"}]}",
         "malformed UTF-8 at byte 1"},
        {"NUL in a key", "a.json", R"({"items": [{"point": "P", "co\u0000lour": 1}]})",
         "unknown key \"co\\x00lour\" for a point"},
        {"larger than any route", "a.json", std::string(ROUTE_JSON_MAX_BYTES + 1, ' '),
         "a.json: 4194305 bytes; a route's file in json has at most 4194304"},
        {"more values than any route", "a.json", zeros(20000),
         "line 1, column 32768: more than 16384 values"},
        {"CSV row too short", "a.csv", "path,type,quantity,lines,fmin,fmax,averages\nЦех/1В,spectrum,velocity\n",
         "line 2: 3 fields"},
        {"CSV number", "a.csv", "Цех/1В,spectrum,velocity,много,0,1000,1\n", "line 1: lines must be a whole number"},
        {"same name as a route", "a.json",
         "{\"name\": \"Маршрут 1\", \"items\": [{" + point.substr(0, 0) + "\"point\": \"P\", " + point + "}]}",
         "already has a route named Маршрут 1"},
        {"missing file", "none.json", "", "none.json: cannot open"},
    };
    const std::string before_listing = tool("ls").output;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = data.file(c.file);
        std::filesystem::remove(path);
        if (std::string(c.file) != "none.json") write_text_file(path, c.text);
        const u64 before = last_written();
        const RunResult r = tool("route import " + shell_quote(path));
        if (c.says.empty()) {
            EXPECT_EQ(r.status, 0) << r.output;
            continue;
        }
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
        EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
        EXPECT_EQ(last_written(), before) << "the archive was written to";
    }
    // The one good file added its route; nothing else changed.
    EXPECT_NE(route_id("Большой"), 0u);
}

TEST_F(ToolRoute, ImportWaitsForNoOneAndRefusesWhileTheArchiveIsInUse)
{
    write_text_file(data.file("r.csv"), "Цех/1В,spectrum,velocity,400,0,1000,1\n");
    DataDirLock emulator;
    std::string error;
    ASSERT_TRUE(emulator.acquire(data.path(), &error)) << error;
    const RunResult r = tool("route import " + shell_quote(data.file("r.csv")));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.output.find("another program"), std::string::npos) << r.output;
    // Reading goes on alongside.
    EXPECT_EQ(tool("route export " + std::to_string(demo)).status, 0);
    emulator.release();
    EXPECT_EQ(tool("route import " + shell_quote(data.file("r.csv"))).status, 0);
    EXPECT_NE(route_id("r"), 0u);
}

}  // namespace

// Spreadsheets save CSV with a byte-order mark in front and, where the
// decimal mark is ',', with ';' between fields: such files import as they
// come, to the same route as the plain file.
TEST_F(ToolRoute, SpreadsheetCsvFilesImportAsTheyCome)
{
    const std::string bom = "\xEF\xBB\xBF";
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"plain", "path,type,quantity,lines,fmin,fmax,averages\nЦех 1/Насос; вал/1В,spectrum,velocity,400,0,1000,1\n"
                  "Цех 1/Насос; вал/1П,waveform,acceleration,1600,0,4000,4\n"},
        {"byte-order mark", bom + "path,type,quantity,lines,fmin,fmax,averages\n"
                                  "Цех 1/Насос; вал/1В,spectrum,velocity,400,0,1000,1\n"
                                  "Цех 1/Насос; вал/1П,waveform,acceleration,1600,0,4000,4\n"},
        {"';' and a mark, no header", bom + "\"Цех 1/Насос; вал/1В\";spectrum;velocity;400;0;1000;1\r\n"
                                            "\"Цех 1/Насос; вал/1П\";waveform;acceleration;1600;0;4000;4\r\n"},
        {"';' with a header", "path;type;quantity;lines;fmin;fmax;averages\n"
                              "\"Цех 1/Насос; вал/1В\";spectrum;velocity;400;0;1000;1\n"
                              "\"Цех 1/Насос; вал/1П\";waveform;acceleration;1600;0;4000;4\n"},
    };
    std::string want;
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = "Лист " + std::to_string(++n);
        write_text_file(data.file("sheet.csv"), c.text);
        const RunResult r = tool("route import " + shell_quote(data.file("sheet.csv")) + " --name " + shell_quote(name));
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find(name + ", 5 items"), std::string::npos) << r.output;
        const RunResult out = tool("route export " + std::to_string(route_id(name)));
        ASSERT_EQ(out.status, 0) << out.output;
        std::string json = out.output;
        json.replace(json.find(name), name.size(), "NAME");
        if (want.empty()) want = json;
        EXPECT_EQ(json, want);
    }
    EXPECT_NE(want.find("\"group\": \"Цех 1\""), std::string::npos) << want;
    EXPECT_NE(want.find("\"group\": \"Насос; вал\""), std::string::npos) << want;
    EXPECT_NE(want.find("\"averages\": 4"), std::string::npos) << want;
}

// CSV gives a route back as JSON does: the points' stored type (the tag
// other than 1), groups without points, ignored or collapsed groups (on rows
// of their own), in their order.
TEST_F(ToolRoute, CsvKeepsThePointsTypeAndEmptyGroups)
{
    write_text_file(data.file("tags.json"), R"({"name": "Теги", "items": [
  {"group": "Цех", "items": [
    {"group": "Машина без точек"},
    {"point": "1В", "type": "spectrum", "quantity": "velocity", "lines": 400, "fmin": 0, "fmax": 1000,
     "averages": 1, "point_type": 7},
    {"group": "Резерв", "ignored": true, "items": [{"group": "Пусто"}]},
    {"point": "2В", "type": "waveform", "quantity": "displacement", "lines": 1600, "fmin": 0, "fmax": 400,
     "averages": 10}
  ]},
  {"group": "Склад", "collapsed": true, "items": [{"group": "Стеллаж", "collapsed": true, "ignored": true}]}
]})");
    ASSERT_EQ(tool("route import " + shell_quote(data.file("tags.json"))).status, 0);
    const u32 id = route_id("Теги");
    ASSERT_NE(id, 0u);
    const std::string csv = data.file("tags.csv");
    ASSERT_EQ(tool("route export " + std::to_string(id) + " --format csv --out " + shell_quote(csv)).status, 0);
    const RunResult again = tool("route import " + shell_quote(csv) + " --name Теги");
    EXPECT_EQ(again.status, 2);  // the name is taken: the CSV names its route by --name
    ASSERT_EQ(tool("route import " + shell_quote(csv) + " --name Копия").status, 0);
    const u32 copy = route_id("Копия");
    ASSERT_NE(copy, 0u);
    const auto a = stored(id);
    const auto b = stored(copy);
    ASSERT_EQ(b->header.count, a->header.count) << read_text_file(csv);
    for (u32 i = 1; i < a->header.count; ++i)
        EXPECT_EQ(std::memcmp(&a->items[i], &b->items[i], sizeof(RouteItem)), 0) << "item " << i << "\n"
                                                                                   << read_text_file(csv);
}

// The deepest route the instrument holds (255 levels) goes out and comes
// back in both formats; one level more is refused naming the item.
TEST_F(ToolRoute, RoutesAsDeepAsTheInstrumentHoldsGoOutAndComeBack)
{
    auto nested = [](u32 levels) {
        std::string s = R"({"name": "Глубокий", "items": [)";
        for (u32 l = 1; l < levels; ++l) s += "{\"group\": \"Г" + std::to_string(l) + "\", \"items\": [";
        s += R"({"point": "Т", "type": "spectrum", "quantity": "velocity", "lines": 400, "fmin": 0, "fmax": 1000,
                 "averages": 1})";
        for (u32 l = 1; l < levels; ++l) s += "]}";
        return s + "]}";
    };
    write_text_file(data.file("deep.json"), nested(ROUTE_MAX_LEVEL));
    const RunResult r = tool("route import " + shell_quote(data.file("deep.json")));
    ASSERT_EQ(r.status, 0) << r.output;
    const u32 id = route_id("Глубокий");
    ASSERT_NE(id, 0u);
    EXPECT_EQ(stored(id)->items[ROUTE_MAX_LEVEL].level, ROUTE_MAX_LEVEL);
    for (const char* format : {"json", "csv"}) {
        SCOPED_TRACE(format);
        const std::string out = data.file(std::string("deep-out.") + format);
        ASSERT_EQ(tool("route export " + std::to_string(id) + " --format " + format + " --out " + shell_quote(out))
                      .status,
                  0);
        const std::string name = std::string("Снова ") + format;
        const RunResult back = tool("route import " + shell_quote(out) + " --name " + shell_quote(name));
        ASSERT_EQ(back.status, 0) << back.output;
        const auto a = stored(id);
        const auto b = stored(route_id(name));
        ASSERT_EQ(b->header.count, a->header.count);
        for (u32 i = 1; i < a->header.count; ++i)
            EXPECT_EQ(std::memcmp(&a->items[i], &b->items[i], sizeof(RouteItem)), 0) << "item " << i;
    }
    write_text_file(data.file("deeper.json"), nested(ROUTE_MAX_LEVEL + 1));
    const RunResult deeper = tool("route import " + shell_quote(data.file("deeper.json")));
    EXPECT_EQ(deeper.status, 2);
    EXPECT_NE(deeper.output.find("deeper than 255 levels"), std::string::npos) << deeper.output;
}

// The largest route the instrument holds (1024 items, 255 levels, every name
// 63 characters of three UTF-8 bytes) goes out and comes back in both
// formats: the bound on what import reads leaves room for it.
TEST_F(ToolRoute, TheLargestRouteGoesOutAndComesBack)
{
    auto big = std::make_unique<RouteBuffer>();
    std::string name_utf8;
    for (u32 i = 0; i < ROUTE_NAME_SIZE - 1; ++i) name_utf8 += "€";
    std::string cp;
    for (u32 i = 0; i < ROUTE_NAME_SIZE - 1; ++i) cp += "€"_cp;
    // The route item, 254 groups one in another, then points at the
    // deepest level to the last item; every name the same 63 characters
    // but the route's.
    route_clear(big.get());
    for (u32 i = 0; i < ROUTE_MAX_ITEMS; ++i) {
        RouteItem& it = big->items[i];
        std::memset(&it, 0, sizeof it);
        it.state = ROUTE_STATE_NOT_MEASURED;
        it.measurement = ROUTE_NO_MEASUREMENT;
        std::memcpy(it.name, cp.data(), cp.size());
        it.level = i < ROUTE_MAX_LEVEL ? i : ROUTE_MAX_LEVEL;
        it.parent = i == 0 ? ROUTE_NO_PARENT : static_cast<i32>(i < ROUTE_MAX_LEVEL ? i - 1 : ROUTE_MAX_LEVEL - 1);
        it.node_kind = i == 0 ? ROUTE_NODE_ROUTE : i < ROUTE_MAX_LEVEL ? ROUTE_NODE_GROUP : ROUTE_NODE_POINT;
        it.expanded = i < ROUTE_MAX_LEVEL ? 1 : 0;
        if (i >= ROUTE_MAX_LEVEL) {
            it.point_type = 1;
            it.spectrum = ROUTE_SPECTRUM;
            it.quantity = ROUTE_QUANTITY_VELOCITY;
            it.lines = 1600;
            it.fmax = 1000;
            it.averages = 1;
        }
    }
    std::memcpy(big->header.name, "Big", 4);
    std::memset(big->items[0].name, 0, sizeof big->items[0].name);
    std::memcpy(big->items[0].name, "Big", 4);
    big->header.count = ROUTE_MAX_ITEMS;
    ASSERT_TRUE(route_check(big.get()));
    for (const char* format : {"json", "csv"}) {
        SCOPED_TRACE(format);
        const std::string text = std::string(format) == "json" ? route_to_json(*big) : route_to_csv(*big);
        EXPECT_LE(text.size(), std::string(format) == "json" ? ROUTE_JSON_MAX_BYTES : ROUTE_CSV_MAX_BYTES);
        const std::string path = data.file(std::string("big.") + format);
        write_text_file(path, text);
        const std::string name = std::string("Big ") + format;
        const RunResult r = tool("route import " + shell_quote(path) + " --name " + shell_quote(name));
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find("1024 items"), std::string::npos) << r.output;
        const auto back = stored(route_id(name));
        for (u32 i = 1; i < ROUTE_MAX_ITEMS; ++i) {
            EXPECT_EQ(std::string(back->items[i].name), cp) << i;
            EXPECT_EQ(back->items[i].level, big->items[i].level) << i;
        }
    }
}
