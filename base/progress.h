// How long-running steps report what they are working on.
#pragma once
#include <windows.h>

// The dialog to update, the item being worked on (may be empty), 0 to 100.
typedef void (*ProgressSink)(HWND dialog, const char* text, int percent);
