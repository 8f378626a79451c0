// What can only go when Windows restarts. Windows deletes it at boot, by its
// path and with the system's rights, so a path through a folder that users may
// write could by then lead elsewhere through a link or junction put in its
// place. Such a file is first moved (renamed, never copied) into the product's
// restart folder on its volume, which only administrators can write, and its
// deletion is scheduled there, then the folder's, which goes once empty.
//
// The restart folder is named after the profile file (pelmora.ini.restart):
// in the Windows directory, beside the journal, for files on its volume; at
// the root of any other volume, made by the run that first needs it with
// access for the Administrators and SYSTEM alone. There it is used only when
// its owner and access prove it that (never a link), and the root's let no
// one else delete it and put a link in its place. Where it lies for one
// user's run, see places.h.
#pragma once
#include <windows.h>
#include <stddef.h>

// Moves the open file (opened with DELETE access; path is where it lies, for
// its name) into the restart folder of its volume and schedules its deletion
// there. Its path there goes to movedTo. False when it stays where it was.
// One user's run schedules nothing (only administrators may): its restart
// folder lies in the user's temporary folder, which Windows' clean-up of
// temporary files empties, so nothing of it waits for a restart.
bool LeaveForRestart(HANDLE file, const char* path, char* movedTo, size_t size);

// Whether a folder's security makes it one that only administrators can
// change: owned by the Administrators or SYSTEM, and no right to write
// granted to anyone else.
bool OnlyAdministratorsWrite(PSECURITY_DESCRIPTOR descriptor);
// The same of an open file or folder (opened with READ_CONTROL); false when its security cannot be read.
bool OnlyAdministratorsWriteTo(HANDLE file);
// Whether a drive root's security lets only administrators take away what it
// holds: owned so, and no one else granted the right to delete what it holds
// or to change its access or owner (entries that only its children inherit
// apply to them alone).
bool RootKeepsWhatItHolds(PSECURITY_DESCRIPTOR descriptor);
// For the tests: the security (in SDDL) that the checks of open files and
// folders above take for each one's own, which Wine does not keep; null for
// their own.
extern const char* SecurityStandIn;
