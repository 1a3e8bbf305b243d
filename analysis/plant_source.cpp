#include "analysis/plant_source.h"

#include <algorithm>
#include <vector>

#include "analysis/converter.h"
#include "analysis/frames.h"
#include "analysis/plant_synth.h"
#include "analysis/signal.h"
#include "analysis/signal_source.h"
#include "host/device.h"

namespace {

// The plant in use, the point chosen outside a route and the route walk.
Plant g_plant;
bool g_loaded = false;
u32 g_generation = 0;
std::string g_point;
bool g_walking = false;
std::string g_walk_point;
bool g_walk_in_plant = false;
std::vector<std::string> g_missing;

// The source in effect: a point of the plant, or a spot with no machine
// (the noise floor alone), by its path.
bool g_active = false;
std::string g_source;
bool g_source_floor = false;
PlantMachine g_machine;
PlantPoint g_spot;
PlantSynth g_synth;
u64 g_seed = 0;
u64 g_clipped = 0;
// The shock-pulse input made along with the last vibration record, waiting
// for the shock-pulse task.
std::vector<float> g_a, g_v, g_d, g_shock;
std::vector<u8> g_marker;
bool g_shock_waiting = false;


// The synthesis starts afresh at the next record.
void restart()
{
    g_synth = PlantSynth{};
    g_shock_waiting = false;
}

// Makes the source what the walk or the point chosen says; the source that
// stays the same runs on unless `fresh`.
void follow(bool fresh)
{
    bool active = false, floor = false;
    std::string path;
    if (g_loaded && g_walking) {
        active = true;
        path = g_walk_point;
        floor = !g_walk_in_plant;
    } else if (g_loaded && !g_point.empty()) {
        active = true;
        path = g_point;
    }
    if (!fresh && active == g_active && path == g_source && floor == g_source_floor) return;
    g_active = active;
    g_source = path;
    g_source_floor = floor;
    g_machine = PlantMachine{};
    g_spot = PlantPoint{};
    const PlantMachine* m = nullptr;
    const PlantPoint* p = nullptr;
    if (active && !floor && plant_find_point(g_plant, path, &m, &p)) {
        g_machine = *m;
        g_spot = *p;
    }
    g_seed = plant_point_seed(path);
    restart();
}

void forget_walk()
{
    g_walking = false;
    g_walk_point.clear();
    g_walk_in_plant = false;
}

// Sets the synthesis up for records `dt` apart unless it is so already.
void ready(float dt)
{
    const double rate = 1.0 / static_cast<double>(dt);
    if (g_synth.rate() == rate) return;
    g_synth.setup(g_plant, g_machine, g_spot, rate, g_seed);
    g_shock_waiting = false;
}

void make(u32 count)
{
    g_a.resize(count);
    g_v.resize(count);
    g_d.resize(count);
    g_shock.resize(count);
    g_marker.resize(count);
    g_synth.generate(count, g_a.data(), g_v.data(), g_d.data(), g_shock.data(), g_marker.data());
}

// A converter count, clipped as an overloaded converter clips.
u16 clip(double count, u32 top)
{
    return converter_count(count, top, &g_clipped);
}

bool has_point(const Plant& plant, const std::string& path)
{
    const PlantMachine* m = nullptr;
    const PlantPoint* p = nullptr;
    return plant_find_point(plant, path, &m, &p);
}

std::string no_point(const Plant& plant, const std::string& path)
{
    std::string known;
    for (const std::string& s : plant_point_paths(plant)) known += (known.empty() ? "" : ", ") + ("'" + s + "'");
    return plant.file + ": no point '" + path + "' (the points: " + known + ")";
}

}  // namespace

std::string plant_source_open(const Plant& plant, const std::string& point_path)
{
    if (!point_path.empty() && !has_point(plant, point_path)) return no_point(plant, point_path);
    g_plant = plant;
    g_loaded = true;
    ++g_generation;
    g_point = point_path;
    g_clipped = 0;
    g_missing.clear();
    if (g_walking) g_walk_in_plant = has_point(g_plant, g_walk_point);
    follow(true);
    return "";
}

std::string plant_source_choose(const std::string& point_path)
{
    if (!g_loaded) return "no plant is open";
    if (!point_path.empty() && !has_point(g_plant, point_path)) return no_point(g_plant, point_path);
    g_point = point_path;
    follow(false);
    return "";
}

void plant_source_close()
{
    g_loaded = false;
    ++g_generation;
    g_plant = Plant{};
    g_point.clear();
    g_missing.clear();
    follow(true);
}

bool plant_source_loaded()
{
    return g_loaded;
}

bool plant_source_active()
{
    return g_active;
}

const std::string& plant_source_point()
{
    return g_point;
}

const Plant& plant_source_plant()
{
    return g_plant;
}

bool plant_source_holds(const std::string& path)
{
    return g_loaded && has_point(g_plant, path);
}

u32 plant_source_generation()
{
    return g_generation;
}

void plant_source_walk(const std::string& route_point_path)
{
    g_walking = true;
    g_walk_point = route_point_path;
    g_walk_in_plant = plant_source_holds(route_point_path);
    follow(false);
}

void plant_source_walk_end()
{
    forget_walk();
    follow(false);
}

bool plant_source_walking()
{
    return g_walking;
}

const std::string& plant_source_walk_point()
{
    return g_walk_point;
}

bool plant_source_walk_in_plant()
{
    return g_walk_in_plant;
}

const std::vector<std::string>& plant_source_walk_missing()
{
    return g_missing;
}

void plant_source_reset()
{
    forget_walk();
    follow(true);
}

u64 plant_source_clipped()
{
    return g_clipped;
}

bool plant_source_vibration(VibFrame* frames, u32 count, float dt, const CalibrationSet& scale)
{
    if (!g_active || !(dt > 0)) return false;
    ready(dt);
    make(count);
    g_shock_waiting = true;
    if (g_source_floor && std::find(g_missing.begin(), g_missing.end(), g_source) == g_missing.end())
        g_missing.push_back(g_source);
    for (u32 i = 0; i < count; ++i) {
        VibFrame& fr = frames[i];
        fr.w[Q_A] = clip(MID_SCALE + g_a[i] / scale[Q_A], SIGNAL_ADC_MAX);
        fr.w[Q_V] = clip(MID_SCALE + g_v[i] / scale[Q_V], SIGNAL_ADC_MAX);
        fr.w[Q_D] = clip(MID_SCALE + g_d[i] / scale[Q_D], SIGNAL_ADC_MAX);
        const u16 marker = g_marker[i] ? SIGNAL_MARKER_HIGH : MID_SCALE;
        fr.w[3] = fr.w[4] = fr.w[5] = fr.w[6] = marker;
    }
    return true;
}

bool plant_source_shock(u16* buffer, u32 count, float dt, const CalibrationSet& scale)
{
    if (!g_active || !(dt > 0)) return false;
    ready(dt);
    // The shock-pulse input of the span the vibration record covered; on
    // its own, the next span.
    if (!g_shock_waiting || g_shock.size() != count) make(count);
    g_shock_waiting = false;
    // Through the acceleration channel's converter scale, as a magnitude.
    for (u32 i = 0; i < count; ++i) buffer[i] = clip(g_shock[i] / scale[Q_A], SIGNAL_SHOCK_MAX);
    return true;
}

bool plant_source_temperature(float* celsius)
{
    if (!g_active) return false;
    const double noise = (2.0 * rand_next() / RAND_NEXT_MAX - 1.0) * SIGNAL_TEMPERATURE_NOISE;
    *celsius = static_cast<float>(g_spot.temperature + noise);
    return true;
}

u64 plant_point_seed(const std::string& point_path)
{
    // FNV-1a of the path.
    u64 h = 1469598103934665603ull;
    for (unsigned char c : point_path) h = (h ^ c) * 1099511628211ull;
    return h;
}
