#include "architecture.h"
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

bool ReadMachineText(const char* keyPath, REGSAM view, const char* name, char* out, DWORD size)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return false;
    DWORD bytes = size;
    bool read = RegGetValueA(key, nullptr, name, RRF_RT_REG_SZ, nullptr, out, &bytes) == ERROR_SUCCESS;
    RegCloseKey(key);
    return read;
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
