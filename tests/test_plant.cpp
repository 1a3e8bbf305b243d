// The virtual plant: its file (the examples, faults named by file, JSON path
// and what is wrong, nothing half-loaded), the fault models as the
// instrument measures them (overall velocity against the severity given,
// lines at the model's multiples of the running speed, bearing defect lines
// at the catalogue's frequencies with the inner race's and the gear's
// sidebands), the synthesis without seams, and the runner's options end to
// end through a saved reading.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/meas_module.h"
#include "analysis/measures.h"
#include "analysis/plant.h"
#include "analysis/plant_source.h"
#include "analysis/plant_synth.h"
#include "analysis/signal.h"
#include "base/json_parse.h"
#include "host/device.h"
#include "host/settings.h"
#include "screens/bearings.h"
#include "screens/plant_bearings.h"
#include "tests/support/setups.h"
#include "tests/support/support.h"

namespace {

const std::string SOURCE_DIR = TARVIK2_SOURCE_DIR;
constexpr double RPM = 1480;
constexpr double SHAFT_HZ = RPM / 60;

// A plant of one group "G", one machine "M" at `rpm` with `machine_extra`
// fields, one point "P" in `direction` with the given components (JSON).
std::string one_point(const std::string& direction, const std::string& components,
                      const std::string& machine_extra = "", double noise_floor = 0.02)
{
    std::ostringstream s;
    s << R"({"format": "tarvik2-plant", "version": 1, "noise_floor": )" << noise_floor
      << R"(, "groups": [{"name": "G", "machines": [{"name": "M", "rpm": )" << RPM << machine_extra
      << R"(, "bearings": ["6309", "6205"], "points": [{"name": "P", "direction": ")" << direction
      << R"(", "temperature": 57, "components": [)" << components << "]}]}]}]}";
    return s.str();
}

Plant parse_ok(const std::string& text)
{
    Plant p;
    const std::string e = plant_parse(text, "t.json", plant_bearing_lookup, &p);
    EXPECT_EQ(e, "");
    return p;
}

PlantBearingFactors catalogue(const char* name)
{
    PlantBearingFactors f;
    EXPECT_TRUE(plant_bearing_lookup(name, &f)) << name;
    return f;
}

class PlantChain : public ::testing::Test {
protected:
    void SetUp() override { measuring_fresh(SetupRate::Hz2560, 99); }
    void TearDown() override
    {
        plant_source_walk_end();
        plant_source_close();
    }

    static void open(const std::string& text)
    {
        const Plant p = parse_ok(text);
        ASSERT_EQ(plant_source_open(p, "G/M/P"), "");
    }
    // Whole acquisition cycles of the vibrometer's request with the
    // shock-pulse input and its analysis.
    static void measure(int cycles)
    {
        meas_start(REQ_VIBRATION | REQ_SHOCK | REQ_TEMPERATURE | REQ_PROCESS | REQ_SHOCK_ANALYSIS);
        meas_set_running(1);
        for (int i = 0; i < cycles; ++i) ASSERT_EQ(meas_step(), 0);
    }
    static double velocity_rms(int cycles = 4)
    {
        band_values_clear();
        measure(cycles);
        return meas_band_value(1, Q_V);
    }

    VirtualHostScope scope;
};

double amplitude(SignalRecord* r, u32 k)
{
    return std::sqrt(static_cast<double>(line_power(r, k))) * r->scale;
}

// A line expected at `hz`: the largest line within two bins lies within one
// bin of it; returns the amplitude of the line's energy over those bins
// (Hamming window: equivalent noise bandwidth 1.363 bins).
double line_near(SignalRecord* r, double hz, double* found_hz)
{
    const int c = static_cast<int>(std::lround(hz / r->dx));
    int best = c;
    double power = 0;
    for (int k = std::max(2, c - 2); k <= std::min<int>(c + 2, static_cast<int>(r->count) - 1); ++k) {
        if (amplitude(r, k) > amplitude(r, best)) best = k;
        power += amplitude(r, k) * amplitude(r, k);
    }
    *found_hz = x_at(r, best);
    return std::sqrt(power / 1.363);
}

double median_amplitude(SignalRecord* r, u32 from)
{
    std::vector<double> a;
    for (u32 k = from; k < r->count; ++k) a.push_back(amplitude(r, k));
    std::nth_element(a.begin(), a.begin() + a.size() / 2, a.end());
    return a[a.size() / 2];
}

struct Line {
    double order;  // times the shaft frequency; 0: at `hz`
    double hz;
    double weight;
};

struct TonalCase {
    const char* name;
    const char* direction;
    std::string component;
    double severity;
    // The lines the model of the literature gives, relative weights.
    std::vector<Line> lines;
};

std::vector<TonalCase> tonal_cases()
{
    std::vector<Line> looseness;
    for (int k = 1; k <= 10; ++k) looseness.push_back({double(k), 0, std::pow(0.8, k - 1)});
    for (int k = 0; k < 10; ++k) looseness.push_back({k + 0.5, 0, 0.4 * std::pow(0.8, k)});
    std::vector<Line> gear{{23, 0, 1}};
    for (int s = 1; s <= 3; ++s) {
        gear.push_back({23.0 - s, 0, 0.3 * std::pow(0.5, s - 1)});
        gear.push_back({23.0 + s, 0, 0.3 * std::pow(0.5, s - 1)});
    }
    return {
        {"unbalance", "vertical", R"({"kind": "unbalance", "severity": 4.5})", 4.5, {{1, 0, 1}}},
        {"misalignment axial",
         "axial",
         R"({"kind": "misalignment", "severity": 3})",
         3,
         {{1, 0, 1}, {2, 0, 0.75}, {3, 0, 0.3}}},
        {"misalignment radial",
         "horizontal",
         R"({"kind": "misalignment", "severity": 3})",
         3,
         {{1, 0, 0.6}, {2, 0, 1}, {3, 0, 0.3}}},
        {"looseness", "horizontal", R"({"kind": "looseness", "severity": 6})", 6, looseness},
        {"bent shaft", "axial", R"({"kind": "bent_shaft", "severity": 2.5})", 2.5, {{1, 0, 1}, {2, 0, 0.6}}},
        {"gear mesh", "vertical", R"({"kind": "gear_mesh", "teeth": 23, "severity": 2})", 2, gear},
        {"vane pass",
         "vertical",
         R"({"kind": "vane_pass", "blades": 7, "severity": 1.8})",
         1.8,
         {{7, 0, 1}, {14, 0, 0.35}}},
        {"electrical", "horizontal", R"({"kind": "electrical", "severity": 1.2})", 1.2, {{0, 100, 1}}},
    };
}

TEST_F(PlantChain, EveryTonalFaultReadsItsSeverityAndShowsItsLines)
{
    for (const TonalCase& c : tonal_cases()) {
        SCOPED_TRACE(c.name);
        results_reset();
        open(one_point(c.direction, c.component));
        // The overall velocity the vibrometer reads: the severity given.
        EXPECT_NEAR(velocity_rms(), c.severity, 0.02 * c.severity);

        // The lines at the model's frequencies, with the model's shares of
        // the severity, and nothing else of weight in the band.
        SignalRecord* sv = nullptr;
        ASSERT_EQ(meas_get_record(1, KIND_S, Q_V, &sv), 1);
        double in_band = 0;
        for (const Line& l : c.lines) {
            const double f = l.order > 0 ? l.order * SHAFT_HZ : l.hz;
            if (f >= 10 && f <= 1000) in_band += l.weight * l.weight;
        }
        const double unit = c.severity * std::sqrt(2.0 / in_band);  // peak of weight 1
        double lines_power = 0;
        for (const Line& l : c.lines) {
            const double f = l.order > 0 ? l.order * SHAFT_HZ : l.hz;
            if (f < 10 || f > 1000) continue;
            SCOPED_TRACE(f);
            double at = 0;
            const double a = line_near(sv, f, &at);
            EXPECT_NEAR(at, f, sv->dx);
            EXPECT_NEAR(a, l.weight * unit, 0.15 * l.weight * unit);
            lines_power += a * a;
        }
        double total = 0;
        for (u32 k = static_cast<u32>(10 / sv->dx); k <= static_cast<u32>(1000 / sv->dx); ++k)
            total += amplitude(sv, k) * amplitude(sv, k);
        total /= 1.363;
        EXPECT_GT(lines_power, 0.95 * total);
    }
}

TEST_F(PlantChain, ComponentsAddAsPowersAndADriftingSpeedKeepsTheSeverity)
{
    const struct {
        const char* name;
        std::string components, machine;
        double expected;
    } cases[] = {
        {"three components", R"({"kind": "unbalance", "severity": 4}, {"kind": "electrical", "severity": 2},
                                {"kind": "vane_pass", "blades": 5, "severity": 1})",
         "", std::sqrt(16.0 + 4 + 1)},
        {"drifting speed", R"({"kind": "misalignment", "severity": 5})", R"(, "drift": {"rpm": 40, "period_s": 3})", 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        results_reset();
        open(one_point("vertical", c.components, c.machine));
        for (int series = 0; series < 3; ++series)
            EXPECT_NEAR(velocity_rms(), c.expected, 0.02 * c.expected) << "series " << series;
    }
}

TEST_F(PlantChain, BearingDefectsRingAtTheCatalogueFrequencies)
{
    use_setup(SetupRate::Hz10240);
    const PlantBearingFactors b = catalogue("6309");
    const double ftf = b.ftf * SHAFT_HZ;
    const struct {
        const char* kind;
        double defect_hz;
        double severity;
        const char* extra;
    } cases[] = {
        {"outer_race", b.bpfo * SHAFT_HZ, 12, ""},
        {"inner_race", b.bpfi * SHAFT_HZ, 8, R"(, "modulation": 0.9)"},
        {"rolling_element", 2 * b.bsf * SHAFT_HZ, 10, R"(, "modulation": 0.8)"},
        {"cage", ftf, 6, R"(, "slip": 0.02)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        results_reset();
        open(one_point("vertical",
                       std::string(R"({"kind": ")") + c.kind + R"(", "bearing": "6309", "severity": )" +
                           std::to_string(c.severity) + R"(, "resonance_hz": 3000)" + c.extra + "}",
                       "", 0));
        // The acceleration RMS over the records: the severity given (the
        // impacts come at random, so over many).
        double sq = 0, n = 0;
        constexpr int RECORDS = 12;
        meas_start(REQ_VIBRATION | REQ_SHOCK | REQ_TEMPERATURE | REQ_PROCESS | REQ_SHOCK_ANALYSIS);
        meas_set_running(1);
        for (int r = 0; r < RECORDS; ++r) {
            ASSERT_EQ(meas_step(), 0);
            const SignalRecord* wa = record_at(1, KIND_W, Q_A);
            const i32* d = reinterpret_cast<const i32*>(wa->data);
            for (u32 i = 0; i < wa->count; ++i) sq += static_cast<double>(d[i]) * d[i] * wa->scale * wa->scale;
            n += wa->count;
        }
        EXPECT_NEAR(std::sqrt(sq / n), c.severity, 0.06 * c.severity);

        // The shock-pulse signal's spectrum: lines at the defect frequency
        // and its double, within one bin, well above the floor.
        SignalRecord* spec = nullptr;
        ASSERT_EQ(meas_get_record(3, KIND_B, Q_A, &spec), 1);
        const double floor = median_amplitude(spec, 2);
        for (int h = 1; h <= 2; ++h) {
            SCOPED_TRACE(h);
            double at = 0;
            line_near(spec, h * c.defect_hz, &at);
            EXPECT_NEAR(at, h * c.defect_hz, spec->dx);
            EXPECT_GT(amplitude(spec, static_cast<u32>(std::lround(at / spec->dx))), 4 * floor);
        }
        // The inner race passes through the load zone once a turn: lines at
        // the shaft frequency either side.
        if (std::string(c.kind) == "inner_race") {
            for (int side : {-1, 1}) {
                SCOPED_TRACE(side);
                const double f = c.defect_hz + side * SHAFT_HZ;
                double at = 0;
                line_near(spec, f, &at);
                EXPECT_NEAR(at, f, spec->dx);
                EXPECT_GT(amplitude(spec, static_cast<u32>(std::lround(at / spec->dx))), 4 * floor);
            }
        }
    }
}

TEST_F(PlantChain, TemperatureAndMarkerComeFromThePlant)
{
    open(one_point("vertical", R"({"kind": "unbalance", "severity": 2})"));
    measure(2);
    EXPECT_NEAR(meas_temperature(), 57, 0.25);
    // One marker pulse a turn, a tenth of the turn long.
    u32 rising = 0, high = 0;
    for (u32 i = 1; i < meas_state.n_frames; ++i) {
        high += meas_state.frames[i].w[3] != MID_SCALE;
        rising += meas_state.frames[i].w[3] != MID_SCALE && meas_state.frames[i - 1].w[3] == MID_SCALE;
    }
    const double turns = meas_state.n_frames * static_cast<double>(meas_state.dt) * SHAFT_HZ;
    EXPECT_NEAR(rising, turns, 1.0);
    EXPECT_NEAR(high, 0.1 * meas_state.n_frames, 0.02 * meas_state.n_frames);
}

TEST(PlantSynthesis, ThePointsSignalRunsOnWithoutSeamsHoweverItIsCut)
{
    // Every kind at once, with a drifting speed: made in one piece, and in
    // pieces of odd sizes, the signal is the same.
    const Plant p = parse_ok(one_point("axial",
                                       R"({"kind": "unbalance", "severity": 3}, {"kind": "looseness", "severity": 2},
           {"kind": "gear_mesh", "teeth": 31, "severity": 1}, {"kind": "electrical", "severity": 1},
           {"kind": "inner_race", "bearing": "6205", "severity": 5, "resonance_hz": 2500},
           {"kind": "outer_race", "bearing": "6309", "severity": 5},
           {"kind": "noise", "severity": 1, "resonance_hz": 1800})",
                                       R"(, "drift": {"rpm": 60, "period_s": 2})"));
    const PlantMachine* m = nullptr;
    const PlantPoint* pt = nullptr;
    ASSERT_TRUE(plant_find_point(p, "G/M/P", &m, &pt));
    constexpr u32 N = 25600;
    PlantSynth whole, cut;
    whole.setup(p, *m, *pt, 10240, 5);
    cut.setup(p, *m, *pt, 10240, 5);
    std::vector<float> a1(N), v1(N), d1(N), s1(N), a2(N), v2(N), d2(N), s2(N);
    whole.generate(N, a1.data(), v1.data(), d1.data(), s1.data(), nullptr);
    const u32 pieces[] = {1, 31, 32, 33, 1000, 4096, 7};
    u32 at = 0;
    for (u32 i = 0; at < N; ++i) {
        const u32 n = std::min(N - at, pieces[i % std::size(pieces)]);
        cut.generate(n, a2.data() + at, v2.data() + at, d2.data() + at, s2.data() + at, nullptr);
        at += n;
    }
    const std::vector<float>* one[] = {&a1, &v1, &d1, &s1};
    const std::vector<float>* two[] = {&a2, &v2, &d2, &s2};
    for (int q = 0; q < 4; ++q) {
        SCOPED_TRACE(q);
        float top = 0;
        for (float x : *one[q]) top = std::max(top, std::fabs(x));
        ASSERT_GT(top, 0);
        for (u32 i = 0; i < N; ++i) ASSERT_NEAR((*two[q])[i], (*one[q])[i], 1e-3 * top) << i;
    }
}

TEST(PlantFile, TheExamplesLoadAndTheSchemaIsJson)
{
    Plant p;
    ASSERT_EQ(plant_load(SOURCE_DIR + "/examples/plants/pump_set.json", plant_bearing_lookup, &p), "");
    const std::vector<std::string> expected{"Pump set/Motor/M1 V", "Pump set/Motor/M1 A", "Pump set/Pump/P1 V",
                                            "Pump set/Pump/P1 H"};
    EXPECT_EQ(plant_point_paths(p), expected);
    const PlantMachine* m = nullptr;
    const PlantPoint* pt = nullptr;
    ASSERT_TRUE(plant_find_point(p, "Pump set/Pump/P1 H", &m, &pt));
    EXPECT_EQ(pt->direction, PlantDirection::Horizontal);
    EXPECT_EQ(m->bearings, std::vector<std::string>{"6310"});
    EXPECT_DOUBLE_EQ(m->drift_rpm, 6);

    std::ifstream in(SOURCE_DIR + "/examples/plants/plant.schema.json");
    std::stringstream s;
    s << in.rdbuf();
    JsonValue schema;
    std::string why;
    ASSERT_TRUE(json_parse(s.str(), JsonLimits{64, 100000}, &schema, &why)) << why;
    // Every fault kind the reader takes is in the schema's list.
    const std::string text = s.str();
    for (PlantFault k : {PlantFault::Unbalance, PlantFault::Misalignment, PlantFault::Looseness, PlantFault::BentShaft,
                         PlantFault::OuterRace, PlantFault::InnerRace, PlantFault::RollingElement, PlantFault::Cage,
                         PlantFault::GearMesh, PlantFault::VanePass, PlantFault::Electrical, PlantFault::Noise})
        EXPECT_NE(text.find(std::string("\"") + plant_fault_name(k) + "\""), std::string::npos) << plant_fault_name(k);
}

TEST(PlantFile, FaultsNameTheFileThePathAndWhatIsWrong)
{
    const std::string good = one_point("vertical", R"({"kind": "unbalance", "severity": 2})");
    auto with = [&good](const std::string& from, const std::string& to) {
        std::string t = good;
        const size_t at = t.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) t.replace(at, from.size(), to);
        return t;
    };
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        {"{", "t.json: line 1, column 2: "},
        {with("\"version\": 1", "\"version\": 2"), "t.json: $.version: version 2 is not read by this program"},
        {with("\"tarvik2-plant\"", "\"plant\""), "t.json: $.format: must be \"tarvik2-plant\""},
        {with("\"rpm\": 1480", "\"rpm\": 0"), "t.json: $.groups[0].machines[0].rpm: must be above 0"},
        {with("\"rpm\": 1480", "\"rmp\": 1480"), "t.json: $.groups[0].machines[0].rmp: is not a field"},
        {with("\"6205\"", "\"NO SUCH 1\""),
         "t.json: $.groups[0].machines[0].bearings[1]: bearing \"NO SUCH 1\" is not in the bearing catalogue"},
        {with("\"vertical\"", "\"sideways\""), "t.json: $.groups[0].machines[0].points[0].direction: must be"},
        {with("\"unbalance\"", "\"wobble\""),
         "t.json: $.groups[0].machines[0].points[0].components[0].kind: \"wobble\" is not a fault kind"},
        {with("\"severity\": 2", "\"severity\": -1"),
         "t.json: $.groups[0].machines[0].points[0].components[0].severity: must be above 0"},
        {with(R"("kind": "unbalance", "severity": 2)", R"("kind": "outer_race", "severity": 2)"),
         "t.json: $.groups[0].machines[0].points[0].components[0].bearing: is missing"},
        {with(R"("kind": "unbalance", "severity": 2)", R"("kind": "cage", "bearing": "6310", "severity": 2)"),
         "t.json: $.groups[0].machines[0].points[0].components[0].bearing: \"6310\" is not among the machine's"},
        {with(R"("kind": "unbalance", "severity": 2)", R"("kind": "gear_mesh", "severity": 2)"),
         "t.json: $.groups[0].machines[0].points[0].components[0].teeth: is missing"},
        {with(R"("kind": "unbalance", "severity": 2)", R"("kind": "unbalance", "teeth": 3, "severity": 2)"),
         "t.json: $.groups[0].machines[0].points[0].components[0].teeth: is not used by a component of kind"},
        {with(R"("kind": "unbalance", "severity": 2)", R"("kind": "gear_mesh", "teeth": 90, "severity": 2)"),
         "t.json: $.groups[0].machines[0].points[0].components[0]: no line of this component lies in the overall "
         "band"},
        {with(R"("name": "P")", R"("name": "P/2")"), "t.json: $.groups[0].machines[0].points[0].name: must not hold"},
        {with(R"("points": [)", R"("points": [{"name": "P", "direction": "axial"}, )"),
         "t.json: $.groups[0].machines[0].points[1].name: \"P\" names two points"},
        {with(R"("temperature": 57)", R"("temperature": "hot")"),
         "t.json: $.groups[0].machines[0].points[0].temperature: must be a number"},
        {with(R"(, "bearings")", R"(, "drift": {"rpm": 2000, "period_s": 10}, "bearings")"),
         "t.json: $.groups[0].machines[0].drift.rpm: must be from 0 to below the running speed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Plant p;
        p.name = "kept";
        p.groups.resize(3);
        const std::string e = plant_parse(c.text, "t.json", plant_bearing_lookup, &p);
        EXPECT_EQ(e.substr(0, c.message.size()), c.message) << e;
        // Nothing half-loaded: what was there stays.
        EXPECT_EQ(p.name, "kept");
        EXPECT_EQ(p.groups.size(), 3u);
    }
    Plant p;
    EXPECT_EQ(plant_load("/no/such/plant.json", plant_bearing_lookup, &p),
              "/no/such/plant.json: cannot read the plant file");
}

// The point the probe is on: the one chosen outside a route, on a route
// walk the route's point under the cursor (the plant's noise floor where
// the plant has no such point), and back to the chosen one when the walk
// leaves the route; without a chosen point the other sources measure.
TEST_F(PlantChain, TheRouteWalkFeedsItsPointsAndLeavingItTheChosenPoint)
{
    Plant plant;
    ASSERT_EQ(plant_load(SOURCE_DIR + "/examples/plants/pump_set.json", plant_bearing_lookup, &plant), "");
    const double p1h = std::sqrt(7.1 * 7.1 + 0.5 * 0.5), m1v = std::sqrt(0.8 * 0.8 + 0.3 * 0.3);
    // A negative velocity: the plant is not the source (the instrument's
    // own synthesis, 60 to 110 °C).
    constexpr double OTHER = -1, FLOOR = 0;
    // missing: the route points the plant lacks measured since it was opened.
    const struct {
        const char* step;
        std::function<void()> act;
        double velocity, temperature;
        size_t missing;
    } steps[] = {
        {"open with M1 A", [&] { ASSERT_EQ(plant_source_open(plant, "Pump set/Motor/M1 A"), ""); }, 0.4, 41, 0},
        {"walk to P1 H", [] { plant_source_walk("Pump set/Pump/P1 H"); }, p1h, 48, 0},
        {"walk to a point the plant lacks", [] { plant_source_walk("Pump set/Pump/P9"); }, FLOOR, 35, 1},
        {"M1 V chosen during the walk", [] { ASSERT_EQ(plant_source_choose("Pump set/Motor/M1 V"), ""); }, FLOOR, 35,
         1},
        {"the walk ends", [] { plant_source_walk_end(); }, m1v, 41, 1},
        {"open with no point", [&] { ASSERT_EQ(plant_source_open(plant, ""), ""); }, OTHER, 0, 0},
        {"walk to P1 H", [] { plant_source_walk("Pump set/Pump/P1 H"); }, p1h, 48, 0},
        {"the walk ends", [] { plant_source_walk_end(); }, OTHER, 0, 0},
        {"M1 V chosen", [] { ASSERT_EQ(plant_source_choose("Pump set/Motor/M1 V"), ""); }, m1v, 41, 0},
        {"no point chosen", [] { ASSERT_EQ(plant_source_choose(""), ""); }, OTHER, 0, 0},
    };
    for (const auto& st : steps) {
        SCOPED_TRACE(st.step);
        st.act();
        const double v = velocity_rms();
        const double t = meas_temperature();
        if (st.velocity == OTHER) {
            EXPECT_FALSE(plant_source_active());
            EXPECT_GE(t, 60);
            EXPECT_LE(t, 110);
        } else if (st.velocity == FLOOR) {
            EXPECT_TRUE(plant_source_active());
            EXPECT_LT(v, 0.05);
            EXPECT_NEAR(t, st.temperature, 0.25);
        } else {
            EXPECT_TRUE(plant_source_active());
            EXPECT_NEAR(v, st.velocity, 0.02 * st.velocity);
            EXPECT_NEAR(t, st.temperature, 0.25);
        }
        ASSERT_EQ(plant_source_walk_missing().size(), st.missing);
        if (st.missing) {
            EXPECT_EQ(plant_source_walk_missing()[0], "Pump set/Pump/P9");
        }
    }

    // A point the plant lacks is refused with the file and the points named,
    // and the point chosen stays.
    ASSERT_EQ(plant_source_choose("Pump set/Pump/P1 V"), "");
    const std::string e = plant_source_choose("Pump set/Pump/P9");
    EXPECT_NE(e.find("/examples/plants/pump_set.json: no point 'Pump set/Pump/P9' (the points: 'Pump set/Motor/M1 V'"),
              std::string::npos)
        << e;
    EXPECT_EQ(plant_source_point(), "Pump set/Pump/P1 V");
    EXPECT_NE(plant_source_open(plant, "Pump set/Pump/P9"), "");
    EXPECT_EQ(plant_source_point(), "Pump set/Pump/P1 V");
    plant_source_close();
    EXPECT_FALSE(plant_source_loaded());
    EXPECT_NE(plant_source_choose("Pump set/Pump/P1 V"), "");
}

// Walking onto the point already measured keeps its signal running on (no
// jump back to its start), and the walk's records are those of the point.
TEST_F(PlantChain, ThePointUnderTheProbeRunsOnWhenTheWalkReachesIt)
{
    const Plant plant = parse_ok(one_point("vertical", R"({"kind": "unbalance", "severity": 3})"));
    const CalibrationSet& scale = meas_calibration.set[meas_main_set()];
    constexpr u32 N = 1024;
    constexpr float DT = 1.0f / 2560;
    auto record = [&] {
        std::vector<VibFrame> f(N);
        EXPECT_TRUE(plant_source_vibration(f.data(), N, DT, scale));
        std::vector<u16> a;
        for (const VibFrame& fr : f) a.push_back(fr.w[Q_A]);
        return a;
    };
    ASSERT_EQ(plant_source_open(plant, "G/M/P"), "");
    const std::vector<u16> first = record(), second = record();
    EXPECT_NE(first, second);
    ASSERT_EQ(plant_source_open(plant, "G/M/P"), "");
    EXPECT_EQ(record(), first);
    plant_source_walk("G/M/P");
    EXPECT_EQ(record(), second) << "walking onto the point in use";
    plant_source_walk_end();
    const std::vector<u16> third = record();
    ASSERT_EQ(plant_source_open(plant, "G/M/P"), "");
    record();
    record();
    EXPECT_EQ(record(), third) << "leaving the walk on the point in use";
    // Another point starts from its own beginning.
    ASSERT_EQ(plant_source_open(plant, ""), "");
    plant_source_walk("G/M/Q");
    EXPECT_NE(record(), first);
}

// The runner measures a plant point; the saved reading, as the archive tool
// exports it, holds the point's velocity and temperature.
TEST(PlantRunner, AReadingOfAPlantPointHoldsItsSeverityAndTemperature)
{
    const std::string example = SOURCE_DIR + "/examples/plants/pump_set.json";
    const struct {
        const char* point;
        double velocity, temperature;
    } cases[] = {
        {"Pump set/Pump/P1 H", std::sqrt(7.1 * 7.1 + 0.5 * 0.5), 48},
        {"Pump set/Motor/M1 V", std::sqrt(0.8 * 0.8 + 0.3 * 0.3), 41},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.point);
        TempDir dir;
        const RunResult r = run_runner({"--data", dir.path(), "--clock", "2026-12-10T12:00:00", "--seed", "1",
                                        "--plant", example, "--plant-point", c.point, "--keys",
                                        "wait 1500; enter; wait 300; enter; wait 3000; shift+enter; wait 500; enter"});
        ASSERT_EQ(r.status, 0) << r.output;
        const RunResult x =
            run_archive_tool(dir.path(), "export --all --format json --out " + shell_quote(dir.file("out")));
        ASSERT_EQ(x.status, 0) << x.output;
        const std::vector<std::string> files = files_in(dir.file("out"));
        ASSERT_EQ(files.size(), 1u);
        std::ifstream in(dir.file("out") + "/" + files[0]);
        std::stringstream s;
        s << in.rdbuf();
        JsonValue v;
        std::string why;
        ASSERT_TRUE(json_parse(s.str(), JsonLimits{16, 10000}, &v, &why)) << why;
        const JsonValue* cells = v.find("cells");
        ASSERT_TRUE(cells && cells->type == JsonValue::Array && !cells->items.empty());
        const JsonValue* vel = cells->items[0].find("velocity_rms_mm_s");
        const JsonValue* temp = cells->items[0].find("temperature_c");
        ASSERT_TRUE(vel && temp);
        EXPECT_NEAR(vel->number, c.velocity, 0.02 * c.velocity);
        EXPECT_NEAR(temp->number, c.temperature, 0.25);
    }
}

// The exported measurement of `dir` whose file name starts with `prefix`,
// read as JSON.
JsonValue exported_json(const std::string& dir, const std::string& prefix)
{
    JsonValue v;
    std::vector<std::string> found;
    for (const std::string& f : files_in(dir))
        if (f.rfind(prefix, 0) == 0) found.push_back(f);
    EXPECT_EQ(found.size(), 1u) << prefix;
    if (found.size() != 1) return v;
    std::ifstream in(dir + "/" + found[0]);
    std::stringstream s;
    s << in.rdbuf();
    std::string why;
    EXPECT_TRUE(json_parse(s.str(), JsonLimits{16, 100000}, &v, &why)) << why;
    return v;
}

// The values and line spacing of an exported measurement's first record.
std::vector<double> record_values(const JsonValue& m, double* dx)
{
    std::vector<double> out;
    const JsonValue* records = m.find("records");
    if (!records || records->items.empty()) return out;
    const JsonValue& r = records->items[0];
    if (const JsonValue* d = r.find("dx")) *dx = d->number;
    if (const JsonValue* values = r.find("values"))
        for (const JsonValue& x : values->items) out.push_back(x.number);
    return out;
}

// The amplitude of the line near `hz` of an exported spectrum: its energy
// over two lines either side (Hamming window: 1.363 lines of noise
// bandwidth).
double spectrum_line(const JsonValue& m, double hz)
{
    double dx = 0;
    const std::vector<double> v = record_values(m, &dx);
    if (v.empty() || !(dx > 0)) return -1;
    const int c = static_cast<int>(std::lround(hz / dx));
    double power = 0;
    for (int k = std::max(0, c - 2); k <= std::min<int>(c + 2, static_cast<int>(v.size()) - 1); ++k)
        power += v[k] * v[k];
    return std::sqrt(power / 1.363);
}

// A route made from the plant (the route item named after it, its groups,
// machines and points below) walked with --plant: each point measured
// reads its own signal, a route point the plant lacks its noise floor (told
// in one note line), and leaving the route the vibrometer measures the
// point chosen outside it again (without one, the synthesised signal). A
// route none of whose points is the plant's leaves the probe where it was.
TEST(PlantRunner, ARouteMadeFromThePlantIsWalkedPointByPoint)
{
    const std::string example = SOURCE_DIR + "/examples/plants/pump_set.json";
    const double shaft_hz = 1480.0 / 60;
    const struct {
        const char* home;  // --plant-point, "" for none
        double velocity, temperature;
    } cases[] = {
        {"Pump set/Motor/M1 A", 0.4, 41},
        {"", -1, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.home);
        TempDir dir;
        ASSERT_EQ(run_runner({"--data", dir.path(), "--keys", "off"}).status, 0);
        {
            std::ofstream csv(dir.file("walk.csv"));
            csv << "path,type,quantity,lines,fmin,fmax,averages\n"
                   "Pump set/Motor/M1 V,spectrum,velocity,400,0,1000,1\n"
                   "Pump set/Pump/P1 H,spectrum,velocity,400,0,1000,1\n"
                   "Pump set/Pump/P2 X,spectrum,velocity,400,0,1000,1\n";
        }
        const RunResult imported = run_archive_tool(
            dir.path(), "route import " + shell_quote(dir.file("walk.csv")) + " --name 'Pump set walk-through'");
        ASSERT_EQ(imported.status, 0) << imported.output;

        std::vector<std::string> args{"--data", dir.path(), "--clock", "2026-12-10T12:00:00",
                                      "--seed", "1",        "--plant", example};
        if (*c.home) args.insert(args.end(), {"--plant-point", c.home});
        const char* const walk =
            // The route choice: the imported route first; its route item,
            // then its first point to measure.
            "wait 1500; right; right; enter; wait 500; enter; wait 300; enter; wait 300;"
            // M1 V measured and saved; Enter on the machine after it goes
            // to P1 H, measured and saved; then P2 X, which the plant lacks.
            "enter; wait 1500; enter; wait 500; enter; wait 300;"
            "enter; wait 1500; enter; wait 500;"
            "enter; wait 1500; enter; wait 500;"
            // Out of the route: the vibrometer's reading saved.
            "esc; wait 500; left; left; enter; wait 300; enter; wait 3000; shift+enter; wait 500; enter; wait 300;"
            // The demonstration route: the first point of its first machine.
            "esc; wait 500; right; right; enter; wait 500; shift+enter; wait 300; down; enter; wait 300;"
            "enter; wait 300; enter; wait 5000; enter; wait 500; esc; wait 300";
        args.insert(args.end(), {"--keys", walk});
        const RunResult r = run_runner(args);
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(r.output, "tarvik2-run: note: route points not in the plant '" + example +
                                "', measured at its noise floor: 'Pump set/Pump/P2 X'\n");

        const RunResult x =
            run_archive_tool(dir.path(), "export --all --format json --out " + shell_quote(dir.file("out")));
        ASSERT_EQ(x.status, 0) << x.output;
        const std::string out = dir.file("out");
        // The unbalance of each point at the shaft's line (peak, √2 × RMS).
        EXPECT_NEAR(spectrum_line(exported_json(out, "Pump set walk-through_001_"), shaft_hz), 0.8 * std::sqrt(2.0),
                    0.1 * 0.8 * std::sqrt(2.0));
        EXPECT_NEAR(spectrum_line(exported_json(out, "Pump set walk-through_002_"), shaft_hz), 7.1 * std::sqrt(2.0),
                    0.1 * 7.1 * std::sqrt(2.0));
        EXPECT_LT(spectrum_line(exported_json(out, "Pump set walk-through_003_"), shaft_hz), 0.05);

        const JsonValue reading = exported_json(out, "Объект_001_");
        const JsonValue* cells = reading.find("cells");
        ASSERT_TRUE(cells && cells->type == JsonValue::Array && !cells->items.empty());
        const JsonValue* vel = cells->items[0].find("velocity_rms_mm_s");
        const JsonValue* temp = cells->items[0].find("temperature_c");
        ASSERT_TRUE(vel && temp);
        double dx = 0;
        const std::vector<double> wave = record_values(exported_json(out, "Маршрут 1_001_"), &dx);
        ASSERT_EQ(wave.size(), 4096u);
        double sq = 0;
        for (double w : wave) sq += w * w;
        const double wave_rms = std::sqrt(sq / static_cast<double>(wave.size()));
        if (*c.home) {
            EXPECT_NEAR(vel->number, c.velocity, 0.05 * c.velocity);
            EXPECT_NEAR(temp->number, c.temperature, 0.25);
            // The demonstration route measured where the probe was.
            EXPECT_NEAR(wave_rms, c.velocity, 0.1 * c.velocity);
        } else {
            // The instrument's own synthesis: 60 to 110 °C.
            EXPECT_GE(temp->number, 60);
            EXPECT_LE(temp->number, 110);
        }
    }
}

TEST(PlantRunner, BadPlantOptionsAreRefusedWithOneLine)
{
    TempDir dir;
    const std::string example = SOURCE_DIR + "/examples/plants/pump_set.json";
    const std::string bad = dir.file("bad.json");
    {
        std::ofstream out(bad);
        out << one_point("vertical", R"({"kind": "unbalance", "severity": "high"})");
    }
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--plant-point", "G/M/P"}, "--plant-point needs --plant FILE"},
        {{"--plant", example, "--plant-point", "Pump set/Pump/P9"}, "pump_set.json: no point 'Pump set/Pump/P9'"},
        {{"--plant", bad, "--plant-point", "G/M/P"},
         "bad.json: $.groups[0].machines[0].points[0].components[0].severity: must be a number"},
        {{"--plant", example, "--plant-point", "Pump set/Pump/P1 V", "--signal", bad},
         "--plant and --signal both give the signal"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"--data", dir.path(), "--keys", "off"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult r = run_runner(args);
        EXPECT_EQ(r.status, 2) << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
        EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
    }
}

}  // namespace
