// The only report to the user: message boxes, shown in the run's language
// (language.h), mirrored for a language written from right to left. Warnings
// have OK and the exclamation icon; questions have Yes and No, no icon, and
// only Yes counts. In an unattended run none is shown: each goes to the log,
// in English, with the answer taken for it.
//
// A caption and a format are English texts of the translations: the format's
// %s and %d take the arguments, in the English and the translation alike, and
// a caption's %s is the product's name. A text formatted beforehand is never
// a format (its percent signs would be read as placeholders): a text put
// together from parts goes to ShowComposed.
#pragma once
#include <windows.h>
#include "language.h"

void ShowWarning(HWND owner, EnglishText caption, EnglishText format, ...);
// A report that something is done: OK and the information icon.
void ShowInformation(HWND owner, EnglishText caption, EnglishText format, ...);
// A notice before something takes a while: OK and no icon.
void ShowNotice(HWND owner, EnglishText caption, EnglishText format, ...);
// unattendedAnswer: the answer an unattended run takes.
bool AskYesNo(HWND owner, bool unattendedAnswer, EnglishText caption, EnglishText format, ...);
// Retry and Cancel, with the exclamation icon: true for Retry, which an
// unattended run never takes.
bool AskRetry(HWND owner, EnglishText caption, EnglishText format, ...);
// A warning (else a report) whose text is put together from parts, given
// whole in English for the log and in the run's language for the screen.
void ShowComposed(HWND owner, bool warning, EnglishText caption, const char* english, const char* shown);

// A text of the product's own, shown as it stands (no format, no translation).
constexpr EnglishText ProductText = {"%s"};

// Large enough for any fixed message with two product names of 1023 bytes.
constexpr int MessageBufferSize = 4096;

// A folder refused because a text derived from it would not fit its buffer.
constexpr EnglishText FolderTooLongCaption = N_("Folder Name Too Long");
constexpr EnglishText FolderTooLongText =
    N_("That location is too long for the files of this application. Please choose a folder with a shorter path.");
