#include "ui.h"
#include "dialogs.h"
#include "product.h"
#include "resource.h"

namespace {

INT_PTR CALLBACK AgreementDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        TranslateDialog(dialog);
        FitDialog(dialog);
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

} // namespace

INT_PTR RunAgreementDialog(HINSTANCE instance, HWND owner)
{
    return RunDialog(instance, IDD_AGREEMENT, owner, AgreementDialogProc);
}
