#include "tools/archive/json.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr const char* INDENT = "  ";

}  // namespace

std::string json_quote(const std::string& s)
{
    std::string out = "\"";
    for (const char ch : s) {
        const unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", c);
                out += esc;
            } else {
                out += ch;
            }
        }
    }
    return out + "\"";
}

void JsonWriter::indent()
{
    out_ += "\n";
    for (size_t i = 0; i < levels_.size() && i < indent_levels_; ++i) out_ += INDENT;
}

void JsonWriter::key_prefix(const char* key)
{
    if (!levels_.empty()) {
        if (!levels_.back().first) out_ += ",";
        levels_.back().first = false;
        indent();
    }
    if (key) out_ += json_quote(key) + ": ";
}

void JsonWriter::raw(const char* key, const std::string& token)
{
    key_prefix(key);
    out_ += token;
}

JsonWriter& JsonWriter::begin_object(const char* key)
{
    raw(key, "{");
    levels_.push_back({true, '}'});
    return *this;
}

JsonWriter& JsonWriter::begin_array(const char* key)
{
    raw(key, "[");
    levels_.push_back({true, ']'});
    return *this;
}

JsonWriter& JsonWriter::end()
{
    if (levels_.empty()) return *this;
    const Level level = levels_.back();
    levels_.pop_back();
    if (!level.first) indent();
    out_ += level.close;
    return *this;
}

JsonWriter& JsonWriter::value(const char* key, const std::string& s)
{
    raw(key, json_quote(s));
    return *this;
}

JsonWriter& JsonWriter::value(const char* key, const char* s)
{
    raw(key, json_quote(s ? s : ""));
    return *this;
}

JsonWriter& JsonWriter::value(const char* key, double number)
{
    if (!std::isfinite(number)) return null(key);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g", number);
    raw(key, buf);
    return *this;
}

JsonWriter& JsonWriter::value(const char* key, long long number)
{
    raw(key, std::to_string(number));
    return *this;
}

JsonWriter& JsonWriter::value(const char* key, unsigned long long number)
{
    raw(key, std::to_string(number));
    return *this;
}

JsonWriter& JsonWriter::value(const char* key, bool b)
{
    raw(key, b ? "true" : "false");
    return *this;
}

JsonWriter& JsonWriter::null(const char* key)
{
    raw(key, "null");
    return *this;
}
