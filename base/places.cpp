#include "places.h"
#include "architecture.h"
#include "code_page.h"
#include "commands.h"
#include "path_limits.h"
#include "product.h"
#include "text.h"
#include <shlobj.h>

InstallMode RunMode;

namespace {

const char* const PlaceSuffixes[] = {"", ".lock", ".journal", ".restart"};

// The folder that holds a place of the user's.
bool UserFolder(ProductPlace place, char* out, size_t size)
{
    if (place != RestartPlace)
        return SystemFolderPath(CSIDL_LOCAL_APPDATA, out, size);
    WCHAR temporary[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, temporary);
    if (length == 0 || length > MAX_PATH)
        return false;
    temporary[length - 1] = L'\0'; // its trailing backslash
    return NarrowText(temporary, out, size);
}

} // namespace

bool ProductPlacePath(InstallMode mode, ProductPlace place, char* out, size_t size)
{
    char folder[PathBufferSize];
    if (mode == UserMode) {
        if (!UserFolder(place, folder, sizeof folder))
            return false;
        if (place == ProfilePlace)
            return FormatText(out, size, "%s\\%s\\%s", folder, ProductConfig.folderName, ProductConfig.profileFile);
    } else {
        // The profile functions keep a bare name in the Windows directory the
        // process is shown; the run's own files lie in the system's.
        UINT length = place == ProfilePlace ? GetWindowsDirectoryA(folder, sizeof folder)
                                            : GetSystemWindowsDirectoryA(folder, sizeof folder);
        if (length == 0 || length >= sizeof folder)
            return false;
    }
    return FormatText(out, size, "%s\\%s%s", folder, ProductConfig.profileFile, PlaceSuffixes[place]);
}

HKEY UninstallRoot(InstallMode mode)
{
    return mode == UserMode ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

const char* UninstallRootName(InstallMode mode)
{
    return mode == UserMode ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

bool ReadUninstallText(InstallMode mode, const WCHAR* name, char* out, DWORD size, bool* present)
{
    char keyPath[PathBufferSize];
    return FormatUninstallKey(keyPath, sizeof keyPath, ProductConfig.displayName)
        && ReadRegistryText(UninstallRoot(mode), keyPath, ProductRegistryView(), name, out, size, present);
}

bool RunsElevated()
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    bool elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size)
        && elevation.TokenIsElevated;
    CloseHandle(token);
    return elevated;
}

bool RunsForUserWithRights()
{
    return RunMode == UserMode && RunsElevated();
}
