#include "ui.h"
#include "resource.h"
#include "text.h"

namespace {

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        ShowWindow(dialog, SW_SHOW);
        return TRUE;
    }
    // The Close command of the system menu hides the dialog; the work goes on.
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL)
        EndDialog(dialog, 0);
    return FALSE;
}

} // namespace

HWND CreateProgressDialog(HINSTANCE instance, HWND owner)
{
    return CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_PROGRESS), owner, ProgressDialogProc, 0);
}

void ShowProgress(HWND dialog, const char* text, int percent)
{
    char line[64];
    FormatText(line, sizeof line, "Percent Complete: %d%%", percent);
    SetDlgItemTextA(dialog, IDC_PROGRESS_PERCENT, line);
    SetDlgItemTextA(dialog, IDC_PROGRESS_ITEM, text);
}
