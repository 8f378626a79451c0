// Started once per Wine session with its output going to files: it brings up
// Wine's desktop process, which inherits that output for the session's life,
// and a second time to keep that process up (below).
#include <windows.h>

int main(int argc, char**)
{
    // Started with an argument, it keeps a window until the session is ended:
    // Wine's desktop process ends a moment after the prefix's last window has
    // gone, and one started later by a test would not write to the session's log.
    if (argc > 1) {
        if (!CreateWindowExA(0, "STATIC", "stay", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr))
            return 1;
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0)
            DispatchMessageA(&message);
        return 0;
    }
    HWND window = CreateWindowExA(0, "STATIC", "start", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (window)
        DestroyWindow(window);
    return GetDesktopWindow() ? 0 : 1;
}
