// BlockUnpacker: a solid archive's slices, from the blocks of its xz stream.
// Worker threads, as many as the process has processors and at most
// MostUnpackingThreads, each decode a whole block into a buffer of its own,
// in order; a block is given to the writing thread only when all of it has
// decoded and its CRC32 matched, so that no byte of a damaged block reaches a
// file. The memory taken is a block's content for each thread and one more
// (the block being written), and each decoding block's dictionary.
#include "archive.h"
#include "inflating.h"
#include "source.h"
#include <lzma.h>
#include <stdlib.h>

namespace {

constexpr int MostUnpackingThreads = 4;
constexpr int MostBuffers = MostUnpackingThreads + 1;
// liblzma keeps its state on the heap, and a worker its input.
constexpr SIZE_T WorkerStackSize = 64 * 1024;
// A worker reads its block's compressed bytes this much at a time.
constexpr size_t BlockReadSize = 64 * 1024;

struct UnpackingState {
    const PayloadArchiveTables* archive;
    const SolidBlocks* solid;
    int ring;           // buffers: block k is unpacked into buffers[k % ring]
    size_t bufferSize;  // the largest block's content
    unsigned char* buffers[MostBuffers];
    HANDLE workers[MostUnpackingThreads];
    int workerCount;

    // Under the lock.
    SRWLOCK lock;
    CONDITION_VARIABLE unpacked; // the writing thread waits here for its block
    CONDITION_VARIABLE freed;    // the workers wait here for buffers
    int claimed;                 // blocks a worker began
    int released;                // blocks the writing thread is done with
    bool done[MostBuffers];      // the block in each buffer is unpacked
    bool sound[MostBuffers];     // ... whole, its check matched
    bool damaged;                // a damaged block was found: none after it is begun
    bool stopping;

    // The writing thread's own: the next slice of the stream, and where it lies.
    int file;
    int slice;
    int block;
    size_t offset;
    bool given; // that slice was given, and is stepped over by the next call
    bool failed;
};

UnpackingState State;

// Block k's content into out, which holds bufferSize bytes, its compressed
// bytes read a piece at a time into in: true only when all of it decoded,
// its check matched and its size is the table's.
bool DecodeBlock(int k, unsigned char* in, unsigned char* out)
{
    uint64_t at = State.solid->blockOffsets[k];
    size_t left = State.solid->blockLengths[k];
    lzma_filter filters[LZMA_FILTERS_MAX + 1];
    lzma_block block{};
    block.version = 1;
    block.check = LZMA_CHECK_CRC32;
    block.filters = filters;
    // The header first: its size is in its first byte.
    if (left == 0 || !ReadPayload(at, in, 1))
        return false;
    block.header_size = lzma_block_header_size_decode(in[0]);
    // The header decoder frees the filters' options itself when it fails.
    if (block.header_size > left || !ReadPayload(at, in, block.header_size)
        || lzma_block_header_decode(&block, nullptr, in) != LZMA_OK)
        return false;
    at += block.header_size;
    left -= block.header_size;
    lzma_stream stream = LZMA_STREAM_INIT;
    lzma_ret status = lzma_block_decoder(&stream, &block);
    stream.next_out = out;
    stream.avail_out = State.bufferSize;
    while (status == LZMA_OK) {
        if (stream.avail_in == 0 && left > 0) {
            size_t piece = left < BlockReadSize ? left : BlockReadSize;
            if (!ReadPayload(at, in, piece))
                break;
            stream.next_in = in;
            stream.avail_in = piece;
            at += piece;
            left -= piece;
        }
        status = lzma_code(&stream, left == 0 ? LZMA_FINISH : LZMA_RUN);
    }
    bool sound = status == LZMA_STREAM_END && left == 0 && stream.avail_in == 0
        && stream.total_out == State.solid->blockSizes[k];
    lzma_end(&stream);
    lzma_filters_free(filters, nullptr);
    return sound;
}

bool MayClaim()
{
    return !State.damaged && !State.stopping && State.claimed < State.solid->blockCount
        && State.claimed - State.released < State.ring;
}

DWORD WINAPI UnpackAhead(void*)
{
    unsigned char* input = static_cast<unsigned char*>(malloc(BlockReadSize));
    AcquireSRWLockExclusive(&State.lock);
    for (;;) {
        if (MayClaim()) {
            int k = State.claimed++;
            int buffer = k % State.ring;
            State.done[buffer] = false;
            ReleaseSRWLockExclusive(&State.lock);
            bool sound = input && DecodeBlock(k, input, State.buffers[buffer]);
            AcquireSRWLockExclusive(&State.lock);
            State.sound[buffer] = sound;
            State.done[buffer] = true;
            State.damaged = State.damaged || !sound;
            WakeConditionVariable(&State.unpacked);
            // Whoever waits for a buffer may now find none to unpack: each sees it for itself.
            if (State.damaged)
                WakeAllConditionVariable(&State.freed);
        } else if (!State.damaged && !State.stopping && State.claimed < State.solid->blockCount) {
            SleepConditionVariableSRW(&State.freed, &State.lock, INFINITE, 0);
        } else {
            break;
        }
    }
    ReleaseSRWLockExclusive(&State.lock);
    free(input);
    return 0;
}

uint32_t SliceLength(int file, int slice)
{
    return slice + 1 < State.archive->sliceCounts[file] ? uint32_t(SliceSize) : State.solid->lastSliceSizes[file];
}

// The first slice at or after this one; past the last file when none is left.
void SkipEmptyFiles()
{
    while (State.file < State.archive->fileCount && State.slice >= State.archive->sliceCounts[State.file]) {
        ++State.file;
        State.slice = 0;
    }
}

// Waits until block k is unpacked, or a damaged block ended the unpacking
// before k was begun (a block begun is always finished, so that the slice
// named as damaged is one of the block that is); called with the lock held.
// Whether block k is there, whole.
bool AwaitBlock(int k)
{
    int buffer = k % State.ring;
    while (!(k < State.claimed && State.done[buffer]) && !(State.damaged && k >= State.claimed))
        SleepConditionVariableSRW(&State.unpacked, &State.lock, INFINITE, 0);
    return k < State.claimed && State.done[buffer] && State.sound[buffer];
}

// Past the current slice, and past its block when that was the block's last.
// A block is let go only once unpacked, so that no worker still writes into
// the buffer it frees.
void StepOver()
{
    State.offset += SliceLength(State.file, State.slice);
    ++State.slice;
    SkipEmptyFiles();
    if (State.block < State.solid->blockCount && State.offset >= State.solid->blockSizes[State.block]) {
        AcquireSRWLockExclusive(&State.lock);
        AwaitBlock(State.block); // result deliberately ignored: its slices were given or passed over
        State.released = ++State.block;
        WakeAllConditionVariable(&State.freed);
        ReleaseSRWLockExclusive(&State.lock);
        State.offset = 0;
    }
}

void StopUnpacking();

bool StartUnpacking(const PayloadArchiveTables& archive, const unsigned char*)
{
    State = UnpackingState{};
    State.archive = &archive;
    State.solid = archive.solid;
    SkipEmptyFiles();
    for (int k = 0; k < State.solid->blockCount; ++k)
        if (State.solid->blockSizes[k] > State.bufferSize)
            State.bufferSize = State.solid->blockSizes[k];
    int processors = UsableProcessors();
    int threads = processors < MostUnpackingThreads ? processors : MostUnpackingThreads;
    if (State.solid->blockCount < threads)
        threads = State.solid->blockCount;
    State.ring = threads + 1 < State.solid->blockCount ? threads + 1 : State.solid->blockCount;
    InitializeSRWLock(&State.lock);
    InitializeConditionVariable(&State.unpacked);
    InitializeConditionVariable(&State.freed);
    // The check's table is made on its first use, unguarded: here, before the workers begin.
    volatile uint32_t madeTable = lzma_crc32(nullptr, 0, 0);
    (void)madeTable;
    for (int b = 0; b < State.ring; ++b) {
        State.buffers[b] = static_cast<unsigned char*>(malloc(State.bufferSize));
        if (!State.buffers[b]) {
            StopUnpacking();
            return false;
        }
    }
    for (int t = 0; t < threads; ++t) {
        HANDLE worker = CreateThread(nullptr, WorkerStackSize, UnpackAhead, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION,
            nullptr);
        if (worker)
            State.workers[State.workerCount++] = worker;
    }
    // Without a worker no block would ever be unpacked; with one at least, every block is.
    if (threads > 0 && State.workerCount == 0) {
        StopUnpacking();
        return false;
    }
    return true;
}

bool NextUnpackedSlice(int file, int slice, const unsigned char** content, size_t* length)
{
    if (State.failed)
        return false;
    if (State.given)
        StepOver();
    State.given = false;
    // The slices of files not written are passed over.
    while (State.file < file || (State.file == file && State.slice < slice))
        StepOver();
    uint32_t sliceLength = State.file < State.archive->fileCount ? SliceLength(State.file, State.slice) : 0;
    bool found = State.file == file && State.slice == slice && State.block < State.solid->blockCount
        && sliceLength <= State.solid->blockSizes[State.block] - State.offset;
    if (found) {
        AcquireSRWLockExclusive(&State.lock);
        found = AwaitBlock(State.block);
        ReleaseSRWLockExclusive(&State.lock);
        *content = State.buffers[State.block % State.ring] + State.offset;
        *length = sliceLength;
    }
    State.given = found;
    State.failed = !found;
    return found;
}

void StopUnpacking()
{
    if (State.workerCount > 0) {
        AcquireSRWLockExclusive(&State.lock);
        State.stopping = true;
        WakeAllConditionVariable(&State.freed);
        ReleaseSRWLockExclusive(&State.lock);
        WaitForMultipleObjects(DWORD(State.workerCount), State.workers, TRUE, INFINITE);
        for (int t = 0; t < State.workerCount; ++t)
            CloseHandle(State.workers[t]);
    }
    for (unsigned char* buffer : State.buffers)
        free(buffer);
    State = UnpackingState{};
}

} // namespace

const PayloadUnpacker BlockUnpacker = {StartUnpacking, NextUnpackedSlice, StopUnpacking};
