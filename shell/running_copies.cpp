#include "code_page.h"
#include "commands.h"
#include "file_system.h"
#include "message.h"
#include "product.h"
#include "run.h"
#include "shell.h"
#include "text.h"

namespace {

const EnglishText NoticeCaption = N_("Closing Running Copies");
const EnglishText NoticeFormat =
    N_("Any copies of %s currently running must now be shut down. This may take a few seconds.");
constexpr DWORD QuitPauseMs = 4000;
// A title is read up to its first 255 characters, however many bytes each takes.
constexpr size_t TitleCharacters = 255;
constexpr int TitleBufferSize = PathBufferSize;

// The full path in its long form, so that an 8.3 name and its long name compare
// alike; the full path as it is where the system knows no long form of it.
void MakeLongPath(const char* path, char* out, DWORD size)
{
    char full[PathBufferSize];
    DWORD fullLength = GetFullPathNameA(path, sizeof full, full, nullptr);
    const char* known = fullLength > 0 && fullLength < sizeof full ? full : path;
    DWORD length = GetLongPathNameA(known, out, size);
    if (length == 0 || length >= size)
        CopyText(out, size, known); // result deliberately ignored: too long, it is left empty, within nothing
}

// The long path of the program a process runs; empty when it cannot be read.
void ReadImagePath(DWORD processId, char* out, DWORD size)
{
    char image[PathBufferSize];
    DWORD length = sizeof image;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    bool read = process && QueryFullProcessImageNameA(process, 0, image, &length);
    if (process)
        CloseHandle(process);
    if (read)
        MakeLongPath(image, out, size);
    else
        out[0] = '\0';
}

BOOL CALLBACK TellToQuit(HWND window, LPARAM folder)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char title[TitleBufferSize];
    char image[PathBufferSize];
    // Never our own windows, whatever their titles say.
    if (process != GetCurrentProcessId() && GetWindowTextA(window, title, sizeof title) > 0) {
        KeepCharacters(title, TitleCharacters);
        ReadImagePath(process, image, sizeof image);
        const char* within = reinterpret_cast<const char*>(folder);
        if (IsRunningCopyWindow(title, ProductConfig.displayName, image, within)
            || IsRunningCopyWindow(title, ShownProductName(), image, within)) {
            PostMessageA(window, WM_QUIT, 0, 0);
            LogLine("Told to quit: the window \"%s\" of %s", title, image);
        }
    }
    return TRUE;
}

} // namespace

bool IsRunningCopyWindow(const char* title, const char* displayName, const char* imagePath, const char* folder)
{
    return TitleMarksRunningCopy(title, displayName) && PathIsWithin(imagePath, folder);
}

void ShutDownRunningCopies(const char* folder)
{
    ShowWarning(nullptr, NoticeCaption, NoticeFormat, ShownProductName());
    Sleep(QuitPauseMs);
    char longFolder[PathBufferSize];
    MakeLongPath(folder, longFolder, sizeof longFolder);
    EnumWindows(TellToQuit, reinterpret_cast<LPARAM>(longFolder));
    Sleep(QuitPauseMs);
}
