// A small JSON reader for the files users give (routes made on the PC,
// plant files): the whole text into a tree of values, with the line and
// column of every value for the messages.
#pragma once
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct JsonMember;

struct JsonValue {
    enum Type { Null, Bool, Number, String, Array, Object } type = Null;
    bool boolean = false;
    double number = 0;
    std::string text;                 // String
    std::vector<JsonValue> items;     // Array
    std::vector<JsonMember> members;  // Object, in file order
    int line = 0, column = 0;         // where the value starts

    // The member `key` of an object, or nullptr.
    const JsonValue* find(const std::string& key) const;
    // "line L, column C".
    std::string where() const;
};

struct JsonMember {
    std::string key;
    JsonValue value;
};

// What a parse accepts: values nested at most `depth` deep (the outermost
// value at depth 0), at most `values` values in all.
struct JsonLimits {
    int depth;
    size_t values;
};

// Parses `text` (UTF-8) into `out`: true, or false with `error` saying where
// and what ("line 3, column 7: ..."). Nesting or values past `limits`, a key
// twice in one object or text after the value are errors; the parse stops
// at the first.
bool json_parse(const std::string& text, const JsonLimits& limits, JsonValue* out, std::string* error);
