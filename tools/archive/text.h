// Texts between the archive (Windows-1251 bytes) and the PC (UTF-8).
#pragma once
#include <string>

#include "base/cp1251_utf8.h"  // cp1251_to_utf8
// The UTF-8 text `s` as Windows-1251 bytes: true, or false with `error`
// saying which character cannot be stored or where the UTF-8 is malformed
// (a cut or overlong sequence, a surrogate, a code past U+10FFFF).
bool utf8_to_cp1251(const std::string& s, std::string* out, std::string* error);
// The Windows-1251 bytes of `s` (up to its NUL) in ASCII, for formats that
// hold ASCII only: Cyrillic letters transliterated (Ж "Zh", Щ "Shch", the
// signs left out), typographic marks by their ASCII look-alikes, anything
// else "?".
std::string cp1251_to_ascii(const std::string& s);
// An archive label of a measurement (Windows-1251) as UTF-8, its note mark
// (the instrument font's character 0xB2, "І" in Windows-1251) written as
// the note sign "♪".
std::string meas_label_utf8(const std::string& label);

// Whether byte `b` of Windows-1251 text is a control character (C0 or DEL).
bool cp1251_is_control(char b);

// `s` fit for a terminal: control characters (C0, DEL, C1) and bytes that
// are no UTF-8 written as \xNN (\u00NN for C1), NUL included; everything
// else as it is. Every text the tool prints that comes from an image, a
// file or the command line goes through it.
std::string printable(const std::string& s);
// cp1251_to_utf8 then printable.
std::string cp1251_printable(const std::string& s);
