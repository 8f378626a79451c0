// The choose-a-folder dialog: 1 when a tested folder stands in InstallFolder,
// 0 when the user cancelled, -1 when the dialog could not be created.
#pragma once
#include <windows.h>

INT_PTR ChooseFolderDialog(HINSTANCE instance, HWND owner);
// The checks of a folder the user chose, made on InstallFolder: a full path
// that leaves room for the product's texts, not a file, created when missing
// (one level), and an existing one holding no other product's installation,
// confirmed. False, the reason told, when
// the folder cannot be used.
bool CheckChosenFolder(HWND owner);
