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
// agreed to, are that user's own; so is everything of one user's installation.
enum LinkPlace { AllUsersPrograms, UserPrograms, UserStartup, CommonStartup };
// Where the product's group goes as links: every user's Programs folder for
// the machine, the user's own for one user.
LinkPlace GroupPlace();
// Where the Startup item goes: the installing user's Startup folder; for the
// machine, every user's when the setup runs as the system itself (deployed by
// a service), whose own Startup folder no user signs in to, or when the
// product may also be installed for one user (see UsesProgramManager).
LinkPlace StartupPlace();
// Whether the group goes over Program Manager, which keeps its groups in the
// user's own Programs folder: not for the machine's installation of a product
// that may also be installed for one user, whose own installation of it keeps
// its group and Startup item there, so that neither touches the other's.
bool UsesProgramManager();

// The path of an item's link in a group of the place (a null group: the
// place's folder itself). False when the system names no such folder or the
// path does not fit.
bool GroupLinkPath(LinkPlace place, const char* group, const char* item, char* out, size_t size);
// Writes (or replaces) the link at the path; its folder is made when missing.
// False when it could not be written.
bool WriteLink(const char* path, const ShellLink& link);
// Whether a path an install record names may be a Startup item the setup
// wrote, for the folder name: a full path on a drive, to a link of the
// folder name, in a user's profile or every user's Startup folder. The record
// lies in a folder users may write: no other path is acted on.
bool MayBeRecordedStartupLink(const char* path, const char* folderName);
// Deletes the link at the path when it is a link to the target (compared as
// the file system names paths), read-only or not: a file of another name or
// target is never touched. True when no link to the target is there now; a
// file that is there but cannot be read counts as one.
bool DeleteLinkTo(const char* path, const char* target);
// Removes a group's folder of the place when it is empty. True when no such
// folder is there now.
bool RemoveEmptyGroup(LinkPlace place, const char* group);
