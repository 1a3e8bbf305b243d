#include "archive/changes.h"

namespace {

ArchiveListener g_listener = nullptr;

}  // namespace

void archive_set_listener(ArchiveListener listener)
{
    g_listener = listener;
}

void archive_changed(ArchiveChange change, u32 id)
{
    if (g_listener) g_listener(change, id);
}

void archive_changes_reset()
{
    g_listener = nullptr;
}
