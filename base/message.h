// The only report to the user: message boxes. Warnings have OK and the
// exclamation icon; questions have Yes and No, no icon, and only Yes counts.
// In an unattended run none is shown: each goes to the log with the answer
// taken for it.
#pragma once
#include <windows.h>

void ShowWarning(HWND owner, const char* caption, const char* text);
// A report that something is done: OK and the information icon.
void ShowInformation(HWND owner, const char* caption, const char* text);
// A notice before something takes a while: OK and no icon.
void ShowNotice(HWND owner, const char* caption, const char* text);
// unattendedAnswer: the answer an unattended run takes.
bool AskYesNo(HWND owner, const char* caption, const char* text, bool unattendedAnswer);
// Retry and Cancel, with the exclamation icon: true for Retry, which an
// unattended run never takes.
bool AskRetry(HWND owner, const char* caption, const char* text);

// Large enough for any fixed message with two product names of 1023 bytes.
constexpr int MessageBufferSize = 4096;

// A folder refused because a text derived from it would not fit its buffer.
constexpr char FolderTooLongCaption[] = "Folder Name Too Long";
constexpr char FolderTooLongText[] =
    "That location is too long for the files of this application. Please choose a folder with a shorter path.";
