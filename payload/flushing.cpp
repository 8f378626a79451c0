#include "flushing.h"

namespace {

// Files handed over and not yet flushed, and one for the run itself, so that
// the count reaches 0 only once the run has finished handing over.
LONG Pending;
LONG Failures;
HANDLE AllFlushed;

DWORD WINAPI FlushFile(void* file)
{
    bool flushed = FlushFileBuffers(file) != 0;
    if (!CloseHandle(file) || !flushed)
        InterlockedIncrement(&Failures);
    if (InterlockedDecrement(&Pending) == 0)
        SetEvent(AllFlushed);
    return 0;
}

} // namespace

bool StartFlushing()
{
    Pending = 1;
    Failures = 0;
    AllFlushed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return AllFlushed != nullptr;
}

void FlushAndClose(HANDLE file)
{
    InterlockedIncrement(&Pending);
    if (!QueueUserWorkItem(FlushFile, file, WT_EXECUTEDEFAULT))
        FlushFile(file);
}

bool FinishFlushing()
{
    if (InterlockedDecrement(&Pending) != 0)
        WaitForSingleObject(AllFlushed, INFINITE);
    CloseHandle(AllFlushed);
    AllFlushed = nullptr;
    return Failures == 0;
}
