// Changes of the stored archive told to the view above it. The archive
// stores and reads; the one listener, which the archive browser installs
// (screens/), keeps its tree in step and tells the user of a save. Without
// a listener a change is told to no one.
#pragma once
#include "base/types.h"

// What changed; `id` is the directory entry concerned.
enum ArchiveChange : int {
    ARCHIVE_CHANGE_MOUNTED,         // the archive was mounted (again); id 0
    ARCHIVE_CHANGE_SAVED,           // measurement `id` was saved silently
    ARCHIVE_CHANGE_SAVED_ANNOUNCE,  // measurement `id` was saved and the user is to be told (the saved dialog)
    ARCHIVE_CHANGE_REMOVING,        // measurement `id` is about to be removed (a route replaced it)
};

using ArchiveListener = void (*)(ArchiveChange change, u32 id);

// Installs (nullptr: removes) the one listener.
void archive_set_listener(ArchiveListener listener);
// Tells the listener, if one is installed, of `change` to entry `id`.
void archive_changed(ArchiveChange change, u32 id);
// No listener (state at power-on; the browser's reset installs its own).
void archive_changes_reset();
