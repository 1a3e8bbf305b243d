// The current object id. It belongs to the settings block; until the archive
// is wired to it, it is kept here.
#include "archive/objects.h"

namespace {
u32 g_current_object = 0;
}

u32 settings_current_object()
{
    return g_current_object;
}

void settings_set_current_object(u32 id)
{
    g_current_object = id;
}
