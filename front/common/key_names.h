// The instrument's keys by the names that the runner's step language, the
// window's key-map file and the web page use for them.
#pragma once
#include <string>

#include "base/types.h"

// The code of the key named `name` (lower case: mod, esc, enter, up, down,
// left, right): true, or false when no key has that name.
bool key_by_name(const std::string& name, u32* code);
// The name of the key `code` (without Shift), nullptr when no key has it.
const char* key_name(u32 code);
