// Program Manager's groups as link files, for unattended runs: its commands
// open the group's window, which such a run must not show.
#pragma once
#include <stddef.h>

struct ShellLink {
    const char* target;
    const char* arguments;
    const char* workingFolder;
    int showCommand;
};
// Writes (or replaces) the item's link in the group's folder below the user's
// Programs folder, where Program Manager keeps it, or with a null group in the
// Startup folder; the folder is made when missing. False when it could not be
// written.
bool WriteGroupLink(const char* group, const char* item, const ShellLink& link);
// Deletes the item's link from the group; true when it is gone.
bool DeleteGroupLink(const char* group, const char* item);
