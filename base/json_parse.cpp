#include "base/json_parse.h"

#include <cmath>
#include <cstdlib>

namespace {

class Parser {
public:
    Parser(const std::string& t, const JsonLimits& limits) : s_(t), limits_(limits) {}

    bool parse(JsonValue* out, std::string* error)
    {
        skip_blanks();
        if (!value(out, 0)) {
            *error = error_;
            return false;
        }
        skip_blanks();
        if (at_ < s_.size()) {
            *error = here() + ": text after the end of the value";
            return false;
        }
        return true;
    }

private:
    const std::string& s_;
    const JsonLimits limits_;
    size_t values_ = 0;
    size_t at_ = 0;
    int line_ = 1, column_ = 1;
    std::string error_;

    std::string here() const { return "line " + std::to_string(line_) + ", column " + std::to_string(column_); }
    bool fail(const std::string& what)
    {
        if (error_.empty()) error_ = here() + ": " + what;
        return false;
    }
    char peek() const { return at_ < s_.size() ? s_[at_] : '\0'; }
    void advance()
    {
        if (at_ >= s_.size()) return;
        if (s_[at_] == '\n') {
            ++line_;
            column_ = 1;
        } else if ((static_cast<unsigned char>(s_[at_]) & 0xC0) != 0x80) {
            ++column_;  // a column per character, not per byte
        }
        ++at_;
    }
    void skip_blanks()
    {
        while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\t' || s_[at_] == '\n' || s_[at_] == '\r')) advance();
    }
    bool word(const char* w)
    {
        const std::string start = here();
        for (const char* p = w; *p; ++p) {
            if (peek() != *p) {
                if (error_.empty()) error_ = start + ": unexpected text (" + w + "?)";
                return false;
            }
            advance();
        }
        return true;
    }

    bool value(JsonValue* v, int depth)
    {
        if (depth > limits_.depth) return fail("nested deeper than " + std::to_string(limits_.depth) + " levels");
        if (++values_ > limits_.values) return fail("more than " + std::to_string(limits_.values) + " values");
        v->line = line_;
        v->column = column_;
        const char c = peek();
        if (c == '{') return object(v, depth);
        if (c == '[') return array(v, depth);
        if (c == '"') {
            v->type = JsonValue::String;
            return string(&v->text);
        }
        if (c == 't') {
            v->type = JsonValue::Bool;
            v->boolean = true;
            return word("true");
        }
        if (c == 'f') {
            v->type = JsonValue::Bool;
            return word("false");
        }
        if (c == 'n') return word("null");
        if (c == '-' || (c >= '0' && c <= '9')) return number(v);
        if (c == '\0') return fail("the text ends where a value should be");
        return fail(std::string("unexpected character '") + c + "'");
    }

    bool object(JsonValue* v, int depth)
    {
        v->type = JsonValue::Object;
        advance();
        skip_blanks();
        if (peek() == '}') {
            advance();
            return true;
        }
        for (;;) {
            skip_blanks();
            if (peek() != '"') return fail("expected a member name in double quotes");
            const std::string key_at = here();
            std::string key;
            if (!string(&key)) return false;
            for (const JsonMember& m : v->members)
                if (m.key == key) {
                    if (error_.empty()) error_ = key_at + ": the key \"" + key + "\" a second time in one object";
                    return false;
                }
            skip_blanks();
            if (peek() != ':') return fail("expected ':' after the member name");
            advance();
            skip_blanks();
            JsonValue member;
            if (!value(&member, depth + 1)) return false;
            v->members.push_back(JsonMember{std::move(key), std::move(member)});
            skip_blanks();
            if (peek() == ',') {
                advance();
                continue;
            }
            if (peek() == '}') {
                advance();
                return true;
            }
            return fail("expected ',' or '}'");
        }
    }

    bool array(JsonValue* v, int depth)
    {
        v->type = JsonValue::Array;
        advance();
        skip_blanks();
        if (peek() == ']') {
            advance();
            return true;
        }
        for (;;) {
            skip_blanks();
            JsonValue item;
            if (!value(&item, depth + 1)) return false;
            v->items.push_back(std::move(item));
            skip_blanks();
            if (peek() == ',') {
                advance();
                continue;
            }
            if (peek() == ']') {
                advance();
                return true;
            }
            return fail("expected ',' or ']'");
        }
    }

    static void put_utf8(std::string* out, unsigned c)
    {
        if (c < 0x80) {
            *out += static_cast<char>(c);
        } else if (c < 0x800) {
            *out += static_cast<char>(0xC0 | (c >> 6));
            *out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            *out += static_cast<char>(0xE0 | (c >> 12));
            *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            *out += static_cast<char>(0xF0 | (c >> 18));
            *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }

    bool hex4(unsigned* c)
    {
        *c = 0;
        for (int k = 0; k < 4; ++k) {
            const char h = peek();
            unsigned d;
            if (h >= '0' && h <= '9')
                d = static_cast<unsigned>(h - '0');
            else if (h >= 'a' && h <= 'f')
                d = static_cast<unsigned>(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F')
                d = static_cast<unsigned>(h - 'A' + 10);
            else
                return fail("expected four hexadecimal digits after \\u");
            *c = *c * 16 + d;
            advance();
        }
        return true;
    }

    bool string(std::string* out)
    {
        advance();  // the opening quote
        for (;;) {
            const char c = peek();
            if (at_ >= s_.size()) return fail("the text ends inside a string");
            if (c == '"') {
                advance();
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) return fail("a control character inside a string");
            if (c != '\\') {
                *out += c;
                advance();
                continue;
            }
            advance();
            const char e = peek();
            advance();
            switch (e) {
            case '"': *out += '"'; break;
            case '\\': *out += '\\'; break;
            case '/': *out += '/'; break;
            case 'b': *out += '\b'; break;
            case 'f': *out += '\f'; break;
            case 'n': *out += '\n'; break;
            case 'r': *out += '\r'; break;
            case 't': *out += '\t'; break;
            case 'u': {
                unsigned c1;
                if (!hex4(&c1)) return false;
                if (c1 >= 0xD800 && c1 < 0xDC00) {
                    unsigned c2;
                    if (peek() != '\\') return fail("a lone surrogate in \\u escapes");
                    advance();
                    if (peek() != 'u') return fail("a lone surrogate in \\u escapes");
                    advance();
                    if (!hex4(&c2)) return false;
                    if (c2 < 0xDC00 || c2 >= 0xE000) return fail("a lone surrogate in \\u escapes");
                    c1 = 0x10000 + ((c1 - 0xD800) << 10) + (c2 - 0xDC00);
                } else if (c1 >= 0xDC00 && c1 < 0xE000) {
                    return fail("a lone surrogate in \\u escapes");
                }
                put_utf8(out, c1);
                break;
            }
            default: return fail("an unknown escape in a string");
            }
        }
    }

    bool number(JsonValue* v)
    {
        v->type = JsonValue::Number;
        const size_t start = at_;
        if (peek() == '-') advance();
        if (peek() == '0') {
            advance();
        } else if (peek() >= '1' && peek() <= '9') {
            while (peek() >= '0' && peek() <= '9') advance();
        } else {
            return fail("a malformed number");
        }
        if (peek() == '.') {
            advance();
            if (!(peek() >= '0' && peek() <= '9')) return fail("a malformed number");
            while (peek() >= '0' && peek() <= '9') advance();
        }
        if (peek() == 'e' || peek() == 'E') {
            advance();
            if (peek() == '+' || peek() == '-') advance();
            if (!(peek() >= '0' && peek() <= '9')) return fail("a malformed number");
            while (peek() >= '0' && peek() <= '9') advance();
        }
        v->number = std::strtod(s_.substr(start, at_ - start).c_str(), nullptr);
        if (!std::isfinite(v->number)) return fail("a number out of range");
        return true;
    }
};

}  // namespace

const JsonValue* JsonValue::find(const std::string& key) const
{
    for (const auto& m : members)
        if (m.key == key) return &m.value;
    return nullptr;
}

std::string JsonValue::where() const
{
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

bool json_parse(const std::string& text, const JsonLimits& limits, JsonValue* out, std::string* error)
{
    *out = JsonValue{};
    return Parser(text, limits).parse(out, error);
}
