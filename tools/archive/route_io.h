// Routes between the archive and the PC: a route file's items as JSON (a
// nested tree of groups and points) or CSV (one row per point with its
// path), and back. Reading validates everything the instrument relies on
// and names the line of the first fault; nothing here touches the flash.
#pragma once
#include <string>

#include "archive/route.h"

// Builds the items of a new route from `text` into `buf` (header name and
// count, every item sealed; states fresh: points to measure, no links; an
// item marked "ignored" keeps that bit). `fallback_name` names the route
// when the text does not. true, or false with `error`.
bool route_from_json(const std::string& text, const std::string& fallback_name, RouteBuffer* buf, std::string* error);
bool route_from_csv(const std::string& text, const std::string& fallback_name, RouteBuffer* buf, std::string* error);

// The route in `buf` as JSON or CSV, with each point's state and linked
// measurement.
std::string route_to_json(const RouteBuffer& buf);
std::string route_to_csv(const RouteBuffer& buf);
