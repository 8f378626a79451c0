// The only report to the user: message boxes. Warnings have OK and the
// exclamation icon; questions have Yes and No, no icon, and only Yes counts.
#pragma once
#include <windows.h>

void ShowWarning(HWND owner, const char* caption, const char* text);
// A report that something is done: OK and the information icon.
void ShowInformation(HWND owner, const char* caption, const char* text);
bool AskYesNo(HWND owner, const char* caption, const char* text);

// Large enough for any fixed message with two product names of 1023 bytes.
constexpr int MessageBufferSize = 4096;

// A folder refused because a text derived from it would not fit its buffer.
constexpr char FolderTooLongCaption[] = "Folder Name Too Long";
constexpr char FolderTooLongText[] =
    "That location is too long for the files of this application. Please choose a folder with a shorter path.";
