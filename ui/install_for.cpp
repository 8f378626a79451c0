#include "ui.h"
#include "dialogs.h"
#include "resource.h"
#include <commctrl.h>

namespace {

struct InstallForChoice {
    bool machineProposed;
    bool shield;
};

INT_PTR CALLBACK InstallForDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        const InstallForChoice* choice = reinterpret_cast<const InstallForChoice*>(lParam);
        TranslateDialog(dialog);
        FitDialog(dialog);
        // Windows draws the shield on a button of common controls 6, which both manifests ask for.
        if (choice->shield)
            SendDlgItemMessageA(dialog, IDC_INSTALL_FOR_MACHINE, BCM_SETSHIELD, 0, TRUE);
        int proposed = choice->machineProposed ? IDC_INSTALL_FOR_MACHINE : IDC_INSTALL_FOR_USER;
        SendMessageA(dialog, DM_SETDEFID, proposed, 0);
        SetFocus(GetDlgItem(dialog, proposed));
        return FALSE;
    }
    if (message == WM_COMMAND) {
        switch (LOWORD(wParam)) {
        case IDC_INSTALL_FOR_USER:
        case IDC_INSTALL_FOR_MACHINE:
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        }
    }
    return FALSE;
}

} // namespace

INT_PTR RunInstallForDialog(HINSTANCE instance, HWND owner, bool machineProposed, bool shield)
{
    InstallForChoice choice = {machineProposed, shield};
    return RunDialog(instance, IDD_INSTALL_FOR, owner, InstallForDialogProc, reinterpret_cast<LPARAM>(&choice));
}
