// The installation folder: proposing, confirming, creating, entering and remembering it.
#pragma once
#include <windows.h>

// 1 when a folder was accepted and is now the current directory, 0 when the user gave up.
int ResolveInstallFolder(HINSTANCE instance, HWND owner, int firstPass);
// Writes the folder into the product's profile: only once the installation
// succeeded, so that a failed run never points the product at its folder.
// False, logged, when it could not be written.
bool RememberInstallFolder();
// The folder an unattended run installs into, and an interactive one
// proposes, instead of the one it would propose (the /D= switch's, or one
// accepted before in this run); empty for none.
void RequestInstallFolder(const char* folder);
// The unattended choice: the proposal goes through every check the dialog
// makes, and must be a full path. 1 when it was accepted and is now the
// current directory, 0 when it cannot be used (the reason told).
int AcceptProposedFolder();
// 0 when the path is now the current directory, -1 otherwise. With mayCreate
// the last level is created when the path cannot be entered.
int EnterFolder(const char* path, int mayCreate);
// The program tells which folders hold another installation: another
// product's, or this product's for the other mode (for everyone on the
// computer, or for one user alone), which an installation there would share.
// No folder choice takes one. Without a check, none does.
enum FolderTaken { FolderFree, FolderOfAnotherProduct, FolderOfOtherInstallation };
typedef FolderTaken (*FolderTakenCheck)(const char* folder);
void RegisterFolderTakenCheck(FolderTakenCheck check);
// Rewrites a relative path (".", "tools", "..\\x", "\\x") as the full path it
// names from the current directory; false, and the path unchanged, when that
// would not fit.
bool MakeFolderAbsolute(char* path, size_t size);
