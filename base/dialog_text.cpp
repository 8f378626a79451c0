// In a file of its own: the programs of a product of English alone carry none of it.
#include "dialogs.h"
#include "message.h"

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

void TranslateDialogTexts(HWND dialog)
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
