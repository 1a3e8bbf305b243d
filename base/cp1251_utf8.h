// Windows-1251 text (the instrument's) as UTF-8 (the PC's), at run time.
#pragma once
#include <string>

// The Windows-1251 bytes of `s` (up to its NUL) as UTF-8; the byte 0x98,
// which has no character, becomes U+FFFD.
std::string cp1251_to_utf8(const std::string& s);
