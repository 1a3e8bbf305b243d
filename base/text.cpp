#include "base/text.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/stamp.h"
#include "text_internal.h"

char* int_to_text(i32 value, u8 width_in, char* buffer)
{
    int width = width_in;
    const bool negative = value < 0;
    // Magnitude as unsigned so that the most negative value has one too.
    u32 mag = negative ? 0u - static_cast<u32>(value) : static_cast<u32>(value);
    char digits[10];
    for (int i = 9; i >= 0; --i) {
        digits[i] = static_cast<char>('0' + mag % 10);
        mag /= 10;
    }
    for (int i = 0; i < width; ++i) buffer[i] = ' ';
    if (value == 0) {
        if (width == 0) width = 1;
        buffer[width - 1] = '0';
        buffer[width] = 0;
        return buffer;
    }
    int first = 0;
    while (digits[first] == '0') ++first;
    const int k = 10 - first;
    const int needed = k + (negative ? 1 : 0);
    if (width > 0 && needed > width) {
        std::printf("DigitCount overflow\n");
        std::fflush(stdout);
        width = needed;
    }
    int pos = 0;
    if (width > 0)
        pos = width - needed;
    else
        width = needed;
    if (negative) buffer[pos++] = '-';
    for (int i = first; i < 10; ++i) buffer[pos++] = digits[i];
    buffer[width] = 0;
    return buffer;
}

i32 text_to_int(const char* s)
{
    if (!s) return 0;
    u32 value = 0;
    bool negative = false, digit_seen = false;
    for (; *s; ++s) {
        if (*s >= '0' && *s <= '9') {
            value = value * 10u + static_cast<u32>(*s - '0');
            digit_seen = true;
        } else if (*s == '-' && !digit_seen) {
            negative = true;
        }
    }
    return static_cast<i32>(negative ? 0u - value : value);
}

namespace {

// Three two-digit fields joined by sep: "aa?bb?cc".
char* three_fields(char* out, unsigned a, unsigned b, unsigned c, char sep)
{
    const unsigned v[3] = {a, b, c};
    for (int i = 0; i < 3; ++i) {
        out[3 * i] = static_cast<char>('0' + v[i] / 10 % 10);
        out[3 * i + 1] = static_cast<char>('0' + v[i] % 10);
        out[3 * i + 2] = i < 2 ? sep : 0;
    }
    return out;
}

}  // namespace

char* format_time(u32 stamp, char* out)
{
    u16 y, mo, d, h, mi, s;
    unpack(stamp, &y, &mo, &d, &h, &mi, &s);
    return three_fields(out, h, mi, s, ':');
}

char* format_date(u32 stamp, char* out)
{
    u16 y, mo, d, h, mi, s;
    unpack(stamp, &y, &mo, &d, &h, &mi, &s);
    return three_fields(out, d, mo, y % 100, '.');
}

bool text_to_double_strtod(const char* begin, const char* end, double* value, const char** stop)
{
    *stop = begin;
    if (begin == end || std::isspace(static_cast<unsigned char>(*begin)) || *begin == '+') return false;
    const char* digits = *begin == '-' ? begin + 1 : begin;
    if (end - digits >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        // from_chars reads the 0 alone.
        *value = *begin == '-' ? -0.0 : 0.0;
        *stop = digits + 1;
        return true;
    }
    const std::string copy(begin, end);
    char* after = nullptr;
    errno = 0;
    const double v = std::strtod(copy.c_str(), &after);
    if (after == copy.c_str()) return false;
    *stop = begin + (after - copy.c_str());
    if (errno == ERANGE) return false;
    *value = v;
    return true;
}

bool text_to_double(const char* begin, const char* end, double* value, const char** stop)
{
#if defined(__cpp_lib_to_chars)
    const auto r = std::from_chars(begin, end, *value);
    *stop = r.ptr;
    return r.ec == std::errc();
#else
    // A standard library without the floating-point from_chars (the web
    // build's); the programs leave the numeric locale at "C".
    return text_to_double_strtod(begin, end, value, stop);
#endif
}
