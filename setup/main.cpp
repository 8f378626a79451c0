#include <windows.h>
#include "sequence.h"

namespace {

// Load DLLs only from the system directory, never from the folder that holds
// setup.exe (often a downloads folder). Older systems lack the call.
void RestrictDllSearch()
{
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto setDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDirectories)
        setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    RestrictDllSearch();
    SetupSequence(instance);
    return 0;
}
