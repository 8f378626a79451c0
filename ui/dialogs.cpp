#include "ui.h"
#include "product.h"
#include "resource.h"
#include "text.h"

namespace {

INT_PTR CALLBACK AgreementDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        SetDlgItemTextA(dialog, IDC_AGREEMENT_TEXT, AgreementText);
        ShowWindow(dialog, SW_SHOW);
        return TRUE;
    }
    if (message == WM_COMMAND) {
        switch (LOWORD(wParam)) {
        case IDOK:
            EndDialog(dialog, 1);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 0);
            return FALSE;
        }
    }
    return FALSE;
}

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        ShowWindow(dialog, SW_SHOW);
        return TRUE;
    }
    // The Close command of the system menu hides the dialog; the installation goes on.
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL)
        EndDialog(dialog, 0);
    return FALSE;
}

} // namespace

INT_PTR RunAgreementDialog(HINSTANCE instance, HWND owner)
{
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_AGREEMENT), owner, AgreementDialogProc, 0);
}

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
