// The choose-a-folder dialog: 1 when a tested folder stands in InstallFolder,
// 0 when the user cancelled, -1 when the dialog could not be created.
#pragma once
#include <windows.h>

INT_PTR ChooseFolderDialog(HINSTANCE instance, HWND owner);
// The checks of a folder the user chose, made on InstallFolder: a full path
// that leaves room for the product's texts, not a file, created when missing
// (one level, or with makeParents every missing level, see
// MakeMissingFolders), and an existing one holding no other product's
// installation, confirmed. False, the reason told, when the folder cannot be
// used.
bool CheckChosenFolder(HWND owner, bool makeParents);
// Makes the full path's folder and each missing folder above it, one at a
// time from the deepest that is there, each checked as it is made: where its
// path says, never through a link or junction, and never in the Windows
// directory. False, the reason logged, when one may not or cannot be made.
bool MakeMissingFolders(const char* folder);
