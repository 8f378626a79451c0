// A stand-in for the shell's Program Manager that takes every conversation and
// carries out no command, as an elevated setup may find the shell's where
// Windows filters the messages of a lower integrity level. Started after the
// desktop, it takes the conversations; it signals the event named on its
// command line once it answers, and runs until it is ended.
#include <windows.h>
#include <ddeml.h>

namespace {

HDDEDATA CALLBACK Refuse(UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR)
{
    if (type == XTYP_CONNECT)
        return reinterpret_cast<HDDEDATA>(TRUE);
    if (type == XTYP_EXECUTE)
        return reinterpret_cast<HDDEDATA>(DDE_FNOTPROCESSED);
    return nullptr;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    DWORD instance = 0;
    if (DdeInitializeW(&instance, Refuse, APPCLASS_STANDARD | CBF_SKIP_ALLNOTIFICATIONS, 0) != DMLERR_NO_ERROR)
        return 1;
    HSZ service = DdeCreateStringHandleW(instance, L"PROGMAN", CP_WINUNICODE);
    if (!DdeNameService(instance, service, nullptr, DNS_REGISTER))
        return 1;
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, commandLine);
    if (ready)
        SetEvent(ready);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    return 0;
}
