#include "tools/archive/route_io.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>
#include <vector>

#include "base/checksum.h"
#include "tools/archive/json.h"
#include "base/json_parse.h"
#include "tools/archive/text.h"

namespace {

constexpr u32 NAME_BYTES = ROUTE_NAME_SIZE - 1;
constexpr u32 POINT_TYPE_DEFAULT = 1;  // any value but 0 marks a point
constexpr i32 LINES_OFFERED[] = {400, 1600};
constexpr i32 FMAX_OFFERED[] = {400, 1000, 4000};
constexpr i32 AVERAGES_OFFERED[] = {1, 4, 10};
constexpr char CSV_SEPARATOR = ',';
constexpr char CSV_SEPARATOR_ALT = ';';  // what spreadsheets write where the decimal mark is ','
constexpr char PATH_SEPARATOR = '/';
constexpr char PATH_ESCAPE = '\\';
constexpr const char* CSV_HEADER = "path,type,quantity,lines,fmin,fmax,averages,state,measurement,point_type";
constexpr int CSV_SETTINGS = 7;  // columns an imported point's row needs
constexpr int CSV_STATE = 7, CSV_POINT_TYPE = 9;
constexpr const char* CSV_GROUP = "group";  // the type of a row that makes a group (one without points)
// A group's row says in its state field, blanks between: ignored, collapsed.
constexpr const char* CSV_IGNORED = "ignored";
constexpr const char* CSV_COLLAPSED = "collapsed";
constexpr const char* UTF8_BOM = "\xEF\xBB\xBF";
// JSON nesting of a route: the route object and its "items" take two
// levels, every group two more (itself and its "items"), a point's members
// one. One level more than the deepest route is read, so that a route too
// deep is refused with its item's line rather than as JSON.
constexpr int JSON_DEPTH = 2 * (static_cast<int>(ROUTE_MAX_LEVEL) + 1) + 1;
// Values of a route's JSON: an item is an object of at most 12 members.
constexpr size_t JSON_VALUES_PER_ITEM = 16;
// Export indents a route's JSON at most this many steps: deeper groups keep
// the indentation, so that a route 255 levels deep stays small.
constexpr size_t JSON_INDENT_LEVELS = 16;

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
        if (!route_name_from_utf8(utf8, cp, &why)) {
            *error = where + ": " + why;
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
bool csv_fields(const std::string& line, char separator, std::vector<std::string>* out)
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
        } else if (c == separator) {
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

// The separator of a CSV file: the first ',' or ';' of its first line that
// is not inside double quotes (',' when there is none).
char csv_separator(const std::string& line)
{
    bool quoted = false;
    for (const char c : line) {
        if (c == '"') quoted = !quoted;
        if (!quoted && (c == CSV_SEPARATOR || c == CSV_SEPARATOR_ALT)) return c;
    }
    return CSV_SEPARATOR;
}

// `text` without a UTF-8 byte-order mark in front.
std::string without_bom(const std::string& text)
{
    return text.rfind(UTF8_BOM, 0) == 0 ? text.substr(std::strlen(UTF8_BOM)) : text;
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
    // (Quoted too: a path that starts with '#', which would make a comment.)
    if (s.find_first_of(",;\"\n") == std::string::npos && s.rfind('#', 0) != 0) return s;
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
    if (!json_parse(without_bom(text), JsonLimits{JSON_DEPTH, ROUTE_MAX_ITEMS * JSON_VALUES_PER_ITEM}, &root, &why)) {
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
    std::vector<std::string> f;
    int number = 0;
    bool header_seen = false;
    char separator = CSV_SEPARATOR;
    for (size_t at = text.rfind(UTF8_BOM, 0) == 0 ? std::strlen(UTF8_BOM) : 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        const std::string where = "line " + std::to_string(number);
        if (trimmed(line).empty() || trimmed(line)[0] == '#') continue;
        if (!header_seen) separator = csv_separator(line);
        if (!csv_fields(line, separator, &f)) {
            *error = where + ": a field's double quote is not closed";
            return false;
        }
        if (!header_seen) {
            header_seen = true;
            if (trimmed(f[0]) == "path") continue;  // the header line
        }
        const std::string type = f.size() > 1 ? trimmed(f[1]) : "";
        const bool group_row = type == CSV_GROUP;
        if (!group_row && f.size() < static_cast<size_t>(CSV_SETTINGS)) {
            *error = where + ": " + std::to_string(f.size()) + " fields; a point needs " +
                     std::to_string(CSV_SETTINGS) + " (" + CSV_HEADER + ", the last three optional)";
            return false;
        }
        PointSettings s;
        if (!group_row) {
            if (type != "spectrum" && type != "waveform") {
                *error = where + ": type must be spectrum, waveform or group, not \"" + type + "\"";
                return false;
            }
            s.spectrum = type == "spectrum";
            if (!quantity_from(trimmed(f[2]), &s.quantity)) {
                *error =
                    where + ": unknown quantity \"" + trimmed(f[2]) + "\" (acceleration, velocity or displacement)";
                return false;
            }
            if (!csv_int(f[3], "lines", &s.lines, error, where) || !csv_int(f[4], "fmin", &s.fmin, error, where) ||
                !csv_int(f[5], "fmax", &s.fmax, error, where) ||
                !csv_int(f[6], "averages", &s.averages, error, where))
                return false;
            if (f.size() > CSV_POINT_TYPE && !trimmed(f[CSV_POINT_TYPE]).empty()) {
                i32 t = 0;
                if (!csv_int(f[CSV_POINT_TYPE], "point_type", &t, error, where)) return false;
                s.point_type = static_cast<u32>(t);
            }
            const std::string fault = settings_fault(s);
            if (!fault.empty()) {
                *error = where + ": " + fault;
                return false;
            }
        }
        bool ignored = false, collapsed = false;
        if (f.size() > CSV_STATE) {
            std::istringstream words(f[CSV_STATE]);
            for (std::string w; words >> w;) {
                if (w == CSV_IGNORED) {
                    ignored = true;
                } else if (group_row && w == CSV_COLLAPSED) {
                    collapsed = true;
                } else if (group_row) {
                    *error = where + ": a group's state must be empty, ignored or collapsed, not \"" + w + "\"";
                    return false;
                }
            }
        }
        // The path: groups, made on their first mention, then the point (or
        // for a group's row the group itself).
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
        // The last group of this name under the parent, if it is the
        // parent's last child so far (items stay depth-first), else -1.
        auto group_named = [&b](const std::string& name, int parent) {
            for (int i = static_cast<int>(b.count()) - 1; i > parent; --i) {
                const RouteItem& it = b.item(i);
                if (it.parent != parent) continue;
                std::string cp, why;
                return is_group(it) && utf8_to_cp1251(name, &cp, &why) && cp == it.name ? i : -1;
            }
            return -1;
        };
        int parent = 0;
        for (size_t k = 0; k + 1 < parts.size(); ++k) {
            int found = group_named(parts[k], parent);
            if (found < 0) found = b.add(parts[k], parent, ROUTE_NODE_GROUP, true, false, nullptr, where, error);
            if (found < 0) return false;
            parent = found;
        }
        if (group_row) {
            const int found = group_named(parts.back(), parent);
            if (found >= 0) {
                if (ignored) b.item(found).state |= ROUTE_STATE_IGNORED_BIT;
                if (collapsed) b.item(found).expanded = 0;
                continue;
            }
        }
        if (b.add(parts.back(), parent, group_row ? ROUTE_NODE_GROUP : ROUTE_NODE_POINT, group_row && !collapsed,
                  ignored, group_row ? nullptr : &s, where, error) < 0)
            return false;
    }
    return b.finish(error);
}

std::string route_to_json(const RouteBuffer& buf)
{
    const u32 count = buf.header.count;
    JsonWriter w(JSON_INDENT_LEVELS);
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
        // A group has a row of its own when the rows below do not make it
        // as it is: without children, ignored or collapsed.
        const bool has_children = i + 1 < count && buf.items[i + 1].parent == static_cast<i32>(i);
        const bool ignored = it.state & ROUTE_STATE_IGNORED_BIT;
        if (is_group(it) && has_children && !ignored && it.expanded) continue;
        // The names from the point up, joined from the top down.
        std::vector<i32> chain;
        for (i32 p = static_cast<i32>(i); p > 0 && static_cast<u32>(p) < count; p = buf.items[p].parent)
            chain.push_back(p);
        std::string path;
        for (auto p = chain.rbegin(); p != chain.rend(); ++p) {
            if (!path.empty()) path += PATH_SEPARATOR;
            // (A control character of a damaged image escaped: a row stays one line.)
            for (const char c :
                 cp1251_printable(std::string(buf.items[*p].name, strnlen(buf.items[*p].name, ROUTE_NAME_SIZE)))) {
                if (c == PATH_SEPARATOR || c == PATH_ESCAPE) path += PATH_ESCAPE;
                path += c;
            }
        }
        out << escape_csv(path) << CSV_SEPARATOR;
        if (is_group(it)) {
            std::string state = ignored ? CSV_IGNORED : "";
            if (!it.expanded) state += std::string(state.empty() ? "" : " ") + CSV_COLLAPSED;
            out << CSV_GROUP << ",,,,,," << state << ",,\n";
            continue;
        }
        out << (it.spectrum == ROUTE_SPECTRUM ? "spectrum" : "waveform") << "," << quantity_word(it.quantity) << ","
            << it.lines << "," << it.fmin << "," << it.fmax << "," << it.averages << "," << state_word(it) << ",";
        if (it.measurement != ROUTE_NO_MEASUREMENT) out << it.measurement;
        out << ",";
        if (it.point_type != POINT_TYPE_DEFAULT) out << it.point_type;
        out << "\n";
    }
    return out.str();
}

bool route_name_from_utf8(const std::string& utf8, std::string* cp, std::string* error)
{
    std::string why;
    if (!utf8_to_cp1251(utf8, cp, &why)) {
        *error = "the name \"" + utf8 + "\": " + why;
        return false;
    }
    if (cp->empty()) {
        *error = "an empty name";
        return false;
    }
    for (size_t k = 0; k < cp->size(); ++k)
        if (cp1251_is_control((*cp)[k])) {
            *error = "a control character in a name (character " + std::to_string(k + 1) + ")";
            return false;
        }
    if (cp->size() > NAME_BYTES) {
        *error = "the name \"" + utf8 + "\" is " + std::to_string(cp->size()) + " bytes in Windows-1251; at most " +
                 std::to_string(NAME_BYTES) + " fit";
        return false;
    }
    return true;
}
