#include "inflating.h"
#include "source.h"
#include <libdeflate.h>
#include <stdlib.h>

namespace {

// A wait and a wake are each a system call: a worker waiting for buffers is
// woken once this many are free, not for each one.
constexpr int WakeBatch = InflatedSliceRing / 4;
// What a slice's compressed bytes may take: a sound one, of at most SliceSize
// bytes of content, takes less, even stored whole.
constexpr size_t SliceInputSize = 32 * 1024;
// The worker needs little stack: libdeflate keeps its state on the heap.
constexpr SIZE_T WorkerStackSize = 64 * 1024;

struct SlicePosition {
    int file;
    int slice;
    uint64_t offset; // where its bytes begin in the payload
};

struct InflatedSlice {
    SlicePosition position;
    size_t length;
    bool sound;
    bool done; // under the lock
};

// The one run's state, shared by the calling thread and the worker. Slice k
// of the run (counting every slice to be written) lies in buffer k % ring.
struct InflatingState {
    const PayloadArchiveTables* archive;
    const unsigned char* toWrite;
    int ring; // InflatedSliceRing buffers, or one without a worker
    unsigned char* buffers;
    InflatedSlice slices[InflatedSliceRing];
    // Each thread reads and inflates with its own: a decompressor is not shared.
    libdeflate_decompressor* workerInflater;
    libdeflate_decompressor* callerInflater;
    unsigned char* workerInput;
    unsigned char* callerInput;
    HANDLE worker; // null: the calling thread inflates every slice

    // Under the lock.
    SRWLOCK lock;
    CONDITION_VARIABLE inflated; // the calling thread waits here for the slice it needs
    CONDITION_VARIABLE freed;    // the worker waits here for buffers
    int claimed;                 // slices either thread began to inflate
    SlicePosition next;          // the position of slice `claimed`
    int released;                // slices the calling thread is done with
    bool damaged;                // a damaged slice was found: none after it is begun
    bool stopping;
    bool callerWaits;
    bool workerWaits;

    int taken; // the calling thread's own: slices NextSlice gave
    bool failed;
};

InflatingState State;

// Where file i's first slice begins.
SlicePosition FirstOf(int file)
{
    const PayloadArchiveTables& archive = *State.archive;
    return {file, 0, file < archive.fileCount ? archive.fileOffsets[file] : 0};
}

// The first slice at or after this one of a file to be written; past the last
// file when none is left.
SlicePosition FirstToWrite(SlicePosition at)
{
    const PayloadArchiveTables& archive = *State.archive;
    while (at.file < archive.fileCount && (!State.toWrite[at.file] || at.slice >= archive.sliceCounts[at.file]))
        at = FirstOf(at.file + 1);
    return at;
}

// The slice after this one, its file's next.
SlicePosition Following(SlicePosition at)
{
    return {at.file, at.slice + 1, at.offset + State.archive->sliceLengths[at.file][at.slice]};
}

// Whether a slice may be begun: one is left, and its buffer is free.
bool MayClaim()
{
    return !State.damaged && !State.stopping && State.next.file < State.archive->fileCount
        && State.claimed - State.released < State.ring;
}

// Reads and inflates the next slice into its buffer. Called with the lock
// held; the lock is let go meanwhile, the buffer being the claimant's alone.
int InflateNext(libdeflate_decompressor* inflater, unsigned char* input)
{
    int k = State.claimed++;
    InflatedSlice& slice = State.slices[k % State.ring];
    slice.position = State.next;
    slice.done = false;
    State.next = FirstToWrite(Following(State.next));
    ReleaseSRWLockExclusive(&State.lock);
    uint32_t length = State.archive->sliceLengths[slice.position.file][slice.position.slice];
    slice.length = WorkBufferSize;
    slice.sound = length <= SliceInputSize && ReadVerified(slice.position.offset, input, length)
        && InflateSlice(inflater, State.buffers + size_t(k % State.ring) * WorkBufferSize, &slice.length, input, length);
    AcquireSRWLockExclusive(&State.lock);
    slice.done = true;
    State.damaged = State.damaged || !slice.sound;
    return k;
}

DWORD WINAPI InflateAhead(void*)
{
    AcquireSRWLockExclusive(&State.lock);
    for (;;) {
        if (MayClaim()) {
            int k = InflateNext(State.workerInflater, State.workerInput);
            if (State.callerWaits && k == State.taken)
                WakeConditionVariable(&State.inflated);
        } else if (!State.damaged && !State.stopping && State.next.file < State.archive->fileCount) {
            State.workerWaits = true;
            SleepConditionVariableSRW(&State.freed, &State.lock, INFINITE, 0);
            State.workerWaits = false;
        } else {
            break;
        }
    }
    ReleaseSRWLockExclusive(&State.lock);
    return 0;
}

void StopInflating();

bool StartInflating(const PayloadArchiveTables& archive, const unsigned char* toWrite)
{
    State = InflatingState{};
    State.archive = &archive;
    State.toWrite = toWrite;
    State.next = FirstToWrite(FirstOf(0));
    bool ahead = UsableProcessors() > 1;
    State.ring = ahead ? InflatedSliceRing : 1;
    // The ring, then each thread's input buffer.
    size_t ringSize = size_t(State.ring) * WorkBufferSize;
    State.buffers = static_cast<unsigned char*>(malloc(ringSize + (ahead ? 2 : 1) * SliceInputSize));
    State.callerInput = State.buffers + ringSize;
    State.workerInput = State.callerInput + SliceInputSize;
    State.callerInflater = libdeflate_alloc_decompressor();
    State.workerInflater = ahead ? libdeflate_alloc_decompressor() : nullptr;
    if (!State.buffers || !State.callerInflater || (ahead && !State.workerInflater)) {
        StopInflating();
        return false;
    }
    InitializeSRWLock(&State.lock);
    InitializeConditionVariable(&State.inflated);
    InitializeConditionVariable(&State.freed);
    // Without the thread the calling thread inflates every slice, as on one processor.
    if (ahead)
        State.worker = CreateThread(nullptr, WorkerStackSize, InflateAhead, nullptr,
            STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    return true;
}

bool NextSlice(int file, int slice, const unsigned char** content, size_t* length)
{
    if (State.failed)
        return false;
    AcquireSRWLockExclusive(&State.lock);
    // The slice given before this one is done with.
    State.released = State.taken;
    if (State.workerWaits && State.claimed - State.released <= State.ring - WakeBatch)
        WakeConditionVariable(&State.freed);
    // While the slice it needs is not there, the calling thread inflates the
    // next one itself rather than wait: in a long file both processors inflate.
    const InflatedSlice& given = State.slices[State.taken % State.ring];
    while (State.taken >= State.claimed || !given.done) {
        if (MayClaim()) {
            InflateNext(State.callerInflater, State.callerInput);
        } else if (State.taken < State.claimed) {
            State.callerWaits = true;
            SleepConditionVariableSRW(&State.inflated, &State.lock, INFINITE, 0);
            State.callerWaits = false;
        } else {
            break; // no slice is left for it: after a damaged one, or past the last
        }
    }
    bool found = State.taken < State.claimed && given.done;
    ReleaseSRWLockExclusive(&State.lock);
    if (!found || given.position.file != file || given.position.slice != slice || !given.sound) {
        State.failed = true;
        return false;
    }
    *content = State.buffers + size_t(State.taken % State.ring) * WorkBufferSize;
    *length = given.length;
    ++State.taken;
    return true;
}

void StopInflating()
{
    if (State.worker) {
        AcquireSRWLockExclusive(&State.lock);
        State.stopping = true;
        WakeConditionVariable(&State.freed);
        ReleaseSRWLockExclusive(&State.lock);
        WaitForSingleObject(State.worker, INFINITE);
        CloseHandle(State.worker);
    }
    libdeflate_free_decompressor(State.workerInflater);
    libdeflate_free_decompressor(State.callerInflater);
    free(State.buffers);
    State = InflatingState{};
}

} // namespace

int UsableProcessors()
{
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
        return 1;
    int count = 0;
    for (; process; process &= process - 1)
        ++count;
    return count ? count : 1;
}

const PayloadUnpacker SliceInflater = {StartInflating, NextSlice, StopInflating, true};
