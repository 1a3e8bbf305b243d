// The current object id lives in the settings block, so it survives a
// restart.
#include "archive/objects.h"
#include "host/settings.h"

u32 settings_current_object()
{
    return settings.current_object;
}

void settings_set_current_object(u32 id)
{
    settings.current_object = id;
}
