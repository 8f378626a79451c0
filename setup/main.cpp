#include <windows.h>
#include "globals.h"
#include "sequence.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    RestrictDllSearch();
    SetupSequence(instance);
    return 0;
}
