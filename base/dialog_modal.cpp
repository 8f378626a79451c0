// In a file of its own: the uninstaller, which runs no modal dialog, imports none of it.
#include "dialogs.h"
#include <stdlib.h>

INT_PTR RunDialog(HINSTANCE instance, int id, HWND owner, DLGPROC procedure)
{
    void* copy;
    const DLGTEMPLATE* mirrored = MirroredForRun(instance, id, &copy);
    INT_PTR result = mirrored ? DialogBoxIndirectParamA(instance, mirrored, owner, procedure, 0)
                              : DialogBoxParamA(instance, MAKEINTRESOURCEA(id), owner, procedure, 0);
    free(copy);
    return result;
}
