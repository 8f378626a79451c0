// The shipped product's uninstaller. Removing the product is its own business;
// here it says what it is.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    MessageBoxA(nullptr, "This is the Pelmora uninstaller. To remove Pelmora, delete its folder.",
        "Uninstall Pelmora", MB_OK | MB_ICONINFORMATION);
    return 0;
}
