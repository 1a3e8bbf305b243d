#include "base/cp1251_utf8.h"

#include "base/cp1251.h"

namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;
constexpr char32_t UNASSIGNED = 0xFFFF;

void put_utf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

char32_t decode(unsigned char b)
{
    if (b < 0x80) return b;
    if (b >= 0xC0) return 0x0410 + (b - 0xC0);
    const char32_t c = cp1251::HIGH[b - 0x80];
    return c == UNASSIGNED ? REPLACEMENT : c;
}

}  // namespace

std::string cp1251_to_utf8(const std::string& s)
{
    std::string out;
    for (const char ch : s) {
        if (ch == '\0') break;
        put_utf8(out, decode(static_cast<unsigned char>(ch)));
    }
    return out;
}
