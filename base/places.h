// For whom a run installs, and so where it keeps what lies outside the
// installation folder: the remembered folder, the one-run lock, the journal
// and the restart folder. A run for the machine keeps them where only
// administrators write (the Windows directory); a run for one user, in that
// user's own folders, and never writes a machine-wide place.
#pragma once
#include <windows.h>
#include <stddef.h>

enum InstallMode { MachineMode, UserMode };
// The places this process claims, settles and writes. Fixed before it claims
// its lock and never changed: a run that is to install for the machine from
// a process that holds the user's places starts the setup again, elevated.
extern InstallMode RunMode;

enum ProductPlace { ProfilePlace, LockPlace, JournalPlace, RestartPlace };
// Each place's full path in a mode, named after the profile file:
//   machine: the Windows directory's pelmora.ini, pelmora.ini.lock,
//            pelmora.ini.journal and the folder pelmora.ini.restart;
//   user:    the product's folder in the user's local application data
//            (its folderName) holds the profile file; that data folder
//            itself the lock and the journal; the user's temporary folder
//            the restart folder, since no restart removes a user's files
//            and Windows' clean-up of temporary files empties it.
// False when the system names no such folder or the path does not fit.
bool ProductPlacePath(InstallMode mode, ProductPlace place, char* out, size_t size);

// The registry root of a mode's uninstall entry (HKEY_LOCAL_MACHINE, or the
// user's HKEY_CURRENT_USER), and its name.
HKEY UninstallRoot(InstallMode mode);
const char* UninstallRootName(InstallMode mode);
// A text value of the product's uninstall entry in a mode, in the product's
// registry view; false when there is none (see ReadRegistryText).
bool ReadUninstallText(InstallMode mode, const WCHAR* name, char* out, DWORD size, bool* present = nullptr);

// Whether this process runs with administrator rights: elevated, or with
// User Account Control off for an administrator, or as the system itself.
bool RunsElevated();
// Whether this run is for one user and has administrator rights (elevated by
// whoever started it, or run by a deployment tool): every place of the
// user's is then one that any program of the user may have changed, to have
// the run follow a link with its rights or act on what it reads there.
bool RunsForUserWithRights();
