#include <windows.h>
#include "globals.h"
#include "uninstall.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    RestrictDllSearch();
    UninstallSequence(instance);
    return 0;
}
