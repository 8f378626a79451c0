#include "dialogs.h"
#include "language.h"
#include "message.h"
#include <stdlib.h>
#include <string.h>

namespace {

void TranslateText(HWND window)
{
    char text[MessageBufferSize];
    GetWindowTextA(window, text, sizeof text);
    const char* translated = Translate({text});
    if (translated != text)
        SetWindowTextA(window, translated);
}

bool IsField(HWND control)
{
    char name[8];
    GetClassNameA(control, name, sizeof name);
    return lstrcmpiA(name, "Edit") == 0;
}

} // namespace

INT_PTR RunDialog(HINSTANCE instance, int id, HWND owner, DLGPROC procedure)
{
    void* copy = nullptr;
    const DLGTEMPLATE* mirrored = RunIsRightToLeft() && ProductLanguageCode.mirroredTemplate
        ? ProductLanguageCode.mirroredTemplate(instance, id, &copy)
        : nullptr;
    INT_PTR result = mirrored ? DialogBoxIndirectParamA(instance, mirrored, owner, procedure, 0)
                              : DialogBoxParamA(instance, MAKEINTRESOURCEA(id), owner, procedure, 0);
    free(copy);
    return result;
}

HWND OpenDialog(HINSTANCE instance, int id, HWND owner, DLGPROC procedure, LPARAM parameter)
{
    void* copy = nullptr;
    const DLGTEMPLATE* mirrored = RunIsRightToLeft() && ProductLanguageCode.mirroredTemplate
        ? ProductLanguageCode.mirroredTemplate(instance, id, &copy)
        : nullptr;
    HWND window = mirrored ? CreateDialogIndirectParamA(instance, mirrored, owner, procedure, parameter)
                           : CreateDialogParamA(instance, MAKEINTRESOURCEA(id), owner, procedure, parameter);
    free(copy);
    return window;
}

void TranslateDialog(HWND dialog)
{
    TranslateText(dialog);
    for (HWND control = GetWindow(dialog, GW_CHILD); control; control = GetWindow(control, GW_HWNDNEXT)) {
        TranslateText(control);
        // A mirrored dialog lays its controls out from the right; their texts read from the right
        // too, but for a field of one line, which holds a folder's path.
        if (RunIsRightToLeft() && !(IsField(control) && !(GetWindowLongA(control, GWL_STYLE) & ES_MULTILINE)))
            SetWindowLongA(control, GWL_EXSTYLE, GetWindowLongA(control, GWL_EXSTYLE) | WS_EX_RTLREADING);
    }
}
