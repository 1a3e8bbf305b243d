// grade: what the archive holds for the route of a virtual plant, against
// the plant's truth: which points were measured, with the point's settings
// or not, and whether each reading's overall value agrees with the one the
// plant's model gives. A text table, JSON, or a one-page HTML report with a
// plot per point for a trainer to hand out.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "analysis/plant.h"
#include "analysis/signal.h"
#include "archive/measurement.h"
#include "archive/route.h"
#include "screens/plant_bearings.h"
#include "storage/dir.h"
#include "storage/fs.h"
#include "tools/archive/json.h"
#include "tools/archive/plant_expect.h"
#include "tools/archive/plant_route.h"
#include "tools/archive/route_io.h"
#include "tools/archive/text.h"
#include "tools/archive/tool.h"

namespace {

// A reading agrees when it lies within this share of the expected value,
// or within the floor of its unit (for the smallest values).
constexpr double TOLERANCE_PERCENT = 10;
constexpr double FLOOR_VELOCITY = 0.1, FLOOR_ACCELERATION = 0.1, FLOOR_DISPLACEMENT = 1.0;
constexpr i32 FMAX_OFFERED[] = {400, 1000, 4000};
constexpr u32 SAMPLES_MANY = 4096;
constexpr double RATE_PER_FMAX = 2.56;

enum class Result { Pass, Fail, WrongSetup, Missing, NotInRoute };

const char* result_word(Result r)
{
    switch (r) {
    case Result::Pass: return "pass";
    case Result::Fail: return "fail";
    case Result::WrongSetup: return "wrong setup";
    case Result::Missing: return "missing";
    default: return "not in route";
    }
}

struct Setup {
    bool spectrum;
    u32 quantity;  // Q_A, Q_V, Q_D
    i32 lines, fmax, averages;
    bool operator==(const Setup&) const = default;
};

std::string setup_text(const Setup& s)
{
    std::string t = std::string(quantity_name(s.quantity)) + (s.spectrum ? " spectrum, " : " waveform, ");
    t += s.spectrum ? std::to_string(s.lines) + " lines, " : std::to_string(s.lines > 400 ? 4096 : 1024) + " samples, ";
    t += std::to_string(s.fmax) + " Hz";
    if (s.spectrum)
        t += s.averages == 0 ? ", averaging not recorded"
                             : ", " + std::to_string(s.averages) + (s.averages == 1 ? " average" : " averages");
    return t;
}

u32 quantity_of_route(u32 q)
{
    return q == ROUTE_QUANTITY_ACCELERATION ? Q_A : q == ROUTE_QUANTITY_DISPLACEMENT ? Q_D : Q_V;
}

// The averaging the route screen sets for a point's `averages`.
i32 averaging_of(i32 averages)
{
    return averages < 2 ? 1 : averages > 4 ? 10 : 4;
}

Setup setup_of(const PlantPointSetup& s)
{
    return {s.spectrum, quantity_of_route(s.quantity), s.lines > ROUTE_FEW_LINES ? 1600 : 400, s.fmax,
            s.spectrum ? averaging_of(s.averages) : 0};
}

Setup setup_of(const RouteItem& it)
{
    return {it.spectrum == ROUTE_SPECTRUM, quantity_of_route(it.quantity), it.lines > ROUTE_FEW_LINES ? 1600 : 400,
            it.fmax, it.spectrum == ROUTE_SPECTRUM ? averaging_of(it.averages) : 0};
}

i32 nearest_fmax(double hz)
{
    i32 best = FMAX_OFFERED[0];
    for (const i32 f : FMAX_OFFERED)
        if (std::fabs(f - hz) < std::fabs(best - hz)) best = f;
    return best;
}

// The main record of a measurement.
struct Reading {
    u32 id = 0;
    u32 number = 0;
    std::string date_time;
    Setup setup{};
    std::vector<i32> data;
    u32 count = 0;
    double dx = 0, scale = 0;
    float velocity = 0, temperature = 0;  // as the instrument stored them
};

bool read_reading(u32 id, Reading* r, std::string* error)
{
    MeasHeader h;
    if (meas_read_header(id, &h) != MEAS_OK) {
        *error = "its header does not read";
        return false;
    }
    static SpectraRecord rec;
    static i32 s2[MEAS_SPECTRA_DATA_CAPACITY / sizeof(i32)];
    MeasSection one{&rec, sizeof rec, 0}, two{s2, sizeof s2, 0};
    u32 kind = 0;
    if (meas_read(id, &kind, &one, &two, nullptr, true) == 0 || one.length != SPECTRA_RECORD_SIZE ||
        kind > MEAS_KIND_SPECTRUM) {
        *error = "it is no signal or spectrum, or does not read";
        return false;
    }
    if (spectra_record_check(&rec, s2, two.length) != SPECTRA_CHECK_OK) {
        *error = spectra_check_text(spectra_record_check(&rec, s2, two.length));
        return false;
    }
    const int slot = spectra_find_slot(&rec, SPECTRA_MAIN);
    const i32* data = spectra_slot_data(&rec, slot, s2, two.length);
    if (slot == SPECTRA_NO_SLOT || data == nullptr) {
        *error = "it holds no main record";
        return false;
    }
    const SpectraSlot& s = rec.slot[slot];
    const bool spectrum = s.kind == KIND_S;
    const u32 words = s.data_bytes / sizeof(i32);
    r->id = id;
    r->number = h.number;
    char t[32];
    std::snprintf(t, sizeof t, "20%02u-%02u-%02u %02u:%02u:%02u", h.year % 100u, h.month, h.day, h.hour, h.minute,
                  h.second);
    r->date_time = t;
    r->count = spectrum ? std::min(s.count, words / 2) : std::min(s.count, words);
    r->data.assign(data, data + (spectrum ? 2 * r->count : r->count));
    r->dx = s.dx;
    r->scale = s.scale;
    r->velocity = rec.velocity;
    r->temperature = rec.temperature;
    r->setup.spectrum = spectrum;
    r->setup.quantity = s.quantity;
    if (spectrum) {
        r->setup.lines = r->count > 401 ? 1600 : 400;
        r->setup.fmax = nearest_fmax((r->count - 1) * r->dx);
        r->setup.averages = static_cast<i32>(rec.averaging);
    } else {
        r->setup.lines = r->count >= SAMPLES_MANY ? 1600 : 400;
        r->setup.fmax = r->dx > 0 ? nearest_fmax(1.0 / r->dx / RATE_PER_FMAX) : 0;
        r->setup.averages = 0;
    }
    return true;
}

struct Graded {
    std::string path;
    std::string note;  // what the trainer should know (wrong settings, an unreadable record)
    Setup want{};      // the plant's settings for the point
    bool measured = false;
    Reading reading;
    PlantExpectation expect;
    double measured_value = -1;
    double allowed = 0;  // the largest deviation that agrees
    Result result = Result::Missing;
    std::vector<std::string> faults;  // the point's fault components, for the report
};

double floor_of(u32 quantity)
{
    return quantity == Q_A ? FLOOR_ACCELERATION : quantity == Q_D ? FLOOR_DISPLACEMENT : FLOOR_VELOCITY;
}

std::string fixed(double v, int digits)
{
    char b[48];
    std::snprintf(b, sizeof b, "%.*f", digits, v);
    return b;
}

// A value with 3 significant digits.
std::string value3(double v)
{
    const double a = std::fabs(v);
    return fixed(v, a >= 100 ? 0 : a >= 10 ? 1 : a >= 1 ? 2 : 3);
}

std::string deviation_text(const Graded& g)
{
    if (g.measured_value < 0 || g.expect.overall <= 0) return "";
    const double d = (g.measured_value - g.expect.overall) / g.expect.overall * 100.0;
    const std::string t = fixed(d, 1);
    if (t == "0.0" || t == "-0.0") return "0.0 %";
    return (d > 0 ? "+" : "") + t + " %";
}

std::string tolerance_text(double percent)
{
    return "±" + value3(percent) + " % of the expected value, at least ±" + value3(FLOOR_VELOCITY) + " mm/s, ±" +
           value3(FLOOR_ACCELERATION) + " m/s², ±" + value3(FLOOR_DISPLACEMENT) + " µm";
}

constexpr const char* HOW_EXPECTED =
    "expected: from the plant's model at the setup's sample rate, the root of the sum of the squares of the RMS "
    "of the point's lines within the band (the components' lines; for bearing faults the multiples of the defect "
    "frequency and their sidebands, as the impacts' ringing reaches them), the impacts' ringing and the noise "
    "spread over the band (their power in the band by the resonance's response; averaged spectra read a random "
    "part at π/4 + (1 - π/4)/n of its power), and the plant's noise floor";
constexpr const char* HOW_MEASURED =
    "measured: from the stored record the same way, the root of the sum of the squared peak amplitudes of the "
    "lines within the band over 2 × the Hamming window's power gain (1.369); a waveform through its spectrum "
    "without a window";
constexpr const char* HOW_BAND =
    "band: velocity 10 Hz to 1000 Hz (or the spectrum's end), acceleration 10 Hz to the spectrum's end, "
    "displacement 10 Hz to 300 Hz; velocity RMS in mm/s, acceleration RMS in m/s², displacement RMS in µm";

// ---- output ----

std::string text_report(const std::string& plant_file, const std::string& route, const std::vector<Graded>& all,
                        double percent, const int counts[5])
{
    std::ostringstream out;
    out << "Route \"" << route << "\" graded against the plant " << plant_file << "\n";
    out << "tolerance: " << tolerance_text(percent) << "\n" << HOW_BAND << "\n\n";
    size_t w = 5;
    for (const Graded& g : all) w = std::max(w, g.path.size());
    char line[512];
    std::snprintf(line, sizeof line, "%-*s  %-13s  %-10s  %-10s  %-9s  %s\n", static_cast<int>(w), "point", "quantity",
                  "expected", "measured", "deviation", "result");
    out << line;
    for (const Graded& g : all) {
        const std::string unit = quantity_unit(g.expect.quantity);
        const std::string q = std::string(quantity_name(g.expect.quantity)) + " RMS";
        const std::string ex = value3(g.expect.overall) + " " + unit;
        const std::string me = g.measured_value >= 0 ? value3(g.measured_value) + " " + unit : "-";
        // (printf pads bytes: the units' non-ASCII characters take one column more)
        auto pad = [](const std::string& s, size_t width) {
            size_t cols = 0;
            for (const unsigned char c : s) cols += (c & 0xC0) != 0x80;
            return s + std::string(width > cols ? width - cols : 0, ' ');
        };
        out << pad(g.path, w) << "  " << pad(q.substr(0, 13), 13) << "  " << pad(ex, 10) << "  " << pad(me, 10) << "  "
            << pad(deviation_text(g), 9) << "  " << result_word(g.result) << "\n";
        if (!g.note.empty()) out << std::string(w + 2, ' ') << g.note << "\n";
    }
    out << "\n"
        << counts[0] << " of " << all.size() << " points pass; " << counts[1] << " failed, " << counts[2]
        << " with a wrong setup, " << counts[3] << " missing, " << counts[4] << " not in the route\n";
    return out.str();
}

void setup_json(JsonWriter& w, const char* key, const Setup& s)
{
    w.begin_object(key);
    w.value("type", s.spectrum ? "spectrum" : "waveform").value("quantity", quantity_name(s.quantity));
    w.value("lines", s.lines).value("fmax", s.fmax);
    if (s.spectrum) w.value("averages", s.averages);
    w.end();
}

std::string json_report(const std::string& plant_file, const std::string& route, u32 route_id,
                        const std::vector<Graded>& all, double percent, const int counts[5])
{
    JsonWriter w;
    w.begin_object();
    w.value("plant", plant_file).value("route", route).value("route_id", route_id);
    w.begin_object("tolerance")
        .value("percent", percent)
        .value("floor_velocity_mm_s", FLOOR_VELOCITY)
        .value("floor_acceleration_m_s2", FLOOR_ACCELERATION)
        .value("floor_displacement_um", FLOOR_DISPLACEMENT)
        .end();
    w.value("expected", HOW_EXPECTED).value("measured", HOW_MEASURED).value("band", HOW_BAND);
    w.begin_array("points");
    for (const Graded& g : all) {
        w.begin_object();
        w.value("path", g.path).value("result", result_word(g.result));
        if (!g.note.empty()) w.value("note", g.note);
        setup_json(w, "setup", g.want);
        w.value("quantity", std::string(quantity_name(g.expect.quantity)) + " RMS");
        w.value("unit", quantity_unit(g.expect.quantity));
        w.begin_array("band_hz").element(g.expect.band.lo_hz).element(g.expect.band.hi_hz).end();
        w.value("expected", g.expect.overall);
        w.value("expected_lines", g.expect.tonal).value("expected_broadband", g.expect.broadband);
        w.value("allowed_deviation", g.allowed);
        if (g.measured) {
            w.value("measurement", g.reading.id).value("number", g.reading.number);
            w.value("date_time", g.reading.date_time);
            setup_json(w, "measured_setup", g.reading.setup);
            if (g.measured_value >= 0)
                w.value("measured", g.measured_value);
            else
                w.null("measured");
            w.value("stored_velocity_rms_mm_s", static_cast<double>(g.reading.velocity));
            w.value("stored_temperature_c", static_cast<double>(g.reading.temperature));
        } else {
            w.null("measurement").null("measured");
        }
        w.begin_array("defect_frequencies_hz");
        for (const ExpectedMarker& m : g.expect.markers)
            w.begin_object().value("name", m.label).value("multiple", m.multiple).value("hz", m.hz).end();
        w.end();
        w.begin_array("faults");
        for (const std::string& f : g.faults) w.element(f);
        w.end();
        w.end();
    }
    w.end();
    w.begin_object("summary")
        .value("points", static_cast<unsigned>(all.size()))
        .value("pass", counts[0])
        .value("fail", counts[1])
        .value("wrong_setup", counts[2])
        .value("missing", counts[3])
        .value("not_in_route", counts[4])
        .end();
    w.end();
    return w.text();
}

std::string html_escape(const std::string& s)
{
    std::string o;
    for (const char c : s) {
        if (c == '<')
            o += "&lt;";
        else if (c == '>')
            o += "&gt;";
        else if (c == '&')
            o += "&amp;";
        else if (c == '"')
            o += "&quot;";
        else
            o += c;
    }
    return o;
}

// The point's spectrum: the measured lines as a trace, the expected lines as
// red rings, the defect frequencies as dashed lines, the band shaded.
std::string svg_plot(const Graded& g)
{
    constexpr double W = 720, H = 220, L = 56, R = 12, T = 12, B = 34;
    const double fmax = g.reading.setup.fmax > 0 && g.measured ? g.reading.setup.fmax : g.want.fmax;
    double line_hz = 0;
    std::vector<double> amps;
    if (g.measured)
        amps = measured_lines(g.reading.setup.spectrum, g.reading.data.data(), g.reading.count, g.reading.dx,
                              g.reading.scale, &line_hz);
    double top = 0;
    for (const double a : amps) top = std::max(top, a);
    for (const ExpectedLine& l : g.expect.lines)
        if (l.hz <= fmax) top = std::max(top, l.amplitude);
    if (top <= 0) top = 1;
    top *= 1.1;
    auto x = [&](double hz) { return L + (W - L - R) * std::clamp(hz / fmax, 0.0, 1.0); };
    auto y = [&](double a) { return T + (H - T - B) * (1.0 - std::clamp(a / top, 0.0, 1.0)); };
    std::ostringstream o;
    o << "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " << W << " " << H << "\" width=\"" << W
      << "\" height=\"" << H << "\" font-size=\"11\" font-family=\"sans-serif\">\n";
    o << "<rect x=\"" << x(g.expect.band.lo_hz) << "\" y=\"" << T << "\" width=\""
      << x(g.expect.band.hi_hz) - x(g.expect.band.lo_hz) << "\" height=\"" << H - T - B << "\" fill=\"#eef4ff\"/>\n";
    o << "<rect x=\"" << L << "\" y=\"" << T << "\" width=\"" << W - L - R << "\" height=\"" << H - T - B
      << "\" fill=\"none\" stroke=\"#888\"/>\n";
    for (int i = 0; i <= 4; ++i) {
        const double hz = fmax * i / 4, a = top / 1.1 * i / 4;
        o << "<text x=\"" << x(hz) << "\" y=\"" << H - B + 14 << "\" text-anchor=\"" << (i == 4 ? "end" : "middle")
          << "\">" << fixed(hz, 0) << "</text>\n";
        o << "<text x=\"" << L - 4 << "\" y=\"" << y(a) + 4 << "\" text-anchor=\"end\">" << (i ? value3(a) : "0")
          << "</text>\n";
    }
    o << "<text x=\"" << (L + W - R) / 2 << "\" y=\"" << H - 4 << "\" text-anchor=\"middle\">frequency (Hz); "
      << quantity_name(g.expect.quantity) << " amplitude (" << quantity_unit(g.expect.quantity)
      << ", peak); shaded: the band of the overall value</text>\n";
    int labelled = 0;
    for (const ExpectedMarker& m : g.expect.markers) {
        o << "<line x1=\"" << x(m.hz) << "\" y1=\"" << T << "\" x2=\"" << x(m.hz) << "\" y2=\"" << H - B
          << "\" stroke=\"#c60\" stroke-dasharray=\"4 3\"/>\n";
        // Only the defect frequency itself is named; its multiples follow it.
        if (m.multiple == 1)
            o << "<text x=\"" << x(m.hz) + 3 << "\" y=\"" << T + 11 + 12 * labelled++ << "\" fill=\"#c60\">"
              << html_escape(m.label) << "</text>\n";
    }
    if (!amps.empty() && line_hz > 0) {
        o << "<polyline fill=\"none\" stroke=\"#147\" stroke-width=\"1\" points=\"";
        // At most one point per tenth of a pixel column: the peaks stay.
        const size_t n = amps.size();
        const size_t per = std::max<size_t>(1, n / 1400);
        for (size_t k = 0; k < n; k += per) {
            double a = 0;
            for (size_t j = k; j < std::min(n, k + per); ++j) a = std::max(a, amps[j]);
            if (k * line_hz > fmax) break;
            o << fixed(x(k * line_hz), 1) << "," << fixed(y(a), 1) << " ";
        }
        o << "\"/>\n";
    }
    for (const ExpectedLine& l : g.expect.lines) {
        if (l.hz > fmax) continue;
        o << "<circle cx=\"" << fixed(x(l.hz), 1) << "\" cy=\"" << fixed(y(l.amplitude), 1)
          << "\" r=\"3.5\" fill=\"none\" stroke=\"#d00\" stroke-width=\"1.5\"/>\n";
    }
    o << "</svg>\n";
    return o.str();
}

std::string html_report(const std::string& plant_file, const std::string& route, const std::vector<Graded>& all,
                        double percent, const int counts[5])
{
    std::ostringstream o;
    o << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>Route " << html_escape(route)
      << ": grade</title>\n<style>\n"
      << "body{font-family:sans-serif;margin:1.5em;max-width:760px}table{border-collapse:collapse;font-size:90%}"
      << "td,th{border:1px solid #bbb;padding:2px 6px;text-align:left}td.n{text-align:right;white-space:nowrap}"
      << ".pass{color:#070}.fail,.wrong{color:#b00;font-weight:bold}.missing{color:#a60;font-weight:bold}"
      << "section{page-break-inside:avoid;margin-top:1em}h2{font-size:110%;margin-bottom:.2em}"
      << "p.small{font-size:85%;color:#444}\n</style></head><body>\n";
    o << "<h1>Route \"" << html_escape(route) << "\"</h1>\n";
    o << "<p>Graded against the plant <code>" << html_escape(plant_file) << "</code>: <b>" << counts[0] << " of "
      << all.size() << " points pass</b>; " << counts[1] << " failed, " << counts[2] << " with a wrong setup, "
      << counts[3] << " missing, " << counts[4] << " not in the route.</p>\n";
    o << "<p class=\"small\">A reading passes when its overall value lies within "
      << html_escape(tolerance_text(percent)) << " of the expected one and it was measured with the point's settings. "
      << html_escape(HOW_BAND) << ". " << html_escape(HOW_EXPECTED) << ". " << html_escape(HOW_MEASURED) << ".</p>\n";
    o << "<table><tr><th>point</th><th>setup</th><th>expected</th><th>measured</th><th>deviation</th><th>result</th>"
         "</tr>\n";
    for (const Graded& g : all) {
        const std::string unit = quantity_unit(g.expect.quantity);
        const std::string cls = g.result == Result::Pass      ? "pass"
                                : g.result == Result::Fail    ? "fail"
                                : g.result == Result::Missing ? "missing"
                                                              : "wrong";
        o << "<tr><td>" << html_escape(g.path) << "</td><td>" << html_escape(setup_text(g.want))
          << "</td><td class=\"n\">" << value3(g.expect.overall) << " " << unit << "</td><td class=\"n\">"
          << (g.measured_value >= 0 ? value3(g.measured_value) + " " + unit : "–") << "</td><td class=\"n\">"
          << deviation_text(g) << "</td><td class=\"" << cls << "\">" << result_word(g.result) << "</td></tr>\n";
    }
    o << "</table>\n";
    for (const Graded& g : all) {
        o << "<section><h2>" << html_escape(g.path) << ": " << result_word(g.result) << "</h2>\n<p class=\"small\">";
        o << "Faults: " << (g.faults.empty() ? std::string("none (the noise floor)") : "");
        for (size_t i = 0; i < g.faults.size(); ++i) o << (i ? "; " : "") << html_escape(g.faults[i]);
        o << ".<br>Setup: " << html_escape(setup_text(g.want));
        if (g.measured)
            o << "; measured " << html_escape(setup_text(g.reading.setup)) << " (measurement " << g.reading.id << ", "
              << g.reading.date_time << ")";
        o << ".<br>" << quantity_name(g.expect.quantity) << " RMS " << value3(g.expect.band.lo_hz) << "–"
          << value3(g.expect.band.hi_hz) << " Hz: expected " << value3(g.expect.overall) << " "
          << quantity_unit(g.expect.quantity);
        if (g.measured_value >= 0)
            o << ", measured " << value3(g.measured_value) << " " << quantity_unit(g.expect.quantity) << " ("
              << deviation_text(g) << ", allowed ±" << value3(g.allowed) << ")";
        if (!g.note.empty()) o << ".<br><b>" << html_escape(g.note) << "</b>";
        o << ".</p>\n" << svg_plot(g) << "</section>\n";
    }
    o << "<p class=\"small\">Blue: the measured spectrum (for a waveform, its spectrum); red rings: the lines the "
         "plant puts there, at their amplitude (a line that falls between two lines of the spectrum reads up to "
         "18 % lower on its top, as the Hamming window shows it); dashed: the bearings' defect frequencies and "
         "their multiples.</p>\n</body></html>\n";
    return o.str();
}

std::string fault_text(const PlantComponent& c)
{
    std::string t = plant_fault_name(c.kind);
    if (c.kind == PlantFault::GearMesh) t += " (" + std::to_string(c.teeth) + " teeth)";
    if (c.kind == PlantFault::VanePass) t += " (" + std::to_string(c.blades) + " blades)";
    if (!c.bearing.empty()) t += " of " + c.bearing;
    t += " " + value3(c.severity) + (plant_fault_in_acceleration(c.kind) ? " m/s² RMS" : " mm/s RMS");
    return t;
}

int run(const std::vector<std::string>& args)
{
    std::string plant_file, name, format = "text", out;
    bool have_name = false;
    double percent = TOLERANCE_PERCENT;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--plant" || a == "--name" || a == "--format" || a == "--out" || a == "-o" || a == "--tolerance") {
            if (i + 1 >= args.size()) return tool_error("grade: " + a + " needs a value");
            const std::string& v = args[++i];
            if (a == "--plant") {
                plant_file = v;
            } else if (a == "--name") {
                name = v;
                have_name = true;
            } else if (a == "--format") {
                format = v;
            } else if (a == "--tolerance") {
                char* end = nullptr;
                percent = std::strtod(v.c_str(), &end);
                if (v.empty() || *end != '\0' || !(percent > 0 && percent <= 100))
                    return tool_error("grade: --tolerance takes a percentage above 0 and at most 100, not " + v);
            } else {
                out = v;
            }
        } else {
            return tool_error("grade: unexpected " + a);
        }
    }
    if (plant_file.empty()) return tool_error("grade: give the plant with --plant FILE");
    if (format != "text" && format != "json" && format != "html")
        return tool_error("grade: unknown format " + format + " (text, json or html)");
    Plant plant;
    std::string error = plant_load(plant_file, plant_bearing_lookup, &plant);
    if (!error.empty()) return tool_error(error);
    if (!have_name) name = plant_route_name(plant);
    std::string cp;
    if (!route_name_from_utf8(name, &cp, &error)) return tool_error("grade: the route's name: " + error);

    if (!tool_open_archive(tool_flash_path(), ToolAccess::Read, &error)) return tool_error(error);
    const u32 route_id = route_find(cp.c_str());
    if (route_id == 0) {
        tool_close_archive();
        return tool_error("grade: " + tool_flash_path() + " has no route named " + name +
                          " (make it with: route from-plant " + plant_file + ")");
    }
    auto buf = std::make_unique<RouteBuffer>();
    if (route_load(route_id, buf.get()) != route_id) {
        tool_close_archive();
        return tool_error("grade: route " + std::to_string(route_id) + " does not load (see verify)");
    }
    route_drop_stale_links(buf.get());

    std::vector<Graded> all;
    int counts[5] = {};
    for (const PlantGroup& pg : plant.groups)
        for (const PlantMachine& pm : pg.machines)
            for (const PlantPoint& pp : pm.points) {
                Graded g;
                g.path = plant_point_path(pg, pm, pp);
                const PlantPointSetup want = plant_point_setup(plant, pm, pp);
                g.want = setup_of(want);
                g.expect = plant_expect(plant, pm, pp, g.path, want);
                g.allowed = std::max(g.expect.overall * percent / 100.0, floor_of(g.expect.quantity));
                for (const PlantComponent& c : pp.components) g.faults.push_back(fault_text(c));
                int at = -1;
                for (u32 i = 1; i < buf->header.count; ++i)
                    if (buf->items[i].node_kind == ROUTE_NODE_POINT && route_item_path(*buf, i) == g.path) at = i;
                if (at < 0) {
                    g.result = Result::NotInRoute;
                } else {
                    const RouteItem& it = buf->items[at];
                    const bool linked =
                        (it.state & (ROUTE_STATE_IGNORED_BIT | ROUTE_STATE_UNMEASURED_BIT)) == 0 && it.measurement > 0;
                    if (!(setup_of(it) == g.want))
                        g.note = "the route's point asks for " + setup_text(setup_of(it)) + ", the plant's for " +
                                 setup_text(g.want);
                    if (!linked) {
                        g.result = Result::Missing;
                    } else if (!read_reading(static_cast<u32>(it.measurement), &g.reading, &error)) {
                        g.result = Result::Fail;
                        g.note = "measurement " + std::to_string(it.measurement) + ": " + error;
                    } else {
                        g.measured = true;
                        g.measured_value =
                            measured_overall(g.reading.setup.spectrum, g.reading.data.data(), g.reading.count,
                                             g.reading.dx, g.reading.scale, g.expect.band);
                        if (!(g.reading.setup == g.want)) {
                            g.result = Result::WrongSetup;
                            g.note += g.note.empty() ? "measured as " + setup_text(g.reading.setup) +
                                                           "; the point asks for " + setup_text(g.want)
                                                     : "; measured as " + setup_text(g.reading.setup);
                        } else if (g.measured_value >= 0 &&
                                   std::fabs(g.measured_value - g.expect.overall) <= g.allowed) {
                            g.result = Result::Pass;
                        } else {
                            g.result = Result::Fail;
                        }
                    }
                }
                ++counts[static_cast<int>(g.result)];
                all.push_back(std::move(g));
            }
    tool_close_archive();

    std::string text;
    if (format == "json")
        text = json_report(plant_file, name, route_id, all, percent, counts);
    else if (format == "html")
        text = html_report(plant_file, name, all, percent, counts);
    else
        text = text_report(plant_file, name, all, percent, counts);
    if (out.empty()) {
        std::fputs(text.c_str(), stdout);
    } else {
        std::ofstream f(out, std::ios::binary | std::ios::trunc);
        f << text;
        f.close();
        if (!f) return tool_error(out + ": cannot write: " + std::strerror(errno));
    }
    return counts[0] == static_cast<int>(all.size()) ? TOOL_OK : TOOL_DAMAGE;
}

const ToolCommandRegistrar reg({"grade",
                                "--plant FILE [--name NAME] [--format text|json|html] [--out FILE] "
                                "[--tolerance PERCENT]",
                                "the route of a virtual plant against the plant: which points were measured, with "
                                "the point's settings or not, and whether each overall value agrees with the "
                                "plant's (within 10 % by default); exit status 1 when a point fails or is missing",
                                ToolAccess::None, run});

}  // namespace
