// Which point of the virtual plant the probe is on, in words: the window's
// title and the web page's plant line say it the same way.
#pragma once
#include <string>

// "" without a plant, else "plant: NAME, probe on PATH", with "(route)"
// while a route walk has the probe on a point of the plant, the route point
// and its noise floor while the walk is on a point the plant lacks, and
// `no_point` ("probe on no point …") while the probe is on none.
std::string plant_probe_text(const std::string& no_point);
