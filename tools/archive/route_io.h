// Routes between the archive and the PC: a route file's items as JSON (a
// nested tree of groups and points) or CSV (one row per point with its
// path), and back. Reading validates everything the instrument relies on
// and names the line of the first fault; nothing here touches the flash.
#pragma once
#include <string>

#include "base/types.h"

#include "archive/route.h"

// Builds the items of a new route from `text` into `buf` (header name and
// count, every item sealed; states fresh: points to measure, no links; an
// item marked "ignored" keeps that bit). `fallback_name` names the route
// when the text does not. true, or false with `error`.
bool route_from_json(const std::string& text, const std::string& fallback_name, RouteBuffer* buf, std::string* error);
// The same from CSV: true, or false with `error`.
bool route_from_csv(const std::string& text, const std::string& fallback_name, RouteBuffer* buf, std::string* error);

// A route's or item's name given as UTF-8 in Windows-1251 bytes: true, or
// false with `error` saying why it cannot be one (malformed UTF-8, a
// character Windows-1251 lacks, a control character, empty, too long).
bool route_name_from_utf8(const std::string& utf8, std::string* cp, std::string* error);

// Bytes of a route's file that import reads at most: the largest route the
// instrument holds (1024 items, 255 levels, every name 63 characters of three
// UTF-8 bytes) as export writes it fits. A CSV row repeats its whole path: at
// most 255 names and the settings; a JSON item takes at most 14 lines of at
// most 16 indentation steps, a key and a value.
constexpr u64 ROUTE_CSV_MAX_BYTES = ROUTE_MAX_ITEMS * (ROUTE_MAX_LEVEL * (3 * (ROUTE_NAME_SIZE - 1) + 1) + 128);
constexpr u64 ROUTE_JSON_MAX_BYTES = 4 * 1024 * 1024;

// The route in `buf` as JSON or CSV, with each point's state and linked
// measurement.
std::string route_to_json(const RouteBuffer& buf);
std::string route_to_csv(const RouteBuffer& buf);
