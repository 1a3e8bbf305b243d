#include "analysis/plant.h"

#include <cmath>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "base/json_parse.h"

namespace {

// Nesting and size a plant file may have.
constexpr int JSON_DEPTH = 16;
constexpr size_t JSON_VALUES = 1u << 20;
constexpr size_t FILE_BYTES_MAX = 16u << 20;
constexpr double RPM_MAX = 60000;
constexpr double TEMPERATURE_MIN = -50;
constexpr double TEMPERATURE_MAX = 300;
// Greatest severity: velocity mm/s RMS, acceleration m/s² RMS.
constexpr double SEVERITY_MAX = 500;
constexpr u32 TEETH_MAX = 1000;

struct FaultName {
    PlantFault kind;
    const char* name;
};
constexpr FaultName FAULT_NAMES[] = {
    {PlantFault::Unbalance, "unbalance"},
    {PlantFault::Misalignment, "misalignment"},
    {PlantFault::Looseness, "looseness"},
    {PlantFault::BentShaft, "bent_shaft"},
    {PlantFault::OuterRace, "outer_race"},
    {PlantFault::InnerRace, "inner_race"},
    {PlantFault::RollingElement, "rolling_element"},
    {PlantFault::Cage, "cage"},
    {PlantFault::GearMesh, "gear_mesh"},
    {PlantFault::VanePass, "vane_pass"},
    {PlantFault::Electrical, "electrical"},
    {PlantFault::Noise, "noise"},
};

bool is_bearing_fault(PlantFault k)
{
    return k == PlantFault::OuterRace || k == PlantFault::InnerRace || k == PlantFault::RollingElement ||
           k == PlantFault::Cage;
}

// Thrown on the first fault; caught in plant_parse.
struct Fault {
    std::string path;
    std::string what;
};

class Reader {
public:
    explicit Reader(const PlantBearingLookup& lookup) : lookup_(lookup) {}

    void plant(const JsonValue& v, Plant* p)
    {
        const std::string at = "$";
        object(v, at, {"format", "version", "name", "line_hz", "noise_floor", "groups"});
        const std::string format = text(v, at, "format", true);
        if (format != "tarvik2-plant") fail(at + ".format", "must be \"tarvik2-plant\"");
        const double version = number(v, at, "version", true, 0);
        if (version != PLANT_FORMAT_VERSION)
            fail(at + ".version", "version " + num(version) + " is not read by this program (it reads version " +
                                      std::to_string(PLANT_FORMAT_VERSION) + ")");
        p->name = text(v, at, "name", false);
        p->line_hz = number(v, at, "line_hz", false, PLANT_LINE_HZ_DEFAULT);
        if (!(p->line_hz > 0 && p->line_hz <= 1000)) fail(at + ".line_hz", "must be above 0 and at most 1000 Hz");
        line_hz_ = p->line_hz;
        p->noise_floor = number(v, at, "noise_floor", false, PLANT_NOISE_FLOOR_DEFAULT);
        if (!(p->noise_floor >= 0 && p->noise_floor <= SEVERITY_MAX))
            fail(at + ".noise_floor", "must be from 0 to " + num(SEVERITY_MAX) + " m/s2");
        const JsonValue& groups = array(v, at, "groups");
        std::set<std::string> names;
        for (size_t i = 0; i < groups.items.size(); ++i) {
            const std::string gat = at + ".groups[" + std::to_string(i) + "]";
            PlantGroup g;
            group(groups.items[i], gat, &g);
            if (!names.insert(g.name).second) fail(gat + ".name", "\"" + g.name + "\" names two groups");
            p->groups.push_back(std::move(g));
        }
    }

private:
    const PlantBearingLookup& lookup_;
    double line_hz_ = PLANT_LINE_HZ_DEFAULT;

    [[noreturn]] static void fail(const std::string& path, const std::string& what) { throw Fault{path, what}; }

    static std::string num(double x)
    {
        std::ostringstream s;
        s << x;
        return s.str();
    }

    static void object(const JsonValue& v, const std::string& at, std::initializer_list<const char*> keys)
    {
        if (v.type != JsonValue::Object) fail(at, "must be an object");
        for (const JsonMember& m : v.members) {
            bool known = false;
            for (const char* k : keys) known = known || m.key == k;
            if (!known) fail(at + "." + m.key, "is not a field of this object");
        }
    }

    static const JsonValue& array(const JsonValue& v, const std::string& at, const char* key)
    {
        const JsonValue* a = v.find(key);
        if (!a) fail(at + "." + key, "is missing");
        if (a->type != JsonValue::Array) fail(at + "." + key, "must be an array");
        if (a->items.empty()) fail(at + "." + key, "must not be empty");
        return *a;
    }

    static std::string text(const JsonValue& v, const std::string& at, const char* key, bool required)
    {
        const JsonValue* t = v.find(key);
        if (!t) {
            if (required) fail(at + "." + key, "is missing");
            return "";
        }
        if (t->type != JsonValue::String) fail(at + "." + key, "must be a string");
        return t->text;
    }

    static std::string name(const JsonValue& v, const std::string& at)
    {
        const std::string n = text(v, at, "name", true);
        if (n.empty()) fail(at + ".name", "must not be empty");
        if (n.find('/') != std::string::npos) fail(at + ".name", "must not hold '/' (it separates a point's path)");
        return n;
    }

    static double number(const JsonValue& v, const std::string& at, const char* key, bool required, double dflt)
    {
        const JsonValue* n = v.find(key);
        if (!n) {
            if (required) fail(at + "." + key, "is missing");
            return dflt;
        }
        if (n->type != JsonValue::Number) fail(at + "." + key, "must be a number");
        return n->number;
    }

    static double ranged(const JsonValue& v, const std::string& at, const char* key, double dflt, double lo, double hi,
                         const char* unit)
    {
        const double x = number(v, at, key, false, dflt);
        if (!(x >= lo && x <= hi))
            fail(at + "." + key, "must be from " + num(lo) + " to " + num(hi) + (*unit ? " " : "") + unit);
        return x;
    }

    static u32 count(const JsonValue& v, const std::string& at, const char* key, u32 hi)
    {
        const double x = number(v, at, key, true, 0);
        if (!(x >= 1 && x <= hi && std::floor(x) == x))
            fail(at + "." + key, "must be a whole number from 1 to " + std::to_string(hi));
        return static_cast<u32>(x);
    }

    void group(const JsonValue& v, const std::string& at, PlantGroup* g)
    {
        object(v, at, {"name", "machines"});
        g->name = name(v, at);
        const JsonValue& machines = array(v, at, "machines");
        std::set<std::string> names;
        for (size_t i = 0; i < machines.items.size(); ++i) {
            const std::string mat = at + ".machines[" + std::to_string(i) + "]";
            PlantMachine m;
            machine(machines.items[i], mat, &m);
            if (!names.insert(m.name).second) fail(mat + ".name", "\"" + m.name + "\" names two machines");
            g->machines.push_back(std::move(m));
        }
    }

    void machine(const JsonValue& v, const std::string& at, PlantMachine* m)
    {
        object(v, at, {"name", "rpm", "drift", "bearings", "points"});
        m->name = name(v, at);
        m->rpm = number(v, at, "rpm", true, 0);
        if (!(m->rpm > 0 && m->rpm <= RPM_MAX)) fail(at + ".rpm", "must be above 0 and at most " + num(RPM_MAX));
        if (const JsonValue* d = v.find("drift")) {
            const std::string dat = at + ".drift";
            object(*d, dat, {"rpm", "period_s"});
            m->drift_rpm = number(*d, dat, "rpm", true, 0);
            if (!(m->drift_rpm >= 0 && m->drift_rpm < m->rpm))
                fail(dat + ".rpm", "must be from 0 to below the running speed");
            m->drift_period_s = number(*d, dat, "period_s", true, 0);
            if (!(m->drift_period_s >= 1 && m->drift_period_s <= 86400))
                fail(dat + ".period_s", "must be from 1 to 86400 s");
        }
        if (const JsonValue* b = v.find("bearings")) {
            if (b->type != JsonValue::Array) fail(at + ".bearings", "must be an array");
            for (size_t i = 0; i < b->items.size(); ++i) {
                const std::string bat = at + ".bearings[" + std::to_string(i) + "]";
                if (b->items[i].type != JsonValue::String) fail(bat, "must be a string");
                const std::string& designation = b->items[i].text;
                PlantBearingFactors f;
                if (!lookup_ || !lookup_(designation, &f))
                    fail(bat, "bearing \"" + designation + "\" is not in the bearing catalogue");
                m->bearings.push_back(designation);
                bearings_[designation] = f;
            }
        }
        const JsonValue& points = array(v, at, "points");
        std::set<std::string> names;
        for (size_t i = 0; i < points.items.size(); ++i) {
            const std::string pat = at + ".points[" + std::to_string(i) + "]";
            PlantPoint p;
            point(points.items[i], pat, *m, &p);
            if (!names.insert(p.name).second) fail(pat + ".name", "\"" + p.name + "\" names two points");
            m->points.push_back(std::move(p));
        }
    }

    void point(const JsonValue& v, const std::string& at, const PlantMachine& m, PlantPoint* p)
    {
        object(v, at, {"name", "direction", "temperature", "components"});
        p->name = name(v, at);
        const std::string d = text(v, at, "direction", true);
        if (d == "vertical")
            p->direction = PlantDirection::Vertical;
        else if (d == "horizontal")
            p->direction = PlantDirection::Horizontal;
        else if (d == "axial")
            p->direction = PlantDirection::Axial;
        else
            fail(at + ".direction", "must be \"vertical\", \"horizontal\" or \"axial\"");
        p->temperature = ranged(v, at, "temperature", PLANT_TEMPERATURE_DEFAULT, TEMPERATURE_MIN, TEMPERATURE_MAX, "C");
        if (const JsonValue* cs = v.find("components")) {
            if (cs->type != JsonValue::Array) fail(at + ".components", "must be an array");
            for (size_t i = 0; i < cs->items.size(); ++i) {
                PlantComponent c;
                component(cs->items[i], at + ".components[" + std::to_string(i) + "]", m, p->direction, &c);
                p->components.push_back(std::move(c));
            }
        }
    }

    void component(const JsonValue& v, const std::string& at, const PlantMachine& m, PlantDirection dir,
                   PlantComponent* c)
    {
        object(v, at,
               {"kind", "severity", "bearing", "resonance_hz", "damping", "slip", "modulation", "teeth", "blades",
                "sideband", "note"});
        const std::string kind = text(v, at, "kind", true);
        bool known = false;
        for (const FaultName& f : FAULT_NAMES)
            if (kind == f.name) {
                c->kind = f.kind;
                known = true;
            }
        if (!known) {
            std::string all;
            for (const FaultName& f : FAULT_NAMES) all += std::string(all.empty() ? "" : ", ") + f.name;
            fail(at + ".kind", "\"" + kind + "\" is not a fault kind (" + all + ")");
        }
        text(v, at, "note", false);
        c->severity = number(v, at, "severity", true, 0);
        const char* unit = plant_fault_in_acceleration(c->kind) ? "m/s2 RMS" : "mm/s RMS";
        if (!(c->severity > 0 && c->severity <= SEVERITY_MAX))
            fail(at + ".severity", std::string("must be above 0 and at most ") + num(SEVERITY_MAX) + " " + unit);
        const bool bearing = is_bearing_fault(c->kind);
        if (bearing || c->kind == PlantFault::Noise) {
            c->resonance_hz = ranged(v, at, "resonance_hz", PLANT_RESONANCE_HZ_DEFAULT, 100, 20000, "Hz");
            c->damping = ranged(v, at, "damping", PLANT_DAMPING_DEFAULT, 0.005, 0.5, "");
        }
        if (bearing) {
            c->bearing = text(v, at, "bearing", true);
            bool on_machine = false;
            for (const std::string& b : m.bearings) on_machine = on_machine || b == c->bearing;
            if (!on_machine) fail(at + ".bearing", "\"" + c->bearing + "\" is not among the machine's bearings");
            c->factors = bearings_[c->bearing];
            c->slip = ranged(v, at, "slip", PLANT_SLIP_DEFAULT, 0, 0.2, "");
            c->modulation = ranged(v, at, "modulation", PLANT_MODULATION_DEFAULT, 0, 1, "");
        }
        if (c->kind == PlantFault::GearMesh) {
            c->teeth = count(v, at, "teeth", TEETH_MAX);
            c->sideband = ranged(v, at, "sideband", PLANT_SIDEBAND_DEFAULT, 0, 1, "");
        }
        if (c->kind == PlantFault::VanePass) c->blades = count(v, at, "blades", TEETH_MAX);
        // A field that the kind does not use is a mistake the trainer would
        // want to hear of.
        const struct {
            const char* key;
            bool used;
        } uses[] = {{"bearing", bearing},
                    {"slip", bearing},
                    {"modulation", bearing},
                    {"resonance_hz", bearing || c->kind == PlantFault::Noise},
                    {"damping", bearing || c->kind == PlantFault::Noise},
                    {"teeth", c->kind == PlantFault::GearMesh},
                    {"sideband", c->kind == PlantFault::GearMesh},
                    {"blades", c->kind == PlantFault::VanePass}};
        for (const auto& u : uses)
            if (!u.used && v.find(u.key)) fail(at + "." + u.key, "is not used by a component of kind \"" + kind + "\"");
        if (!plant_fault_in_acceleration(c->kind)) {
            const std::vector<PlantLine> lines = plant_lines(*c, dir, line_hz_);
            if (plant_line_scale(lines, m.rpm / 60.0, c->severity) == 0)
                fail(at,
                     "no line of this component lies in the overall band of 10 to 1000 Hz at the machine's "
                     "running speed");
        }
    }

    std::map<std::string, PlantBearingFactors> bearings_;
};

}  // namespace

const char* plant_fault_name(PlantFault kind)
{
    for (const FaultName& f : FAULT_NAMES)
        if (f.kind == kind) return f.name;
    return "?";
}

bool plant_fault_in_acceleration(PlantFault kind)
{
    return is_bearing_fault(kind) || kind == PlantFault::Noise;
}

std::vector<PlantLine> plant_lines(const PlantComponent& c, PlantDirection direction, double line_hz)
{
    const bool axial = direction == PlantDirection::Axial;
    std::vector<PlantLine> l;
    auto order = [&l](double o, double w) { l.push_back({o, 0, w}); };
    switch (c.kind) {
    case PlantFault::Unbalance: order(1, 1); break;
    case PlantFault::Misalignment:
        // Angular misalignment shows in the axial direction at 1x with a
        // strong 2x; parallel misalignment radially with 2x above 1x.
        order(1, axial ? 1.0 : 0.6);
        order(2, axial ? 0.75 : 1.0);
        order(3, 0.3);
        break;
    case PlantFault::Looseness:
        // A truncated (clipped) response: harmonics up to 10x falling off,
        // and half orders from 0.5x.
        for (int k = 1; k <= 10; ++k) order(k, std::pow(0.8, k - 1));
        for (int k = 0; k < 10; ++k) order(k + 0.5, 0.4 * std::pow(0.8, k));
        break;
    case PlantFault::BentShaft:
        order(1, 1);
        order(2, axial ? 0.6 : 0.3);
        break;
    case PlantFault::GearMesh:
        for (int h = 1; h <= 2; ++h) {
            const double w = h == 1 ? 1.0 : 0.4;
            order(h * static_cast<double>(c.teeth), w);
            for (int s = 1; s <= 3; ++s) {
                const double side = w * c.sideband * std::pow(0.5, s - 1);
                order(h * static_cast<double>(c.teeth) - s, side);
                order(h * static_cast<double>(c.teeth) + s, side);
            }
        }
        break;
    case PlantFault::VanePass:
        order(c.blades, 1);
        order(2.0 * c.blades, 0.35);
        break;
    case PlantFault::Electrical: l.push_back({0, 2 * line_hz, 1}); break;
    default: break;
    }
    // Sidebands at or below 0 Hz (a gear of few teeth) are dropped.
    std::erase_if(l, [](const PlantLine& x) { return x.order <= 0 && x.hz <= 0; });
    return l;
}

double plant_line_scale(const std::vector<PlantLine>& lines, double shaft_hz, double severity)
{
    double sum = 0;
    for (const PlantLine& l : lines) {
        const double f = plant_line_hz(l, shaft_hz);
        if (f >= PLANT_BAND_LO_HZ && f <= PLANT_BAND_HI_HZ) sum += l.weight * l.weight;
    }
    return sum > 0 ? severity * std::sqrt(2.0 / sum) : 0;
}

std::string plant_parse(const std::string& text, const std::string& file, const PlantBearingLookup& lookup, Plant* out)
{
    JsonValue root;
    std::string why;
    std::string body = text;
    if (body.size() >= 3 && body.compare(0, 3, "\xEF\xBB\xBF") == 0) body.erase(0, 3);
    if (!json_parse(body, JsonLimits{JSON_DEPTH, JSON_VALUES}, &root, &why)) return file + ": " + why;
    Plant p;
    p.file = file;
    try {
        Reader(lookup).plant(root, &p);
    } catch (const Fault& f) {
        return file + ": " + f.path + ": " + f.what;
    }
    *out = std::move(p);
    return "";
}

std::string plant_load(const std::string& path, const PlantBearingLookup& lookup, Plant* out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return path + ": cannot read the plant file";
    std::string text;
    char buf[65536];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        text.append(buf, static_cast<size_t>(in.gcount()));
        if (text.size() > FILE_BYTES_MAX) return path + ": larger than a plant file may be (16 MB)";
    }
    if (in.bad()) return path + ": cannot read the plant file";
    return plant_parse(text, path, lookup, out);
}

std::string plant_point_path(const PlantGroup& g, const PlantMachine& m, const PlantPoint& p)
{
    return g.name + "/" + m.name + "/" + p.name;
}

std::vector<std::string> plant_point_paths(const Plant& plant)
{
    std::vector<std::string> paths;
    for (const PlantGroup& g : plant.groups)
        for (const PlantMachine& m : g.machines)
            for (const PlantPoint& p : m.points) paths.push_back(plant_point_path(g, m, p));
    return paths;
}

bool plant_find_point(const Plant& plant, const std::string& path, const PlantMachine** machine,
                      const PlantPoint** point)
{
    for (const PlantGroup& g : plant.groups)
        for (const PlantMachine& m : g.machines)
            for (const PlantPoint& p : m.points)
                if (plant_point_path(g, m, p) == path) {
                    *machine = &m;
                    *point = &p;
                    return true;
                }
    return false;
}
