// The choose-a-folder dialog: 1 when a tested folder stands in InstallFolder,
// 0 when the user cancelled, -1 when the dialog could not be created.
#pragma once
#include <windows.h>

INT_PTR ChooseFolderDialog(HINSTANCE instance, HWND owner);
