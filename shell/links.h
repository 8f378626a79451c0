// Program Manager's groups as link files: what the setup writes where
// Program Manager did not make a part (or would open windows, unattended),
// and what the uninstaller removes of them.
#pragma once
#include <stddef.h>

struct ShellLink {
    const char* target;
    const char* arguments;
    const char* workingFolder;
    int showCommand;
};

// Where links go. A machine-wide installation's group is every user's; the
// groups Program Manager makes, and the Startup item the installing user
// agreed to, are that user's own.
enum LinkPlace { AllUsersPrograms, UserPrograms, UserStartup };

// The path of an item's link in a group of the place (a null group: the
// place's folder itself). False when the system names no such folder or the
// path does not fit.
bool GroupLinkPath(LinkPlace place, const char* group, const char* item, char* out, size_t size);
// Writes (or replaces) the link at the path; its folder is made when missing.
// False when it could not be written.
bool WriteLink(const char* path, const ShellLink& link);
// Deletes the link at the path when it is a link to the target (compared as
// the file system names paths): a file of another name or target is never
// touched. True when no such link is there now.
bool DeleteLinkTo(const char* path, const char* target);
// Removes a group's folder of the place when it is empty.
void RemoveEmptyGroup(LinkPlace place, const char* group);
