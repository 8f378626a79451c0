// Started once per Wine session with its output going to files: it brings up
// Wine's desktop process, which inherits that output for the session's life.
#include <windows.h>

int main()
{
    HWND window = CreateWindowExA(0, "STATIC", "start", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (window)
        DestroyWindow(window);
    return GetDesktopWindow() ? 0 : 1;
}
