// In a file of its own: the uninstaller, which runs no modal dialog, imports none of it.
#include "dialogs.h"
#include <stdlib.h>

INT_PTR RunDialog(HINSTANCE instance, int id, HWND owner, DLGPROC procedure, LPARAM parameter)
{
    void* copy;
    const DLGTEMPLATE* mirrored = MirroredForRun(instance, id, &copy);
    INT_PTR result = mirrored ? DialogBoxIndirectParamA(instance, mirrored, owner, procedure, parameter)
                              : DialogBoxParamA(instance, MAKEINTRESOURCEA(id), owner, procedure, parameter);
    free(copy);
    return result;
}
