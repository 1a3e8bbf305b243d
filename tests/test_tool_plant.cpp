// Routes made from a virtual plant and their grade, through the archive tool
// and the headless runner: the example plants make routes whose points' paths
// are the plants' paths; a route walked by the runner (each point measured
// with its plant point fed) grades as passing, with the expected overall
// values the instrument reads; a wrong reading, a missing point and a point
// measured with other settings show as such.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/plant.h"
#include "archive/route.h"
#include "base/json_parse.h"
#include "screens/plant_bearings.h"
#include "tests/support/support.h"
#include "tools/archive/plant_route.h"
#include "tools/archive/route_io.h"

namespace {

const std::string SOURCE_DIR = TARVIK2_SOURCE_DIR;
const std::string PUMP_SET = SOURCE_DIR + "/examples/plants/pump_set.json";
const std::string COURSE = SOURCE_DIR + "/examples/plants/course.json";
constexpr const char* CLOCK = "2026-12-10T12:00:00";

Plant load(const std::string& path)
{
    Plant p;
    const std::string e = plant_load(path, plant_bearing_lookup, &p);
    EXPECT_EQ(e, "");
    return p;
}

// A plant of one group, one machine and its points (JSON members of each).
std::string plant_text(const std::string& machine, const std::vector<std::string>& points,
                       const std::string& group = "G")
{
    std::string t = R"({"format": "tarvik2-plant", "version": 1, "groups": [{"name": ")" + group +
                    R"(", "machines": [{)" + machine + R"(, "points": [)";
    for (size_t i = 0; i < points.size(); ++i) t += (i ? ", " : "") + points[i];
    return t + "]}]}]}";
}

// A data folder with a fresh archive, made by the runner's first start.
void fresh_archive(const std::string& dir)
{
    const RunResult r = run_runner({"--data", dir, "--clock", CLOCK, "--seed", "1", "--keys", "wait 1500"});
    ASSERT_EQ(r.status, 0) << r.output;
}

// Walks the route `name` (stored first in the route choice) of the archive in
// `dir` with the runner, one run per point in route order: the route screen
// opens on the point (or on the group before it: Enter goes to the point),
// Enter measures it with the point's settings and the averaging saves it.
// The route walk feeds each point its own signal from the plant file that
// `feed` gives for it (`plant_file` unless it says otherwise; "" leaves the
// point out).
void walk(const std::string& dir, const std::string& plant_file, const RouteBuffer& route,
          const std::function<std::string(const std::string&)>& feed = {})
{
    bool first = true, on_group = true;
    for (u32 i = 1; i < route.header.count; ++i) {
        if (route.items[i].node_kind != ROUTE_NODE_POINT) {
            on_group = true;
            continue;
        }
        const std::string path = route_item_path(route, i);
        const std::string fed = feed ? feed(path) : plant_file;
        if (fed.empty()) continue;
        // 4 averages of 4096-sample records: up to 16 s at 400 Hz.
        std::string keys = "wait 1500; right; right; enter; wait 500; ";
        if (first) keys += "enter; wait 300; ";  // the route choice: this route
        if (on_group) keys += "enter; wait 300; ";
        keys += "enter; wait 20000; esc; wait 500";
        const RunResult r = run_runner({"--data", dir, "--clock", CLOCK, "--seed", "1", "--plant", fed, "--keys", keys});
        ASSERT_EQ(r.status, 0) << path << ": " << r.output;
        first = on_group = false;
    }
}

JsonValue parse(const std::string& text)
{
    JsonValue v;
    std::string why;
    EXPECT_TRUE(json_parse(text, JsonLimits{16, 1000000}, &v, &why)) << why << "\n" << text;
    return v;
}

// The graded points of a grade's JSON by path.
std::map<std::string, const JsonValue*> graded_points(const JsonValue& report)
{
    std::map<std::string, const JsonValue*> out;
    const JsonValue* points = report.find("points");
    if (!points) return out;
    for (const JsonValue& p : points->items) out[p.find("path")->text] = &p;
    return out;
}

TEST(ToolPlant, TheExamplePlantsMakeRoutesWhosePointsPathsAreThePlantsPaths)
{
    for (const std::string& file : {PUMP_SET, COURSE}) {
        SCOPED_TRACE(file);
        const Plant p = load(file);
        auto buf = std::make_unique<RouteBuffer>();
        std::string error;
        ASSERT_TRUE(plant_route_build(p, plant_route_name(p), buf.get(), &error)) << error;
        EXPECT_EQ(std::string(buf->header.name), p.name);  // ASCII names: the same bytes
        EXPECT_EQ(std::string(buf->items[0].name), p.name);
        std::vector<std::string> paths;
        std::set<std::string> machines;
        for (u32 i = 1; i < buf->header.count; ++i) {
            const RouteItem& it = buf->items[i];
            if (it.node_kind == ROUTE_NODE_POINT) {
                EXPECT_EQ(it.level, 3u);
                paths.push_back(route_item_path(*buf, i));
            } else {
                EXPECT_LE(it.level, 2u);
                if (it.level == 2) machines.insert(route_item_path(*buf, i));
            }
        }
        EXPECT_EQ(paths, plant_point_paths(p));
        EXPECT_TRUE(route_check(buf.get()));
        // The route as JSON is what route import takes.
        std::string json;
        ASSERT_TRUE(plant_route_json(p, p.name, &json, &error));
        auto again = std::make_unique<RouteBuffer>();
        ASSERT_TRUE(route_from_json(json, "x", again.get(), &error)) << error;
        EXPECT_EQ(route_to_json(*again), route_to_json(*buf));
        if (file == COURSE) {
            EXPECT_GE(machines.size(), 10u);
            EXPECT_GE(paths.size(), 40u);
        }
    }
    // The course has every fault kind, and its notes name every machine.
    const Plant course = load(COURSE);
    std::set<PlantFault> kinds;
    const std::string notes = read_text_file(SOURCE_DIR + "/examples/plants/course.md");
    for (const PlantGroup& g : course.groups)
        for (const PlantMachine& m : g.machines) {
            EXPECT_NE(notes.find(m.name), std::string::npos) << m.name;
            for (const PlantPoint& pt : m.points)
                for (const PlantComponent& c : pt.components) kinds.insert(c.kind);
        }
    EXPECT_EQ(kinds.size(), 12u);
}

TEST(ToolPlant, EachPointGetsTheSettingsItsFaultsCallFor)
{
    struct Case {
        const char* what;
        const char* machine;
        const char* components;
        u32 quantity;
        i32 fmax;
    };
    const Case cases[] = {
        {"unbalance", R"("name": "M", "rpm": 1480)", R"({"kind": "unbalance", "severity": 2})", ROUTE_QUANTITY_VELOCITY,
         1000},
        {"electrical", R"("name": "M", "rpm": 2980)", R"({"kind": "electrical", "severity": 2})",
         ROUTE_QUANTITY_VELOCITY, 1000},
        {"a slow machine", R"("name": "M", "rpm": 740)", R"({"kind": "unbalance", "severity": 2})",
         ROUTE_QUANTITY_VELOCITY, 400},
        {"a slow machine's vane pass above 320 Hz", R"("name": "M", "rpm": 900)",
         R"({"kind": "vane_pass", "blades": 24, "severity": 2})", ROUTE_QUANTITY_VELOCITY, 1000},
        {"a gear's second mesh harmonic above 1000 Hz", R"("name": "M", "rpm": 1490)",
         R"({"kind": "gear_mesh", "teeth": 23, "severity": 2})", ROUTE_QUANTITY_ACCELERATION, 4000},
        {"outer race", R"("name": "M", "rpm": 1480, "bearings": ["6310"])",
         R"({"kind": "outer_race", "bearing": "6310", "severity": 2})", ROUTE_QUANTITY_ACCELERATION, 4000},
        {"noise", R"("name": "M", "rpm": 1480)", R"({"kind": "noise", "severity": 2})", ROUTE_QUANTITY_ACCELERATION,
         4000},
        {"no fault", R"("name": "M", "rpm": 1480)", "", ROUTE_QUANTITY_VELOCITY, 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Plant p;
        const std::string text = plant_text(
            c.machine,
            {std::string(R"({"name": "P", "direction": "vertical", "components": [)") + c.components + "]}"});
        ASSERT_EQ(plant_parse(text, "t.json", plant_bearing_lookup, &p), "");
        const PlantPointSetup s = plant_point_setup(p, p.groups[0].machines[0], p.groups[0].machines[0].points[0]);
        EXPECT_TRUE(s.spectrum);
        EXPECT_EQ(s.quantity, c.quantity);
        EXPECT_EQ(s.fmax, c.fmax);
        EXPECT_EQ(s.lines, 1600);
        EXPECT_EQ(s.averages, 4);
    }
}

TEST(ToolPlant, NamesARouteCannotHoldAreRefusedWithTheirPlacesAndNothingIsStored)
{
    TempDir data;
    ASSERT_NO_FATAL_FAILURE(fresh_archive(data.path()));
    const std::string before = run_archive_tool(data.path(), "ls").output;
    const std::string point = R"({"name": "P", "direction": "vertical"})";
    struct Case {
        const char* what;
        std::string text;
        const char* message;
    };
    const Case cases[] = {
        {"a machine's name of 64 bytes",
         plant_text(R"("name": ")" + std::string(64, 'm') + R"(", "rpm": 1480)", {point}),
         "$.groups[0].machines[0].name: the name \""},
        {"a point's name without Windows-1251",
         plant_text(R"("name": "M", "rpm": 1480)", {point, R"({"name": "泵", "direction": "axial"})"}),
         "$.groups[0].machines[0].points[1].name: the name \"泵\""},
        {"a group's name of 32 Cyrillic letters (64 bytes in Windows-1251, fewer in UTF-8 than it)",
         plant_text(R"("name": "M", "rpm": 1480)", {point},
                    "ЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖ"),
         "$.groups[0].name: the name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = data.file("plant.json");
        write_text_file(file, c.text);
        const RunResult r = run_archive_tool(data.path(), "route from-plant " + shell_quote(file));
        EXPECT_EQ(r.status, 2) << r.output;
        EXPECT_NE(r.output.find(file + ": " + c.message), std::string::npos) << r.output;
        EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
        EXPECT_EQ(run_archive_tool(data.path(), "ls").output, before);
    }
    // Named by the file when the plant has no name; a second route of that
    // name is refused, a --name makes another.
    write_text_file(data.file("Line 7.json"), plant_text(R"("name": "M", "rpm": 1480)", {point}));
    const std::string cmd = "route from-plant " + shell_quote(data.file("Line 7.json"));
    RunResult r = run_archive_tool(data.path(), cmd);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(": Line 7, 4 items"), std::string::npos) << r.output;
    r = run_archive_tool(data.path(), cmd);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.output.find("already has a route named Line 7 (give another with --name)"), std::string::npos)
        << r.output;
    r = run_archive_tool(data.path(), cmd + " --name 'Line 7b'");
    EXPECT_EQ(r.status, 0) << r.output;
}

// The pump set walked with the runner: every point passes, and the expected
// overall values are what the instrument read.
TEST(ToolPlant, AWalkedRouteGradesAsPassingWithTheValuesTheInstrumentReads)
{
    TempDir data;
    ASSERT_NO_FATAL_FAILURE(fresh_archive(data.path()));
    RunResult r = run_archive_tool(data.path(), "route from-plant " + shell_quote(PUMP_SET));
    ASSERT_EQ(r.status, 0) << r.output;
    // Nothing measured yet: every point missing.
    r = run_archive_tool(data.path(), "grade --plant " + shell_quote(PUMP_SET));
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("0 of 4 points pass; 0 failed, 0 with a wrong setup, 4 missing"), std::string::npos)
        << r.output;

    const Plant p = load(PUMP_SET);
    auto buf = std::make_unique<RouteBuffer>();
    std::string error;
    ASSERT_TRUE(plant_route_build(p, p.name, buf.get(), &error)) << error;
    ASSERT_NO_FATAL_FAILURE(walk(data.path(), PUMP_SET, *buf));

    r = run_archive_tool(data.path(), "grade --plant " + shell_quote(PUMP_SET) + " --format json");
    ASSERT_EQ(r.status, 0) << r.output;
    const JsonValue report = parse(r.output);
    const auto points = graded_points(report);
    ASSERT_EQ(points.size(), 4u);
    // The severities of the file: the velocity RMS of each point's lines.
    const std::map<std::string, double> severity{{"Pump set/Motor/M1 V", std::hypot(0.8, 0.3)},
                                                 {"Pump set/Motor/M1 A", 0.4},
                                                 {"Pump set/Pump/P1 V", std::hypot(5.6, 0.6)},
                                                 {"Pump set/Pump/P1 H", std::hypot(7.1, 0.5)}};
    for (const auto& [path, v] : points) {
        SCOPED_TRACE(path);
        EXPECT_EQ(v->find("result")->text, "pass");
        const double expected = v->find("expected")->number, measured = v->find("measured")->number;
        EXPECT_EQ(v->find("unit")->text, "mm/s");
        // The noise floor adds a little to the lines.
        EXPECT_NEAR(expected, severity.at(path), 0.01 * severity.at(path));
        EXPECT_NEAR(measured, expected, 0.02 * expected);
        // The instrument's own velocity RMS, stored with the reading.
        EXPECT_NEAR(v->find("stored_velocity_rms_mm_s")->number, expected, 0.02 * expected);
    }
    // The text table and the HTML report say the same.
    r = run_archive_tool(data.path(), "grade --plant " + shell_quote(PUMP_SET));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("4 of 4 points pass"), std::string::npos) << r.output;
    r = run_archive_tool(data.path(), "grade --plant " + shell_quote(PUMP_SET) + " --format html --out " +
                                          shell_quote(data.file("grade.html")));
    EXPECT_EQ(r.status, 0) << r.output;
    const std::string html = read_text_file(data.file("grade.html"));
    size_t svgs = 0;
    for (size_t at = html.find("<svg"); at != std::string::npos; at = html.find("<svg", at + 1)) ++svgs;
    EXPECT_EQ(svgs, 4u);
    EXPECT_NE(html.find("4 of 4 points pass"), std::string::npos);
}

// A route with one point's settings changed, walked with one point on a
// machine other than the plant's and one point left out.
TEST(ToolPlant, AWrongReadingAWrongSetupAndAMissingPointShowAsSuch)
{
    TempDir data;
    ASSERT_NO_FATAL_FAILURE(fresh_archive(data.path()));
    const std::string json = data.file("route.json");
    RunResult r =
        run_archive_tool(data.path(), "route from-plant " + shell_quote(PUMP_SET) + " --out " + shell_quote(json));
    ASSERT_EQ(r.status, 0) << r.output;
    std::string text = read_text_file(json);
    // M1 A, the second point, measured up to 400 Hz.
    const size_t m1a = text.find("\"M1 A\"");
    ASSERT_NE(m1a, std::string::npos) << text;
    const size_t fmax = text.find("\"fmax\": 1000", m1a);
    ASSERT_NE(fmax, std::string::npos) << text;
    text.replace(fmax, 12, "\"fmax\": 400");
    write_text_file(json, text);
    r = run_archive_tool(data.path(), "route import " + shell_quote(json));
    ASSERT_EQ(r.status, 0) << r.output;
    auto buf = std::make_unique<RouteBuffer>();
    std::string error;
    ASSERT_TRUE(route_from_json(text, "x", buf.get(), &error)) << error;
    // P1 V measured on a pump that is not the plant's: its impeller whole.
    std::string mended = read_text_file(PUMP_SET);
    const size_t fault = mended.find("\"severity\": 5.6");
    ASSERT_NE(fault, std::string::npos);
    mended.replace(fault, 15, "\"severity\": 0.4");
    const std::string other = data.file("mended.json");
    write_text_file(other, mended);
    ASSERT_NO_FATAL_FAILURE(walk(data.path(), PUMP_SET, *buf, [&](const std::string& path) -> std::string {
        if (path == "Pump set/Pump/P1 H") return "";  // left out
        if (path == "Pump set/Pump/P1 V") return other;
        return PUMP_SET;
    }));

    r = run_archive_tool(data.path(), "grade --plant " + shell_quote(PUMP_SET) + " --format json");
    EXPECT_EQ(r.status, 1) << r.output;
    const JsonValue report = parse(r.output);
    auto points = graded_points(report);
    ASSERT_EQ(points.size(), 4u);
    EXPECT_EQ(points["Pump set/Motor/M1 V"]->find("result")->text, "pass");
    const JsonValue* a = points["Pump set/Motor/M1 A"];
    EXPECT_EQ(a->find("result")->text, "wrong setup");
    EXPECT_EQ(a->find("measured_setup")->find("fmax")->number, 400);
    EXPECT_NE(a->find("note")->text.find("the route's point asks for velocity spectrum, 1600 lines, 400 Hz"),
              std::string::npos);
    const JsonValue* v = points["Pump set/Pump/P1 V"];
    EXPECT_EQ(v->find("result")->text, "fail");
    EXPECT_LT(v->find("measured")->number, 0.2 * v->find("expected")->number);
    EXPECT_EQ(points["Pump set/Pump/P1 H"]->find("result")->text, "missing");
    EXPECT_EQ(points["Pump set/Pump/P1 H"]->find("measured")->type, JsonValue::Null);
    const JsonValue* summary = report.find("summary");
    EXPECT_EQ(summary->find("pass")->number, 1);
    EXPECT_EQ(summary->find("fail")->number, 1);
    EXPECT_EQ(summary->find("wrong_setup")->number, 1);
    EXPECT_EQ(summary->find("missing")->number, 1);

    r = run_archive_tool(data.path(), "grade --plant " + shell_quote(PUMP_SET));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("1 of 4 points pass; 1 failed, 1 with a wrong setup, 1 missing"), std::string::npos)
        << r.output;
}

// Every point of the course, walked: the model's expected values hold for
// every fault kind (tones, impacts and noise, averaged spectra).
TEST(ToolPlant, EveryPointOfTheCourseReadsItsExpectedValue)
{
    TempDir data;
    ASSERT_NO_FATAL_FAILURE(fresh_archive(data.path()));
    RunResult r = run_archive_tool(data.path(), "route from-plant " + shell_quote(COURSE));
    ASSERT_EQ(r.status, 0) << r.output;
    const Plant p = load(COURSE);
    auto buf = std::make_unique<RouteBuffer>();
    std::string error;
    ASSERT_TRUE(plant_route_build(p, p.name, buf.get(), &error)) << error;
    ASSERT_NO_FATAL_FAILURE(walk(data.path(), COURSE, *buf));
    r = run_archive_tool(data.path(), "grade --plant " + shell_quote(COURSE) + " --format json");
    EXPECT_EQ(r.status, 0) << r.output;
    const JsonValue report = parse(r.output);
    const auto points = graded_points(report);
    EXPECT_EQ(points.size(), plant_point_paths(p).size());
    for (const auto& [path, v] : points) {
        SCOPED_TRACE(path);
        EXPECT_EQ(v->find("result")->text, "pass");
        const double expected = v->find("expected")->number;
        EXPECT_NEAR(v->find("measured")->number, expected, 0.03 * expected);
    }
}

TEST(ToolPlant, GradeRefusesWhatItCannotGradeWithOneLine)
{
    TempDir data;
    ASSERT_NO_FATAL_FAILURE(fresh_archive(data.path()));
    write_text_file(data.file("bad.json"), R"({"format": "tarvik2-plant", "version": 2, "groups": []})");
    struct Case {
        std::string args;
        std::string message;
    };
    const Case cases[] = {
        {"grade --plant " + shell_quote(PUMP_SET),
         data.path() + "/flash.dat has no route named Pump set walk-through (make it with: route from-plant " +
             PUMP_SET + ")"},
        {"grade --plant " + shell_quote(data.file("bad.json")), data.file("bad.json") + ": $.version: version 2"},
        {"grade --plant " + shell_quote(data.file("none.json")), data.file("none.json") + ": cannot read"},
        {"grade", "grade: give the plant with --plant FILE"},
        {"grade --plant " + shell_quote(PUMP_SET) + " --format pdf", "unknown format pdf"},
        {"grade --plant " + shell_quote(PUMP_SET) + " --tolerance 0", "--tolerance takes a percentage"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const RunResult r = run_archive_tool(data.path(), c.args);
        EXPECT_EQ(r.status, 2) << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
        EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
    }
}

}  // namespace
