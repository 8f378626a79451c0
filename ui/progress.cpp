#include "ui.h"
#include "dialogs.h"
#include "resource.h"
#include "text.h"

namespace {

const EnglishText PercentFormat = N_("Percent Complete: %d%%");

// Fitted, when it is given what fits it (lParam), then opened with its texts.
INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM fit)
{
    if (message == WM_INITDIALOG) {
        TranslateDialog(dialog);
        if (fit)
            reinterpret_cast<void (*)(HWND)>(fit)(dialog);
        ShowWindow(dialog, SW_SHOW);
        return TRUE;
    }
    // The Close command of the system menu hides the dialog; the work goes on.
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL)
        EndDialog(dialog, 0);
    return FALSE;
}

} // namespace

HWND CreateProgressDialog(HINSTANCE instance, HWND owner, void (*fit)(HWND dialog))
{
    return OpenDialog(instance, IDD_PROGRESS, owner, ProgressDialogProc, reinterpret_cast<LPARAM>(fit));
}

void ShowProgress(HWND dialog, const char* text, int percent)
{
    char line[256];
    FormatText(line, sizeof line, Translate(PercentFormat), percent);
    SetDlgItemTextA(dialog, IDC_PROGRESS_PERCENT, line);
    SetDlgItemTextA(dialog, IDC_PROGRESS_ITEM, text);
}
