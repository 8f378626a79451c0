#include "dialogs.h"
#include <stdlib.h>

const DLGTEMPLATE* MirroredForRun(HINSTANCE instance, int id, void** copy)
{
    *copy = nullptr;
    return RunIsRightToLeft() && ProductLanguageCode.mirroredTemplate
        ? ProductLanguageCode.mirroredTemplate(instance, id, copy)
        : nullptr;
}

HWND OpenDialog(HINSTANCE instance, int id, HWND owner, DLGPROC procedure, LPARAM parameter)
{
    void* copy;
    const DLGTEMPLATE* mirrored = MirroredForRun(instance, id, &copy);
    HWND window = mirrored ? CreateDialogIndirectParamA(instance, mirrored, owner, procedure, parameter)
                           : CreateDialogParamA(instance, MAKEINTRESOURCEA(id), owner, procedure, parameter);
    free(copy);
    return window;
}
