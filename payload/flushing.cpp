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
    CONDITION_VARIABLE taken;  // the writing thread waits here for room
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

DWORD WINAPI FlushFiles(void*)
{
    AcquireSRWLockExclusive(&State.lock);
    for (;;) {
        while (State.count == 0 && !State.finishing)
            SleepConditionVariableSRW(&State.handed, &State.lock, INFINITE, 0);
        if (State.count == 0)
            break;
        HANDLE file = State.waiting[State.first];
        State.first = (State.first + 1) % FlushesWaiting;
        --State.count;
        WakeConditionVariable(&State.taken);
        ReleaseSRWLockExclusive(&State.lock);
        bool flushed = Flush(file);
        AcquireSRWLockExclusive(&State.lock);
        State.failed = State.failed || !flushed;
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
    InitializeConditionVariable(&State.taken);
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
    while (State.count == FlushesWaiting)
        SleepConditionVariableSRW(&State.taken, &State.lock, INFINITE, 0);
    State.waiting[(State.first + State.count) % FlushesWaiting] = file;
    ++State.count;
    WakeConditionVariable(&State.handed);
    ReleaseSRWLockExclusive(&State.lock);
}

bool FinishFlushing()
{
    if (State.thread) {
        AcquireSRWLockExclusive(&State.lock);
        State.finishing = true;
        WakeConditionVariable(&State.handed);
        ReleaseSRWLockExclusive(&State.lock);
        WaitForSingleObject(State.thread, INFINITE);
        CloseHandle(State.thread);
        State.thread = nullptr;
    }
    return !State.failed;
}
