#include "flushing.h"

namespace {

// Files handed over and not yet flushed, and one for the run itself, so that
// the count reaches 0 only once the run has finished handing over.
LONG Pending;
LONG Failures;
HANDLE AllFlushed;
// At most this many files wait for their flush, each holding its handle and,
// while a flush blocks, one of the pool's threads: a slow disk never grows
// the pool toward its hundreds of threads, nor the open files with the payload.
constexpr LONG FlushesInFlight = 8;
HANDLE FreeSlots;

DWORD WINAPI FlushFile(void* file)
{
    bool flushed = FlushFileBuffers(file) != 0;
    if (!CloseHandle(file) || !flushed)
        InterlockedIncrement(&Failures);
    ReleaseSemaphore(FreeSlots, 1, nullptr); // result deliberately ignored: a slot is released only once taken
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
    FreeSlots = CreateSemaphoreA(nullptr, FlushesInFlight, FlushesInFlight, nullptr);
    if (AllFlushed && FreeSlots)
        return true;
    if (AllFlushed)
        CloseHandle(AllFlushed);
    if (FreeSlots)
        CloseHandle(FreeSlots);
    return false;
}

void FlushAndClose(HANDLE file)
{
    WaitForSingleObject(FreeSlots, INFINITE);
    InterlockedIncrement(&Pending);
    if (!QueueUserWorkItem(FlushFile, file, WT_EXECUTEDEFAULT))
        FlushFile(file);
}

bool FinishFlushing()
{
    if (InterlockedDecrement(&Pending) != 0)
        WaitForSingleObject(AllFlushed, INFINITE);
    CloseHandle(AllFlushed);
    CloseHandle(FreeSlots);
    AllFlushed = nullptr;
    FreeSlots = nullptr;
    return Failures == 0;
}
