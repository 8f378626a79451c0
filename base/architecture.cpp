#include "architecture.h"
#include "product.h"
#include "run.h"

REGSAM ProductRegistryView()
{
    return ProductDetails.sixtyFourBit ? KEY_WOW64_64KEY : 0;
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
