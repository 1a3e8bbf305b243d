#include "front/common/key_names.h"

#include "host/device.h"

namespace {

const struct {
    const char* name;
    u32 code;
} KEYS[] = {{"mod", KEY_MOD},   {"esc", KEY_ESC},   {"enter", KEY_ENTER}, {"up", KEY_UP},
            {"down", KEY_DOWN}, {"left", KEY_LEFT}, {"right", KEY_RIGHT}};

}  // namespace

bool key_by_name(const std::string& name, u32* code)
{
    for (const auto& k : KEYS) {
        if (name == k.name) {
            *code = k.code;
            return true;
        }
    }
    return false;
}

const char* key_name(u32 code)
{
    for (const auto& k : KEYS)
        if (code == k.code) return k.name;
    return nullptr;
}
