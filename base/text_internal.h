// For base/text.cpp and its tests: the reading of a number that
// text_to_double falls back on where the standard library has no
// floating-point std::from_chars.
#pragma once

// As text_to_double, through std::strtod in the "C" locale.
bool text_to_double_strtod(const char* begin, const char* end, double* value, const char** stop);
