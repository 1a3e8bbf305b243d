// The system's texts are Windows-1251 byte strings. Source files stay UTF-8:
// "Главное меню"_cp is converted while compiling (GCC and Clang alike) into a
// NUL-terminated Windows-1251 string with static storage; a character that
// Windows-1251 lacks stops the build.
#pragma once
#include <array>
#include <cstddef>

namespace cp1251 {

// Unicode code points of the bytes 0x80..0xBF (0x98 is unassigned).
inline constexpr char32_t HIGH[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFF, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

// Called only at compile time: reaching it means the text cannot be stored.
inline void character_not_in_windows_1251() {}
inline void malformed_utf8() {}

constexpr unsigned char encode(char32_t c)
{
    if (c < 0x80) return static_cast<unsigned char>(c);
    if (c >= 0x0410 && c <= 0x044F) return static_cast<unsigned char>(c - 0x0410 + 0xC0);
    for (int i = 0; i < 64; ++i)
        if (HIGH[i] == c) return static_cast<unsigned char>(0x80 + i);
    character_not_in_windows_1251();
    return 0;
}

template <std::size_t N>
struct Utf8 {
    char data[N]{};
    constexpr Utf8(const char (&s)[N])
    {
        for (std::size_t i = 0; i < N; ++i) data[i] = s[i];
    }
};

// Decodes the UTF-8 text s[0..n) (without its NUL) into Windows-1251 bytes;
// with out == nullptr only counts them. Returns the number of characters.
constexpr std::size_t convert(const char* s, std::size_t n, char* out)
{
    std::size_t i = 0, count = 0;
    while (i < n) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        char32_t c = 0;
        int more = 0;
        if (b < 0x80) {
            c = b;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F;
            more = 1;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F;
            more = 2;
        } else if ((b & 0xF8) == 0xF0) {
            c = b & 0x07;
            more = 3;
        } else {
            malformed_utf8();
        }
        ++i;
        for (int k = 0; k < more; ++k, ++i) {
            if (i >= n || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) malformed_utf8();
            c = (c << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
        }
        const unsigned char byte = encode(c);
        if (out) out[count] = static_cast<char>(byte);
        ++count;
    }
    return count;
}

template <Utf8 S>
struct Text {
    static constexpr std::size_t length = convert(S.data, sizeof(S.data) - 1, nullptr);
    static constexpr std::array<char, length + 1> bytes = [] {
        std::array<char, length + 1> a{};
        convert(S.data, sizeof(S.data) - 1, a.data());
        return a;
    }();
};

}  // namespace cp1251

// "текст"_cp: the Windows-1251 bytes of a UTF-8 literal, NUL-terminated.
template <cp1251::Utf8 S>
constexpr const char* operator""_cp()
{
    return cp1251::Text<S>::bytes.data();
}

// The same as a macro: CP("текст"). Clang 14 crashes on a literal operator
// template inside the brace list of a std::vector (or any constructor taking
// an initializer_list); write CP("...") there.
#define CP(s) (::cp1251::Text<s>::bytes.data())

// Number of bytes of "текст"_cp without the terminating NUL.
template <cp1251::Utf8 S>
constexpr std::size_t cp_length = cp1251::Text<S>::length;
