#include "tools/archive/route_io.h"

#include <cmath>
#include <cstring>
#include <sstream>
#include <vector>

#include "base/checksum.h"
#include "tools/archive/json.h"
#include "tools/archive/json_parse.h"
#include "tools/archive/text.h"

namespace {

constexpr u32 NAME_BYTES = ROUTE_NAME_SIZE - 1;
constexpr u32 POINT_TYPE_DEFAULT = 1;  // any value but 0 marks a point
constexpr i32 LINES_OFFERED[] = {400, 1600};
constexpr i32 FMAX_OFFERED[] = {400, 1000, 4000};
constexpr i32 AVERAGES_OFFERED[] = {1, 4, 10};
constexpr char CSV_SEPARATOR = ',';
constexpr char PATH_SEPARATOR = '/';
constexpr char PATH_ESCAPE = '\\';
constexpr const char* CSV_HEADER = "path,type,quantity,lines,fmin,fmax,averages,state,measurement";
constexpr int CSV_SETTINGS = 7;  // columns an imported row needs

// The settings of a point as users write them.
struct PointSettings {
    bool spectrum = true;
    u32 quantity = ROUTE_QUANTITY_VELOCITY;
    i32 lines = 1600, fmin = 0, fmax = 1000, averages = 1;
    u32 point_type = POINT_TYPE_DEFAULT;
};

const char* quantity_word(u32 q)
{
    if (q == ROUTE_QUANTITY_ACCELERATION) return "acceleration";
    if (q == ROUTE_QUANTITY_DISPLACEMENT) return "displacement";
    return "velocity";
}

bool quantity_from(const std::string& w, u32* q)
{
    if (w == "acceleration")
        *q = ROUTE_QUANTITY_ACCELERATION;
    else if (w == "velocity")
        *q = ROUTE_QUANTITY_VELOCITY;
    else if (w == "displacement")
        *q = ROUTE_QUANTITY_DISPLACEMENT;
    else
        return false;
    return true;
}

template <size_t N>
bool offered(i32 v, const i32 (&values)[N])
{
    for (const i32 o : values)
        if (o == v) return true;
    return false;
}

template <size_t N>
std::string offered_text(const i32 (&values)[N])
{
    std::string t;
    for (size_t i = 0; i < N; ++i) t += (i ? (i + 1 == N ? " or " : ", ") : "") + std::to_string(values[i]);
    return t;
}

// The checks of a point's settings; "" when they are the instrument's.
std::string settings_fault(const PointSettings& s)
{
    if (!offered(s.lines, LINES_OFFERED)) return "lines must be " + offered_text(LINES_OFFERED);
    if (!offered(s.fmax, FMAX_OFFERED)) return "fmax must be " + offered_text(FMAX_OFFERED) + " (Hz)";
    if (s.fmin < 0 || s.fmin >= s.fmax) return "fmin must be at least 0 and below fmax";
    if (!offered(s.averages, AVERAGES_OFFERED)) return "averages must be " + offered_text(AVERAGES_OFFERED);
    if (s.point_type == 0) return "point_type must not be 0 (0 marks a group)";
    return "";
}

// Builds the flat item list; every fault names where it is.
class Builder {
public:
    explicit Builder(RouteBuffer* buf) : buf_(buf) { route_clear(buf); }

    bool name_route(const std::string& utf8, const std::string& where, std::string* error)
    {
        std::string cp;
        if (!convert_name(utf8, where, &cp, error)) return false;
        std::memset(buf_->header.name, 0, sizeof buf_->header.name);
        std::memcpy(buf_->header.name, cp.data(), cp.size());
        return true;
    }
    // Adds an item under `parent` (-1 for the route item); its index, or -1.
    int add(const std::string& utf8, int parent, u32 node_kind, bool expanded, bool ignored, const PointSettings* p,
            const std::string& where, std::string* error)
    {
        if (count_ >= ROUTE_MAX_ITEMS) {
            *error = where + ": more than " + std::to_string(ROUTE_MAX_ITEMS) + " items (the route item included)";
            return -1;
        }
        const u32 level = parent < 0 ? 0 : buf_->items[parent].level + 1;
        if (level > ROUTE_MAX_LEVEL) {
            *error = where + ": deeper than " + std::to_string(ROUTE_MAX_LEVEL) + " levels";
            return -1;
        }
        std::string cp;
        if (!convert_name(utf8, where, &cp, error)) return -1;
        RouteItem& it = buf_->items[count_];
        std::memset(&it, 0, sizeof it);
        it.state = ROUTE_STATE_NOT_MEASURED | (ignored ? ROUTE_STATE_IGNORED_BIT : 0);
        it.measurement = ROUTE_NO_MEASUREMENT;
        std::memcpy(it.name, cp.data(), cp.size());
        it.level = level;
        it.parent = parent;
        it.node_kind = node_kind;
        it.expanded = expanded ? 1 : 0;
        if (p) {
            it.point_type = p->point_type;
            it.spectrum = p->spectrum ? ROUTE_SPECTRUM : 0;
            it.quantity = p->quantity;
            it.lines = p->lines;
            it.fmin = p->fmin;
            it.fmax = p->fmax;
            it.averages = p->averages;
        }
        return static_cast<int>(count_++);
    }
    bool finish(std::string* error)
    {
        buf_->header.count = count_;
        for (u32 i = 0; i < count_; ++i) checksum_store(&buf_->items[i], ROUTE_ITEM_SIZE, ROUTE_ITEM_CHECKSUM_AT);
        buf_->header.format = ROUTE_FORMAT;
        checksum_store(&buf_->header, ROUTE_HEADER_SIZE, ROUTE_HEADER_CHECKSUM_AT);
        if (count_ < 2) {
            *error = "the route has no groups or points";
            return false;
        }
        // The instrument's own check of what it loads.
        if (!route_check(buf_)) {
            *error = "the items do not form a route's tree";
            return false;
        }
        return true;
    }
    RouteItem& item(int i) { return buf_->items[i]; }
    u32 count() const { return count_; }

private:
    static bool convert_name(const std::string& utf8, const std::string& where, std::string* cp, std::string* error)
    {
        std::string why;
        if (!utf8_to_cp1251(utf8, cp, &why)) {
            *error = where + ": the name \"" + utf8 + "\": " + why;
            return false;
        }
        if (cp->empty()) {
            *error = where + ": an empty name";
            return false;
        }
        for (size_t k = 0; k < cp->size(); ++k)
            if (static_cast<unsigned char>((*cp)[k]) < ' ') {
                *error = where + ": a control character in a name (character " + std::to_string(k + 1) + ")";
                return false;
            }
        if (cp->size() > NAME_BYTES) {
            *error = where + ": the name \"" + utf8 + "\" is " + std::to_string(cp->size()) +
                     " bytes in Windows-1251; at most " + std::to_string(NAME_BYTES) + " fit";
            return false;
        }
        return true;
    }
    RouteBuffer* buf_;
    u32 count_ = 0;
};

// ---- JSON ----

bool json_int(const JsonValue& v, const char* key, i32* out, std::string* error)
{
    if (v.type != JsonValue::Number || v.number != std::floor(v.number) || std::fabs(v.number) > 1e9) {
        *error = v.where() + ": \"" + key + "\" must be a whole number";
        return false;
    }
    *out = static_cast<i32>(v.number);
    return true;
}

bool json_string(const JsonValue& v, const char* key, std::string* out, std::string* error)
{
    if (v.type != JsonValue::String) {
        *error = v.where() + ": \"" + key + "\" must be a string";
        return false;
    }
    *out = v.text;
    return true;
}

bool json_bool(const JsonValue& v, const char* key, bool* out, std::string* error)
{
    if (v.type != JsonValue::Bool) {
        *error = v.where() + ": \"" + key + "\" must be true or false";
        return false;
    }
    *out = v.boolean;
    return true;
}

bool json_item(const JsonValue& v, int parent, Builder& b, std::string* error)
{
    if (v.type != JsonValue::Object) {
        *error = v.where() + ": an item must be an object with \"group\" or \"point\"";
        return false;
    }
    const JsonValue* group = v.find("group");
    const JsonValue* point = v.find("point");
    if ((group != nullptr) == (point != nullptr)) {
        *error = v.where() + ": an item has either \"group\" or \"point\"";
        return false;
    }
    std::string name;
    if (!json_string(group ? *group : *point, group ? "group" : "point", &name, error)) return false;
    bool ignored = false, collapsed = false;
    PointSettings s;
    const JsonValue* children = nullptr;
    std::string type = "spectrum", quantity = "velocity";
    for (const auto& [key, m] : v.members) {
        bool ok = true;
        if (key == "group" || key == "point" || key == "state" || key == "measurement") {
            // the name, and what an export tells (a new route starts fresh)
        } else if (key == "ignored") {
            ok = json_bool(m, "ignored", &ignored, error);
        } else if (group && key == "collapsed") {
            ok = json_bool(m, "collapsed", &collapsed, error);
        } else if (group && key == "items") {
            if (m.type != JsonValue::Array) {
                *error = m.where() + ": \"items\" must be an array";
                return false;
            }
            children = &m;
        } else if (point && key == "type") {
            ok = json_string(m, "type", &type, error);
        } else if (point && key == "quantity") {
            ok = json_string(m, "quantity", &quantity, error);
        } else if (point && key == "lines") {
            ok = json_int(m, "lines", &s.lines, error);
        } else if (point && key == "fmin") {
            ok = json_int(m, "fmin", &s.fmin, error);
        } else if (point && key == "fmax") {
            ok = json_int(m, "fmax", &s.fmax, error);
        } else if (point && key == "averages") {
            ok = json_int(m, "averages", &s.averages, error);
        } else if (point && key == "point_type") {
            i32 t = 0;
            ok = json_int(m, "point_type", &t, error);
            s.point_type = static_cast<u32>(t);
        } else {
            *error = m.where() + ": unknown key \"" + key + "\" for a " + (group ? "group" : "point");
            return false;
        }
        if (!ok) return false;
    }
    if (point) {
        if (type != "spectrum" && type != "waveform") {
            *error = v.where() + ": \"type\" must be \"spectrum\" or \"waveform\", not \"" + type + "\"";
            return false;
        }
        s.spectrum = type == "spectrum";
        if (!quantity_from(quantity, &s.quantity)) {
            *error = v.where() + ": unknown quantity \"" + quantity + "\" (acceleration, velocity or displacement)";
            return false;
        }
        const std::string fault = settings_fault(s);
        if (!fault.empty()) {
            *error = v.where() + ": " + fault;
            return false;
        }
    }
    const int at = b.add(name, parent, group ? ROUTE_NODE_GROUP : ROUTE_NODE_POINT, group && !collapsed, ignored,
                         point ? &s : nullptr, v.where(), error);
    if (at < 0) return false;
    if (children)
        for (const JsonValue& c : children->items)
            if (!json_item(c, at, b, error)) return false;
    return true;
}

// ---- CSV ----

// The fields of one CSV line (double quotes around a field allowed, "" for
// a quote inside one); false for an unclosed quote.
bool csv_fields(const std::string& line, std::vector<std::string>* out)
{
    out->clear();
    std::string f;
    bool quoted = false, was_quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                f += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                f += c;
            }
        } else if (c == '"' && f.empty() && !was_quoted) {
            quoted = was_quoted = true;
        } else if (c == CSV_SEPARATOR) {
            out->push_back(f);
            f.clear();
            was_quoted = false;
        } else {
            f += c;
        }
    }
    out->push_back(f);
    return !quoted;
}

std::string trimmed(const std::string& s)
{
    const size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}

bool csv_int(const std::string& f, const char* what, i32* out, std::string* error, const std::string& where)
{
    const std::string t = trimmed(f);
    if (t.empty() || t.size() > 9 || t.find_first_not_of("0123456789") != std::string::npos) {
        *error = where + ": " + what + " must be a whole number, not \"" + t + "\"";
        return false;
    }
    *out = std::stoi(t);
    return true;
}

std::string escape_csv(const std::string& s)
{
    if (s.find_first_of(",\"\n") == std::string::npos) return s;
    std::string q = "\"";
    for (const char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

const char* state_word(const RouteItem& it)
{
    if (it.state & ROUTE_STATE_IGNORED_BIT) return "ignored";
    if (it.state & ROUTE_STATE_UNMEASURED_BIT) return "to measure";
    return "measured";
}

bool is_group(const RouteItem& it)
{
    return it.point_type == 0;
}

}  // namespace

bool route_from_json(const std::string& text, const std::string& fallback_name, RouteBuffer* buf, std::string* error)
{
    JsonValue root;
    std::string why;
    if (!json_parse(text, &root, &why)) {
        *error = why;
        return false;
    }
    if (root.type != JsonValue::Object) {
        *error = root.where() + ": the route must be an object with \"name\" and \"items\"";
        return false;
    }
    std::string name = fallback_name;
    const JsonValue* items = nullptr;
    bool collapsed = false;
    for (const auto& [key, m] : root.members) {
        if (key == "name") {
            if (!json_string(m, "name", &name, error)) return false;
        } else if (key == "items") {
            if (m.type != JsonValue::Array) {
                *error = m.where() + ": \"items\" must be an array";
                return false;
            }
            items = &m;
        } else if (key == "collapsed") {
            if (!json_bool(m, "collapsed", &collapsed, error)) return false;
        } else if (key != "format") {
            *error = m.where() + ": unknown key \"" + key + "\" for the route";
            return false;
        }
    }
    if (items == nullptr) {
        *error = root.where() + ": the route has no \"items\"";
        return false;
    }
    Builder b(buf);
    if (!b.name_route(name, root.where(), error)) return false;
    if (b.add(name, -1, ROUTE_NODE_ROUTE, !collapsed, false, nullptr, root.where(), error) < 0) return false;
    for (const JsonValue& c : items->items)
        if (!json_item(c, 0, b, error)) return false;
    return b.finish(error);
}

bool route_from_csv(const std::string& text, const std::string& fallback_name, RouteBuffer* buf, std::string* error)
{
    Builder b(buf);
    if (!b.name_route(fallback_name, "the route's name", error)) return false;
    if (b.add(fallback_name, -1, ROUTE_NODE_ROUTE, true, false, nullptr, "the route's name", error) < 0) return false;
    std::istringstream in(text);
    std::string line;
    std::vector<std::string> f;
    int number = 0;
    bool header_seen = false;
    while (std::getline(in, line)) {
        ++number;
        const std::string where = "line " + std::to_string(number);
        if (trimmed(line).empty() || trimmed(line)[0] == '#') continue;
        if (!csv_fields(line, &f)) {
            *error = where + ": a field's double quote is not closed";
            return false;
        }
        if (!header_seen) {
            header_seen = true;
            if (trimmed(f[0]) == "path") continue;  // the header line
        }
        if (f.size() < static_cast<size_t>(CSV_SETTINGS)) {
            *error = where + ": " + std::to_string(f.size()) + " fields; a point needs " +
                     std::to_string(CSV_SETTINGS) + " (" + CSV_HEADER + ", the last two optional)";
            return false;
        }
        PointSettings s;
        const std::string type = trimmed(f[1]);
        if (type != "spectrum" && type != "waveform") {
            *error = where + ": type must be spectrum or waveform, not \"" + type + "\"";
            return false;
        }
        s.spectrum = type == "spectrum";
        if (!quantity_from(trimmed(f[2]), &s.quantity)) {
            *error = where + ": unknown quantity \"" + trimmed(f[2]) + "\" (acceleration, velocity or displacement)";
            return false;
        }
        if (!csv_int(f[3], "lines", &s.lines, error, where) || !csv_int(f[4], "fmin", &s.fmin, error, where) ||
            !csv_int(f[5], "fmax", &s.fmax, error, where) || !csv_int(f[6], "averages", &s.averages, error, where))
            return false;
        const std::string fault = settings_fault(s);
        if (!fault.empty()) {
            *error = where + ": " + fault;
            return false;
        }
        const bool ignored = f.size() > 7 && trimmed(f[7]) == "ignored";
        // The path: groups, made on their first mention, then the point.
        // A '/' or '\\' inside a name is written with a '\\' before it.
        std::vector<std::string> parts;
        std::string part;
        for (size_t k = 0; k < f[0].size(); ++k) {
            const char c = f[0][k];
            if (c == PATH_ESCAPE && k + 1 < f[0].size()) {
                part += f[0][++k];
            } else if (c == PATH_SEPARATOR) {
                parts.push_back(trimmed(part));
                part.clear();
            } else {
                part += c;
            }
        }
        parts.push_back(trimmed(part));
        int parent = 0;
        for (size_t k = 0; k + 1 < parts.size(); ++k) {
            // The last group of this name under the parent, if it is the
            // parent's last child so far (items stay depth-first).
            int found = -1;
            for (int i = static_cast<int>(b.count()) - 1; i > parent; --i) {
                const RouteItem& it = b.item(i);
                if (it.parent == parent) {
                    std::string cp, why;
                    if (is_group(it) && utf8_to_cp1251(parts[k], &cp, &why) && cp == it.name) found = i;
                    break;
                }
            }
            if (found < 0) found = b.add(parts[k], parent, ROUTE_NODE_GROUP, true, false, nullptr, where, error);
            if (found < 0) return false;
            parent = found;
        }
        if (b.add(parts.back(), parent, ROUTE_NODE_POINT, false, ignored, &s, where, error) < 0) return false;
    }
    return b.finish(error);
}

std::string route_to_json(const RouteBuffer& buf)
{
    const u32 count = buf.header.count;
    JsonWriter w;
    w.begin_object();
    w.value("name", cp1251_to_utf8(std::string(buf.header.name, strnlen(buf.header.name, ROUTE_NAME_SIZE))));
    if (count > 0 && !buf.items[0].expanded) w.value("collapsed", true);
    w.begin_array("items");
    std::vector<int> open;  // groups whose "items" are open, innermost last
    for (u32 i = 1; i < count; ++i) {
        const RouteItem& it = buf.items[i];
        while (!open.empty() && it.parent != open.back()) {
            w.end().end();
            open.pop_back();
        }
        const std::string name = cp1251_to_utf8(std::string(it.name, strnlen(it.name, ROUTE_NAME_SIZE)));
        w.begin_object();
        if (is_group(it)) {
            w.value("group", name);
            if (!it.expanded) w.value("collapsed", true);
            if (it.state & ROUTE_STATE_IGNORED_BIT) w.value("ignored", true);
            w.begin_array("items");
            open.push_back(static_cast<int>(i));
            continue;
        }
        w.value("point", name);
        w.value("type", it.spectrum == ROUTE_SPECTRUM ? "spectrum" : "waveform");
        w.value("quantity", quantity_word(it.quantity));
        w.value("lines", it.lines).value("fmin", it.fmin).value("fmax", it.fmax).value("averages", it.averages);
        if (it.point_type != POINT_TYPE_DEFAULT) w.value("point_type", it.point_type);
        if (it.state & ROUTE_STATE_IGNORED_BIT) w.value("ignored", true);
        w.value("state", state_word(it));
        if (it.measurement != ROUTE_NO_MEASUREMENT)
            w.value("measurement", it.measurement);
        else
            w.null("measurement");
        w.end();
    }
    while (!open.empty()) {
        w.end().end();
        open.pop_back();
    }
    w.end();
    w.end();
    return w.text();
}

std::string route_to_csv(const RouteBuffer& buf)
{
    const u32 count = buf.header.count;
    std::ostringstream out;
    out << CSV_HEADER << "\n";
    for (u32 i = 1; i < count; ++i) {
        const RouteItem& it = buf.items[i];
        if (is_group(it)) continue;
        std::string path;
        for (i32 p = static_cast<i32>(i); p > 0 && static_cast<u32>(p) < count; p = buf.items[p].parent) {
            std::string name;
            for (const char c :
                 cp1251_to_utf8(std::string(buf.items[p].name, strnlen(buf.items[p].name, ROUTE_NAME_SIZE)))) {
                if (c == PATH_SEPARATOR || c == PATH_ESCAPE) name += PATH_ESCAPE;
                name += c;
            }
            path = path.empty() ? name : name + PATH_SEPARATOR + path;
        }
        out << escape_csv(path) << "," << (it.spectrum == ROUTE_SPECTRUM ? "spectrum" : "waveform") << ","
            << quantity_word(it.quantity) << "," << it.lines << "," << it.fmin << "," << it.fmax << "," << it.averages
            << "," << state_word(it) << ",";
        if (it.measurement != ROUTE_NO_MEASUREMENT) out << it.measurement;
        out << "\n";
    }
    return out.str();
}
