#include "tools/archive/text.h"

#include <cstdio>

#include "archive/measurement.h"
#include "base/cp1251.h"

namespace {

// The byte of code point c, or -1 when Windows-1251 has none.
int encode(char32_t c)
{
    if (c < 0x80) return static_cast<int>(c);
    if (c >= 0x0410 && c <= 0x044F) return static_cast<int>(c - 0x0410 + 0xC0);
    for (int i = 0; i < 64; ++i)
        if (cp1251::HIGH[i] == c) return 0x80 + i;
    return -1;
}

// ASCII of the Cyrillic capitals А..Я (0xC0..0xDF); the small letters
// 0xE0..0xFF take the same letters in lower case.
constexpr const char* CYRILLIC_ASCII[32] = {"A",  "B",  "V",  "G",    "D", "E", "Zh", "Z", "I",  "Y", "K",
                                            "L",  "M",  "N",  "O",    "P", "R", "S",  "T", "U",  "F", "Kh",
                                            "Ts", "Ch", "Sh", "Shch", "",  "Y", "",   "E", "Yu", "Ya"};
// ASCII of 0x80..0xBF: the other Cyrillic letters of Windows-1251 and its
// marks.
constexpr const char* HIGH_ASCII[64] = {
    "Dj",  "Gj", ",", "gj", "\"", "...", "+", "++", "EUR", "%o",  "Lj", "<",  "Nj", "Kj", "C",   "Dz",  // 0x80
    "dj",  "'",  "'", "\"", "\"", "*",   "-", "-",  "?",   "TM",  "lj", ">",  "nj", "kj", "c",   "dz",  // 0x90
    " ",   "U",  "u", "J",  "?",  "G",   "|", "S",  "Yo",  "(c)", "Ye", "<<", "-",  "-",  "(R)", "Yi",  // 0xA0
    "deg", "+-", "I", "i",  "g",  "u",   "P", ".",  "yo",  "No",  "ye", ">>", "j",  "Dz", "dz",  "yi",  // 0xB0
};

std::string lower_ascii(const char* s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// Decodes the UTF-8 sequence at s[i]: its length, or 0 when it is malformed
// (cut short, a wrong continuation byte, overlong, a surrogate or past
// U+10FFFF).
size_t decode_utf8(const std::string& s, size_t i, char32_t* out)
{
    const unsigned char b = static_cast<unsigned char>(s[i]);
    const size_t len = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    if (len == 0 || i + len > s.size()) return 0;
    char32_t c = len == 1 ? b : b & (0x7F >> len);
    for (size_t k = 1; k < len; ++k) {
        const unsigned char cb = static_cast<unsigned char>(s[i + k]);
        if ((cb & 0xC0) != 0x80) return 0;
        c = (c << 6) | (cb & 0x3F);
    }
    constexpr char32_t SMALLEST[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < SMALLEST[len] || (c >= 0xD800 && c < 0xE000) || c > 0x10FFFF) return 0;
    *out = c;
    return len;
}

bool is_control(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}

}  // namespace

std::string cp1251_to_ascii(const std::string& s)
{
    std::string out;
    for (const char ch : s) {
        const unsigned char b = static_cast<unsigned char>(ch);
        if (b == 0) break;
        if (b < 0x80)
            out += ch;
        else if (b >= 0xE0)
            out += lower_ascii(CYRILLIC_ASCII[b - 0xE0]);
        else if (b >= 0xC0)
            out += CYRILLIC_ASCII[b - 0xC0];
        else
            out += HIGH_ASCII[b - 0x80];
    }
    return out;
}

std::string meas_label_utf8(const std::string& label)
{
    const size_t end = label.find('\0');
    std::string text = label.substr(0, end);
    if (!text.empty() && text.back() == MEAS_NOTE_MARK) {
        text.pop_back();
        return cp1251_to_utf8(text) + "\u266A";
    }
    return cp1251_to_utf8(text);
}

bool utf8_to_cp1251(const std::string& s, std::string* out, std::string* error)
{
    out->clear();
    size_t i = 0;
    while (i < s.size()) {
        char32_t c = 0;
        const size_t len = decode_utf8(s, i, &c);
        if (len == 0) {
            *error = "malformed UTF-8 at byte " + std::to_string(i + 1);
            return false;
        }
        const int byte = c == 0 ? -1 : encode(c);
        if (byte < 0) {
            char code[16];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
            *error =
                "character " + std::string(code) + " at byte " + std::to_string(i + 1) + " has no Windows-1251 code";
            return false;
        }
        *out += static_cast<char>(byte);
        i += len;
    }
    return true;
}

bool cp1251_is_control(char b)
{
    // 0x80 to 0x9F are letters and signs in Windows-1251, not C1 controls.
    const unsigned char c = static_cast<unsigned char>(b);
    return c < 0x20 || c == 0x7F;
}

std::string printable(const std::string& s)
{
    std::string out;
    size_t i = 0;
    while (i < s.size()) {
        char32_t c = 0;
        const size_t len = decode_utf8(s, i, &c);
        if (len == 0 || is_control(c)) {
            char esc[8];
            if (len == 0 || c < 0x80)
                std::snprintf(esc, sizeof esc, "\\x%02x", static_cast<unsigned char>(s[i]));
            else
                std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(c));
            out += esc;
            i += len == 0 ? 1 : len;
            continue;
        }
        out.append(s, i, len);
        i += len;
    }
    return out;
}

std::string cp1251_printable(const std::string& s)
{
    return printable(cp1251_to_utf8(s));
}
