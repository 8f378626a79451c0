// The programs' dialogs in the run's language (language.h). Their templates
// hold English texts of the translations, in the shell's dialog font; a
// dialog is made from its template mirrored (WS_EX_LAYOUTRTL) for a language
// written from right to left, and at WM_INITDIALOG TranslateDialog puts its
// texts in the run's language and FitDialog sizes its controls from them.
#pragma once
#include <windows.h>
#include "language.h"

// Modal, as DialogBoxParamA: -1 when the dialog cannot be made.
INT_PTR RunDialog(HINSTANCE instance, int id, HWND owner, DLGPROC procedure, LPARAM parameter = 0);
// Modeless, as CreateDialogParamA.
HWND OpenDialog(HINSTANCE instance, int id, HWND owner, DLGPROC procedure, LPARAM parameter);
// The template of a dialog as a copy from the heap (in *copy, which the caller
// frees) with the mirrored layout in its extended style; null when there is none.
const DLGTEMPLATE* MirroredTemplate(HINSTANCE instance, int id, void** copy);
// The dialog's template mirrored (MirroredTemplate) for a run in a language
// written from right to left, where the product has one; else null, and so
// is *copy.
const DLGTEMPLATE* MirroredForRun(HINSTANCE instance, int id, void** copy);
// The caption and every control's text in the run's language, where the
// product speaks another than English (TranslateDialogTexts).
inline void TranslateDialog(HWND dialog)
{
    if (ProductLanguageCode.translateDialog)
        ProductLanguageCode.translateDialog(dialog);
}
void TranslateDialogTexts(HWND dialog);
// Makes every control as large as its text needs, in the dialog's font at its
// DPI, and the dialog as large as its controls then need. A button, a group
// box's label and a static text of one line widen, and what lies beyond them
// in their row moves along; a static text of more lines keeps its width and
// grows in height, and what lies below it in its column moves down. A group
// box grows with what it holds; a control at a dialog's or a group box's far
// edge keeps its distance to it (one that also stands at its near edge
// stretches). Nothing shrinks, so a dialog whose texts fit stays as its
// template made it.
void FitDialog(HWND dialog);
