// In a file of its own: the uninstaller, which carries no layout code, links none of it.
#include "ui.h"
#include "dialogs.h"
#include "resource.h"

void FitProgressDialog(HWND dialog)
{
    char opening[64];
    GetDlgItemTextA(dialog, IDC_PROGRESS_PERCENT, opening, sizeof opening);
    // Nothing shrinks as the dialog fits: fitted to each item in turn, it holds the longer.
    ShowProgress(dialog, Translate(ShuttingDownProgressText), 100);
    FitDialog(dialog);
    ShowProgress(dialog, Translate(CheckingProgressText), 100);
    FitDialog(dialog);
    SetDlgItemTextA(dialog, IDC_PROGRESS_PERCENT, opening);
    SetDlgItemTextA(dialog, IDC_PROGRESS_ITEM, "");
}
