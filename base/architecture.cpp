#include "architecture.h"
#include "names.h"
#include "code_page.h"
#include "path_limits.h"
#include "product.h"
#include "run.h"

REGSAM ProductRegistryView()
{
    return ProductDetails.sixtyFourBit ? KEY_WOW64_64KEY : 0;
}

bool OtherRegistryView(REGSAM* view)
{
    if (!IsWindows64Bit())
        return false;
    bool productViewIs64Bit = ProductDetails.sixtyFourBit || sizeof(void*) == 8;
    *view = productViewIs64Bit ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    return true;
}

bool ReadSixtyFourBitProgramsFolder(char* out, DWORD size)
{
    return ReadRegistryText(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", KEY_WOW64_64KEY,
               L"ProgramFilesDir", out, size)
        && !FullPathProblem(out);
}

bool ReadRegistryText(HKEY root, const char* keyPath, REGSAM view, const WCHAR* name, char* out, DWORD size,
    bool* present)
{
    // Read in UTF-16: the ANSI form would put a best fit or '?' for a character the code page lacks.
    if (size > 0)
        out[0] = '\0';
    WCHAR widePath[PathBufferSize];
    WCHAR value[PathBufferSize];
    HKEY key;
    if (!MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, keyPath, -1, widePath, PathBufferSize)
        || RegOpenKeyExW(root, widePath, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return false;
    DWORD bytes = sizeof value;
    // A REG_EXPAND_SZ value comes expanded.
    LONG status = RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, value, &bytes);
    RegCloseKey(key);
    if (present)
        *present = status != ERROR_FILE_NOT_FOUND;
    return status == ERROR_SUCCESS && value[0] && NarrowText(value, out, size);
}

SystemFileAccess::SystemFileAccess(bool systemFile)
{
    BOOL wow64 = FALSE;
    if (!systemFile || !ProductDetails.sixtyFourBit || !IsWow64Process(GetCurrentProcess(), &wow64) || !wow64)
        return;
    off_ = Wow64DisableWow64FsRedirection(&redirection_) != 0;
    if (!off_)
        LogLine("The system directory's redirection could not be turned off (error %d)", int(GetLastError()));
}

SystemFileAccess::~SystemFileAccess()
{
    if (off_ && !Wow64RevertWow64FsRedirection(redirection_))
        LogLine("The system directory's redirection could not be turned on again (error %d)", int(GetLastError()));
}
