#include "commands.h"
#include "message.h"
#include "product.h"
#include "shell.h"
#include "text.h"

namespace {

const char NoticeCaption[] = "Closing Running Copies";
const char NoticeFormat[] =
    "Any copies of %s currently running must now be shut down. This may take a few seconds.";
constexpr DWORD QuitPauseMs = 4000;
constexpr int TitleBufferSize = 256;

BOOL CALLBACK TellToQuit(HWND window, LPARAM)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    // Never our own windows, whatever their titles say.
    if (process == GetCurrentProcessId())
        return TRUE;
    char title[TitleBufferSize];
    if (GetWindowTextA(window, title, sizeof title) > 0 && TitleMarksRunningCopy(title, ProductConfig.displayName))
        PostMessageA(window, WM_QUIT, 0, 0);
    return TRUE;
}

} // namespace

void ShutDownRunningCopies()
{
    char notice[MessageBufferSize];
    FormatText(notice, sizeof notice, NoticeFormat, ProductConfig.displayName);
    ShowWarning(nullptr, NoticeCaption, notice);
    Sleep(QuitPauseMs);
    EnumWindows(TellToQuit, 0);
    Sleep(QuitPauseMs);
}
