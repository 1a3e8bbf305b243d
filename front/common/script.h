// The step language of the headless runner.
#pragma once
#include <string>
#include <vector>

#include "base/types.h"

struct Step {
    enum Kind { Key, Hold, Release, Wait, Shot, Off, Record, StopRecord } kind;
    u32 value = 0;         // key code or milliseconds
    bool shifted = false;  // shift+KEY: the code already carries 128
    std::string file;      // shot or recording file
    std::string origin;    // script name or "--keys"
    int line = 0;
};

// Parses steps separated by ';' or new lines; '#' starts a comment that runs
// to the end of the line. On error returns false with "ORIGIN:LINE: problem".
bool parse_steps(const std::string& text, const std::string& origin, std::vector<Step>* steps, std::string* error);

// Checks that recordings pair up: no `record` while one runs, no
// `stop-record` without one. A recording still running after the last step
// is allowed (the runner stops it there). Returns false with "ORIGIN:LINE:
// problem" for the first step out of place.
bool check_recordings(const std::vector<Step>& steps, std::string* error);
