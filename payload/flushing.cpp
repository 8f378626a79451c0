#include "flushing.h"

namespace {

// At most this many written files wait for their flush, each holding its
// handle: a slow disk never holds the open files of the whole payload.
constexpr int FlushesWaiting = 16;
// The flushing thread needs little stack; under Wine every thread commits
// about a megabyte all the same, which is why there is one.
constexpr SIZE_T FlusherStackSize = 64 * 1024;

struct FlushingState {
    HANDLE thread; // null: each file is flushed as it is handed over

    // Under the lock.
    SRWLOCK lock;
    CONDITION_VARIABLE handed; // the flushing thread waits here for files
    HANDLE waiting[FlushesWaiting];
    int first;
    int count;
    bool finishing;
    bool failed;
};

FlushingState State;

bool Flush(HANDLE file)
{
    bool flushed = FlushFileBuffers(file) != 0;
    return CloseHandle(file) && flushed;
}

// Flushes the first file waiting; called with the lock held, which is let
// go meanwhile.
void FlushFirst()
{
    HANDLE file = State.waiting[State.first];
    State.first = (State.first + 1) % FlushesWaiting;
    --State.count;
    ReleaseSRWLockExclusive(&State.lock);
    bool flushed = Flush(file);
    AcquireSRWLockExclusive(&State.lock);
    State.failed = State.failed || !flushed;
}

DWORD WINAPI FlushFiles(void*)
{
    AcquireSRWLockExclusive(&State.lock);
    for (;;) {
        while (State.count == 0 && !State.finishing)
            SleepConditionVariableSRW(&State.handed, &State.lock, INFINITE, 0);
        if (State.count == 0)
            break;
        FlushFirst();
    }
    ReleaseSRWLockExclusive(&State.lock);
    return 0;
}

} // namespace

void StartFlushing()
{
    State = FlushingState{};
    InitializeSRWLock(&State.lock);
    InitializeConditionVariable(&State.handed);
    State.thread = CreateThread(nullptr, FlusherStackSize, FlushFiles, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION,
        nullptr);
}

void FlushAndClose(HANDLE file)
{
    if (!State.thread) {
        State.failed = !Flush(file) || State.failed;
        return;
    }
    AcquireSRWLockExclusive(&State.lock);
    // Rather than wait for room, the writing thread flushes a file itself.
    while (State.count == FlushesWaiting)
        FlushFirst();
    State.waiting[(State.first + State.count) % FlushesWaiting] = file;
    ++State.count;
    WakeConditionVariable(&State.handed);
    ReleaseSRWLockExclusive(&State.lock);
}

bool FinishFlushing()
{
    if (State.thread) {
        // The files still waiting are flushed two at a time: here, and on the flushing thread.
        AcquireSRWLockExclusive(&State.lock);
        State.finishing = true;
        WakeConditionVariable(&State.handed);
        while (State.count > 0)
            FlushFirst();
        ReleaseSRWLockExclusive(&State.lock);
        WaitForSingleObject(State.thread, INFINITE);
        CloseHandle(State.thread);
        State.thread = nullptr;
    }
    return !State.failed;
}
