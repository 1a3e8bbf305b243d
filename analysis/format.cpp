#include "analysis/format.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "analysis/rounding.h"
#include "base/cp1251.h"
#include "base/text.h"

namespace {

struct QuantityFormat {
    const char* unit;
    const char* format;
};

// The acceleration unit ends in 0xBD, the squared sign of the device fonts.
const QuantityFormat QUANTITIES[QUANTITY_COUNT] = {
    {"м/сЅ"_cp, "%4.1f"}, {"мм/с"_cp, "%4.1f"}, {"мкм"_cp, "%3.0f"}, {"В"_cp, "%4.2f"}, {"°C"_cp, "%3.0f"},
};

// Integer parts of more digits than this are shown as "*".
constexpr int MAX_DIGITS = 18;

int integer_digits(double v)
{
    int d = 1;
    for (double p = 10.0; v >= p && d <= MAX_DIGITS; p *= 10.0) ++d;
    return d;
}

int reduced_decimals(int decimals, int d, int room)
{
    if (decimals + d + 1 <= room) return decimals;
    return room < d + 2 ? 0 : room - d - 1;
}

u64 pow10u(int n)
{
    u64 p = 1;
    while (n-- > 0) p *= 10;
    return p;
}

char* fill_stars(char* out, int width, bool negative)
{
    int i = 0;
    if (negative) out[i++] = '-';
    while (i < width) out[i++] = '*';
    out[width] = 0;
    return out;
}

}  // namespace

char* format_fixed(double value, int width, int decimals, char* out)
{
    if (width <= 0) {
        out[0] = 0;
        return out;
    }
    if (decimals < 0) decimals = 0;
    const bool negative = value < 0;
    const double v = negative ? -value : value;
    const int room = width - (negative ? 1 : 0);
    int d = integer_digits(v);
    if (!std::isfinite(v) || d > room || d > MAX_DIGITS) return fill_stars(out, width, negative);
    decimals = reduced_decimals(decimals, d, room);
    const double scaled = v * static_cast<double>(pow10u(decimals));
    u64 t = static_cast<u64>(scaled);
    if (scaled - static_cast<double>(t) >= 0.5) ++t;
    u64 ip = t / pow10u(decimals);
    u64 frac = t % pow10u(decimals);
    if (integer_digits(static_cast<double>(ip)) > d) {
        d = integer_digits(static_cast<double>(ip));
        if (d > room) return fill_stars(out, width, negative);
        const int fewer = reduced_decimals(decimals, d, room);
        frac /= pow10u(decimals - fewer);
        decimals = fewer;
    }
    char text[48];
    int n = 0;
    if (negative) text[n++] = '-';
    if (ip <= 2147483647u) {
        int_to_text(static_cast<i32>(ip), static_cast<u8>(d), text + n);
    } else {
        std::snprintf(text + n, sizeof text - n, "%*llu", d, static_cast<unsigned long long>(ip));
    }
    n += d;
    if (decimals > 0) {
        text[n++] = '.';
        for (int i = decimals - 1; i >= 0; --i) {
            text[n + i] = static_cast<char>('0' + frac % 10);
            frac /= 10;
        }
        n += decimals;
    }
    text[n] = 0;
    const int pad = width - n;
    for (int i = 0; i < pad; ++i) out[i] = ' ';
    std::memcpy(out + (pad > 0 ? pad : 0), text, static_cast<size_t>(n) + 1);
    return out;
}

void decompose(double x, double* mantissa, int* exponent)
{
    if (!(x > 0) || !std::isfinite(x)) {
        *mantissa = 0;
        *exponent = 0;
        return;
    }
    int e = static_cast<int>(std::trunc(std::log10(x)));
    if (e < 1) e -= 1;
    double m = x / std::pow(10.0, e);
    if (std::trunc(std::fabs(m)) < 1) {
        m *= 10;
        e -= 1;
    } else if (std::trunc(std::fabs(m)) >= 10) {
        m *= 0.1;
        e += 1;
    }
    *mantissa = m;
    *exponent = e;
}

char* format_sig(double value, int width, char* out)
{
    if (width <= 0) {
        out[0] = 0;
        return out;
    }
    if (value == 0) {
        std::strcpy(out, "0");
        return out;
    }
    if (!std::isfinite(value)) {
        std::strcpy(out, "*");
        return out;
    }
    const bool negative = value < 0;
    double v = negative ? -value : value;
    int n = 0, e = 0;
    double m = 0;
    int significant = 0;
    // Rounding up restarts the digits once; a second pass never needs it.
    for (int pass = 0; pass < 3; ++pass) {
        decompose(v, &m, &e);
        n = 0;
        significant = 0;
        if (negative) out[n++] = '-';
        if (e < 0) {
            out[n++] = '0';
            if (n < width) out[n++] = '.';
            for (int k = -1; k > e && n < width; --k) out[n++] = '0';
        }
        // e is the exponent of the next digit from here on.
        while (n < width) {
            int digit = static_cast<int>(std::floor(m));
            if (digit > 9) digit = 9;
            out[n++] = static_cast<char>('0' + digit);
            ++significant;
            if (e == 0 && n < width) out[n++] = '.';
            m = (m - digit) * 10;
            --e;
        }
        if (m > 5 && pass < 2) {
            v += (11 - m) * std::pow(10.0, e);
            continue;
        }
        break;
    }
    out[n] = 0;
    if (e >= 0 || significant == 0) {
        double mm;
        int ee;
        decompose(negative ? -value : value, &mm, &ee);
        i32 r = round_half_away(static_cast<float>(mm));
        if (r >= 10) {
            r = 1;
            ++ee;
        }
        std::snprintf(out, 24, "%s%de%d", negative ? "-" : "", r, ee);
        return out;
    }
    if (std::strchr(out, '.')) {
        while (n > 0 && out[n - 1] == '0') out[--n] = 0;
        if (n > 0 && out[n - 1] == '.') out[--n] = 0;
    }
    return out;
}

char* format_quantity(char* out, int index, double value)
{
    if (index < 0 || index >= QUANTITY_COUNT) {
        out[0] = 0;
        return out;
    }
    char text[400];
    std::snprintf(text, sizeof text, QUANTITIES[index].format, value);
    size_t len = std::strlen(text);
    if ((index == 0 || index == 1) && len > 4) {
        if (value > 999) {
            std::strcpy(text, "999");
        } else {
            const char* dot = std::strchr(text, '.');
            if (dot && static_cast<size_t>(dot - text) + 3 >= len) text[dot - text] = 0;
        }
        len = std::strlen(text);
    }
    if (len > 31) text[31] = 0;
    std::strcpy(out, text);
    return out;
}

const char* unit_of_quantity(int index)
{
    return index >= 0 && index < QUANTITY_COUNT ? QUANTITIES[index].unit : "";
}

const char* unit_of_kind(u32 kind)
{
    switch (kind) {
    case 0:
    case 2: return "с"_cp;
    case 1:
    case 3: return "Гц"_cp;
    default: return "";
    }
}

void axis_step(double lo, double hi, int n, double* first, double* step)
{
    if (lo > hi) {
        const double t = lo;
        lo = hi;
        hi = t;
    }
    *first = lo;
    *step = 0;
    if (n <= 0 || hi == lo) return;
    double m;
    int e;
    decompose((hi - lo) / n, &m, &e);
    i32 r = round_half_away(static_cast<float>(m));
    if (r > 5)
        r = 10;
    else if (r > 2)
        r = 5;
    *step = r * std::pow(10.0, e);
    double f = round_half_away(static_cast<float>(lo / *step)) * *step;
    if (!(f > lo)) f += *step;
    *first = f;
}
