// Screens: the full-screen backdrop, the licence agreement and the progress dialog.
#pragma once
#include <windows.h>

constexpr int BackdropTitleSize = 1024;
// Painted by the backdrop; formatted by the sequence before the window exists.
extern char BackdropTitle[BackdropTitleSize];
extern HFONT BackdropFont;

// The title's font, in the character set of the product's code page (the
// Western set for 1252); a stock font stands in when it cannot be created.
HFONT CreateBackdropFont(UINT codePage);
bool RegisterBackdropClass(HINSTANCE instance);
HWND CreateBackdropWindow(HINSTANCE instance, const char* caption);
LRESULT CALLBACK BackdropWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// 1 when the user accepted the agreement, 0 when declined, -1 when the dialog could not be shown.
INT_PTR RunAgreementDialog(HINSTANCE instance, HWND owner);
HWND CreateProgressDialog(HINSTANCE instance, HWND owner);
void ShowProgress(HWND dialog, const char* text, int percent);
