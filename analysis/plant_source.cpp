#include "analysis/plant_source.h"

#include <vector>

#include "analysis/converter.h"
#include "analysis/frames.h"
#include "analysis/plant_synth.h"
#include "analysis/signal.h"
#include "analysis/signal_source.h"
#include "host/device.h"

namespace {

Plant g_plant;
std::string g_point;
bool g_active = false;
double g_temperature = PLANT_TEMPERATURE_DEFAULT;
PlantSynth g_synth;
u64 g_seed = 0;
u64 g_clipped = 0;
// The shock-pulse input made along with the last vibration record, waiting
// for the shock-pulse task.
std::vector<float> g_a, g_v, g_d, g_shock;
std::vector<u8> g_marker;
bool g_shock_waiting = false;


// Sets the synthesis up for records `dt` apart unless it is so already.
void ready(float dt)
{
    const double rate = 1.0 / static_cast<double>(dt);
    if (g_synth.rate() == rate) return;
    const PlantMachine* m = nullptr;
    const PlantPoint* p = nullptr;
    plant_find_point(g_plant, g_point, &m, &p);
    g_synth.setup(g_plant, *m, *p, rate, g_seed);
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

}  // namespace

std::string plant_source_open(const Plant& plant, const std::string& point_path)
{
    const PlantMachine* m = nullptr;
    const PlantPoint* p = nullptr;
    if (!plant_find_point(plant, point_path, &m, &p)) {
        std::string known;
        for (const std::string& s : plant_point_paths(plant)) known += (known.empty() ? "" : ", ") + ("'" + s + "'");
        return plant.file + ": no point '" + point_path + "' (the points: " + known + ")";
    }
    g_plant = plant;
    g_point = point_path;
    g_temperature = p->temperature;
    g_seed = plant_point_seed(point_path);
    g_active = true;
    g_clipped = 0;
    plant_source_reset();
    return "";
}

void plant_source_close()
{
    g_active = false;
    g_plant = Plant{};
    g_point.clear();
    g_synth = PlantSynth{};
    g_shock_waiting = false;
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

void plant_source_reset()
{
    g_synth = PlantSynth{};
    g_shock_waiting = false;
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
    *celsius = static_cast<float>(g_temperature + noise);
    return true;
}

u64 plant_point_seed(const std::string& point_path)
{
    // FNV-1a of the path.
    u64 h = 1469598103934665603ull;
    for (unsigned char c : point_path) h = (h ^ c) * 1099511628211ull;
    return h;
}
