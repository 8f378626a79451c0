// Screens: the full-screen backdrop, the licence agreement and the progress dialog.
#pragma once
#include <windows.h>
#include "language.h"

constexpr int BackdropTitleSize = 1024;
// Painted by the backdrop; formatted by the sequence before the window exists.
extern char BackdropTitle[BackdropTitleSize];
extern HFONT BackdropFont;

// The DPI a window draws at (its monitor's, where Windows 10 version 1607 and
// later tell), else the screen's; null asks for the screen's.
UINT WindowDpi(HWND window);
// The title's font for a DPI, in the character set of the product's code page
// (the Western set for 1252); a stock font stands in when it cannot be created.
// The backdrop makes the fonts of later DPI changes in the same code page and
// keeps the one in use in BackdropFont.
HFONT CreateBackdropFont(UINT codePage, UINT dpi);
// The window class, with the product's icons at the sizes the screen's DPI asks for.
bool RegisterBackdropClass(HINSTANCE instance);
// The window follows its DPI: at its creation and at every change of it, a
// font and icons for that DPI and the whole desktop again.
HWND CreateBackdropWindow(HINSTANCE instance, const char* caption);
LRESULT CALLBACK BackdropWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// 1 when the user accepted the agreement, 0 when declined, -1 when the dialog could not be shown.
INT_PTR RunAgreementDialog(HINSTANCE instance, HWND owner);
// For whom to install, before the folder is chosen: IDC_INSTALL_FOR_USER or
// IDC_INSTALL_FOR_MACHINE, 0 when the user cancelled, -1 when the dialog
// could not be shown. The button of the mode proposed (an installation's
// that is there already) is the default; the machine's carries the shield
// when choosing it asks for administrator rights.
INT_PTR RunInstallForDialog(HINSTANCE instance, HWND owner, bool machineProposed, bool shield);
// fit: what sizes its controls from their texts in the run's language
// (FitProgressDialog), or null for a template laid out for the longest of
// them in every language (the uninstaller's, whose size is fixed).
HWND CreateProgressDialog(HINSTANCE instance, HWND owner, void (*fit)(HWND dialog));
// Fits the dialog (FitDialog) to the longest texts it shows: every percentage,
// and the items while the setup program is checked and while running copies
// are told to quit.
void FitProgressDialog(HWND dialog);
// Sets the percentage and the item's text (a name, or a text already in the run's language).
void ShowProgress(HWND dialog, const char* text, int percent);
// The item's text while running copies are told to quit.
constexpr EnglishText ShuttingDownProgressText = N_("Shutting Down Running Copies");
// The item's text while the setup program's own payload is checked.
constexpr EnglishText CheckingProgressText = N_("Checking the setup program");
