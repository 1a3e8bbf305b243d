// A small JSON writer for the tool's output: values are written as they
// come, commas and indentation follow the nesting. Strings are UTF-8.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class JsonWriter {
public:
    // Each level of nesting indents its lines one step more, up to
    // `indent_levels` steps (deeper levels keep that indentation).
    explicit JsonWriter(size_t indent_levels = SIZE_MAX) : indent_levels_(indent_levels) {}
    // Starts an object or array: as a member of the enclosing object when
    // `key` is given, else as the next element.
    JsonWriter& begin_object(const char* key = nullptr);
    JsonWriter& begin_array(const char* key = nullptr);
    JsonWriter& end();
    // Values; a number that is not finite is written as null.
    JsonWriter& value(const char* key, const std::string& s);
    JsonWriter& value(const char* key, const char* s);
    JsonWriter& value(const char* key, double number);
    JsonWriter& value(const char* key, long long number);
    JsonWriter& value(const char* key, unsigned long long number);
    JsonWriter& value(const char* key, int number) { return value(key, static_cast<long long>(number)); }
    JsonWriter& value(const char* key, unsigned number) { return value(key, static_cast<unsigned long long>(number)); }
    JsonWriter& value(const char* key, bool b);
    JsonWriter& null(const char* key);
    // Elements of an array (no key).
    template <class T>
    JsonWriter& element(const T& v)
    {
        return value(nullptr, v);
    }
    // The text so far (complete once every begin has its end), with a final
    // newline.
    std::string text() const { return out_ + "\n"; }

private:
    void key_prefix(const char* key);
    void indent();
    void raw(const char* key, const std::string& token);
    struct Level {
        bool first;  // nothing written in it yet
        char close;  // '}' or ']'
    };
    size_t indent_levels_;
    std::string out_;
    std::vector<Level> levels_;
};

// `s` as a quoted JSON string (UTF-8 kept, control characters escaped).
std::string json_quote(const std::string& s);
