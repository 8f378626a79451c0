// BlockUnpacker: a solid archive's slices, from the blocks of its xz stream,
// with two decoders at the most. The writing thread decodes its block itself,
// a slice at a time as it writes it. Where the process may run on more than
// one processor, a worker thread decodes the next block meanwhile, whole,
// into a buffer of its own; the writing thread writes that block from the
// buffer, and reserves the block after it for itself, so that the two decode
// every other block side by side. The memory taken is two dictionaries (each
// at most 16 MiB, and no larger than its block) and one block's content (at
// most SolidBlockSize), whatever the payload's size: every further worker
// would take a dictionary and a block more than the extraction may have.
// Every byte a decoder reads was checked against its span's SHA-256 as it
// was read; a block that fails its own check all the same fails the run,
// whose rollback deletes what it staged.
#include "archive.h"
#include "inflating.h"
#include "source.h"
#include <lzma.h>
#include <stdlib.h>

namespace {

// liblzma keeps its state on the heap, and each decoder its input.
constexpr SIZE_T WorkerStackSize = 64 * 1024;
// A block's compressed bytes are read this much at a time.
constexpr size_t BlockReadSize = 64 * 1024;

// One block's decoding, its compressed bytes read a piece at a time.
struct BlockDecoder {
    lzma_stream stream;
    lzma_block block;
    lzma_filter filters[LZMA_FILTERS_MAX + 1];
    uint64_t at; // the next compressed byte to read, in the payload
    uint64_t end;
    unsigned char* input; // BlockReadSize bytes
    bool begun;           // the decoder holds memory until EndBlock
    bool ended;           // the block's check was read, and matched
};

struct UnpackingState {
    const PayloadArchiveTables* archive;
    const SolidBlocks* solid;
    BlockDecoder writer;
    unsigned char* decoded; // the writing thread's slice, from its own block
    BlockDecoder worker;
    unsigned char* ahead; // the worker's block, whole
    HANDLE workerThread;

    // Under the lock.
    SRWLOCK lock;
    CONDITION_VARIABLE unpacked; // the writing thread waits here for the worker's block
    CONDITION_VARIABLE freed;    // the worker waits here for its buffer
    int claimed;                 // blocks either thread began, or the writing thread reserved
    int aheadBlock;              // the block in the worker's buffer, or -1
    bool aheadDone;              // ... all of it decoded
    bool aheadSound;             // ... and its check matched
    bool damaged;                // a damaged block was found: the worker begins none after it
    bool stopping;

    // The writing thread's own: the slice of the stream it is at, and where it lies.
    int file;
    int slice;
    int block;
    size_t offset;
    bool own;   // its block is decoded here, not by the worker
    bool given; // that slice was given or passed over: the next call goes past it
    bool failed;
};

UnpackingState State;

bool ReadInput(BlockDecoder& decoder)
{
    size_t piece = decoder.end - decoder.at < BlockReadSize ? size_t(decoder.end - decoder.at) : BlockReadSize;
    if (!ReadVerified(decoder.at, decoder.input, piece))
        return false;
    decoder.stream.next_in = decoder.input;
    decoder.stream.avail_in = piece;
    decoder.at += piece;
    return true;
}

// Reads block k's header and makes its decoder.
bool BeginBlock(BlockDecoder& decoder, int k)
{
    decoder.at = State.solid->blockOffsets[k];
    decoder.end = decoder.at + State.solid->blockLengths[k];
    decoder.stream = LZMA_STREAM_INIT;
    decoder.block = lzma_block{};
    decoder.block.version = 1;
    decoder.block.check = LZMA_CHECK_CRC32;
    decoder.block.filters = decoder.filters;
    decoder.ended = false;
    // The header's size is in its first byte; the header decoder frees the
    // filters' options itself when it fails.
    unsigned char* in = decoder.input;
    if (decoder.end == decoder.at || !ReadVerified(decoder.at, in, 1))
        return false;
    decoder.block.header_size = lzma_block_header_size_decode(in[0]);
    if (decoder.block.header_size > decoder.end - decoder.at || !ReadVerified(decoder.at, in, decoder.block.header_size)
        || lzma_block_header_decode(&decoder.block, nullptr, in) != LZMA_OK)
        return false;
    decoder.at += decoder.block.header_size;
    decoder.begun = lzma_block_decoder(&decoder.stream, &decoder.block) == LZMA_OK;
    if (!decoder.begun)
        lzma_filters_free(decoder.filters, nullptr);
    return decoder.begun;
}

// Exactly length bytes of the block's content into out (none with length 0:
// then only what is left of the block's data and its check is read).
bool DecodeSome(BlockDecoder& decoder, unsigned char* out, size_t length)
{
    decoder.stream.next_out = out;
    decoder.stream.avail_out = length;
    lzma_ret status = LZMA_OK;
    while (status == LZMA_OK && !decoder.ended && (decoder.stream.avail_out > 0 || length == 0)) {
        if (decoder.stream.avail_in == 0 && decoder.at < decoder.end && !ReadInput(decoder))
            return false;
        status = lzma_code(&decoder.stream, decoder.at == decoder.end ? LZMA_FINISH : LZMA_RUN);
        decoder.ended = status == LZMA_STREAM_END;
    }
    return decoder.stream.avail_out == 0 && (status == LZMA_OK || decoder.ended);
}

// Ends block k's decoding, whatever its state: true when all of its content
// was decoded, no more, and its check matched.
bool EndBlock(BlockDecoder& decoder, int k)
{
    if (!decoder.begun)
        return false;
    bool sound = DecodeSome(decoder, nullptr, 0) && decoder.ended && decoder.at == decoder.end
        && decoder.stream.avail_in == 0 && decoder.stream.total_out == State.solid->blockSizes[k];
    lzma_end(&decoder.stream);
    lzma_filters_free(decoder.filters, nullptr);
    decoder.begun = false;
    return sound;
}

DWORD WINAPI UnpackAhead(void*)
{
    AcquireSRWLockExclusive(&State.lock);
    for (;;) {
        bool left = !State.stopping && !State.damaged && State.claimed < State.solid->blockCount;
        if (left && State.aheadBlock < 0) {
            int k = State.aheadBlock = State.claimed++;
            State.aheadDone = false;
            ReleaseSRWLockExclusive(&State.lock);
            bool sound = BeginBlock(State.worker, k) && DecodeSome(State.worker, State.ahead, State.solid->blockSizes[k]);
            sound = EndBlock(State.worker, k) && sound;
            AcquireSRWLockExclusive(&State.lock);
            State.aheadSound = sound;
            State.aheadDone = true;
            State.damaged = State.damaged || !sound;
            WakeConditionVariable(&State.unpacked);
        } else if (left) {
            SleepConditionVariableSRW(&State.freed, &State.lock, INFINITE, 0);
        } else {
            break;
        }
    }
    ReleaseSRWLockExclusive(&State.lock);
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

// The writing thread comes to block k: its own to decode, unless the worker
// has it, whose decoding it then awaits (a block begun is always finished),
// reserving the block after for itself. Whether the block can be read.
bool EnterBlock(int k)
{
    AcquireSRWLockExclusive(&State.lock);
    State.own = State.aheadBlock != k;
    if (State.own && k == State.claimed)
        ++State.claimed;
    bool sound = true;
    if (!State.own) {
        while (!State.aheadDone)
            SleepConditionVariableSRW(&State.unpacked, &State.lock, INFINITE, 0);
        sound = State.aheadSound;
        if (State.claimed == k + 1 && State.claimed < State.solid->blockCount)
            ++State.claimed;
    }
    ReleaseSRWLockExclusive(&State.lock);
    return State.own ? BeginBlock(State.writer, k) : sound;
}

// The writing thread is done with block k: its own decoding must end sound;
// the worker's buffer is free for the next block.
bool LeaveBlock(int k)
{
    if (State.own)
        return EndBlock(State.writer, k);
    AcquireSRWLockExclusive(&State.lock);
    State.aheadBlock = -1;
    WakeConditionVariable(&State.freed);
    ReleaseSRWLockExclusive(&State.lock);
    return true;
}

// Past the current slice, and past its block when that was the block's last.
bool Advance()
{
    State.offset += SliceLength(State.file, State.slice);
    ++State.slice;
    SkipEmptyFiles();
    if (State.offset < State.solid->blockSizes[State.block])
        return true;
    bool sound = LeaveBlock(State.block);
    State.offset = 0;
    return sound && (++State.block == State.solid->blockCount || EnterBlock(State.block));
}

// The current slice's content, decoded here or from the worker's buffer.
bool Produce(const unsigned char** content, size_t* length)
{
    uint32_t sliceLength = SliceLength(State.file, State.slice);
    if (State.block >= State.solid->blockCount || sliceLength > State.solid->blockSizes[State.block] - State.offset)
        return false;
    *content = State.own ? State.decoded : State.ahead + State.offset;
    *length = sliceLength;
    return !State.own || DecodeSome(State.writer, State.decoded, sliceLength);
}

void StopUnpacking();

bool StartUnpacking(const PayloadArchiveTables& archive, const unsigned char*)
{
    State = UnpackingState{};
    State.archive = &archive;
    State.solid = archive.solid;
    State.aheadBlock = -1;
    SkipEmptyFiles();
    size_t largest = 0;
    for (int k = 0; k < State.solid->blockCount; ++k)
        if (State.solid->blockSizes[k] > largest)
            largest = State.solid->blockSizes[k];
    bool ahead = UsableProcessors() > 1 && State.solid->blockCount > 1;
    State.decoded = static_cast<unsigned char*>(malloc(WorkBufferSize));
    State.writer.input = static_cast<unsigned char*>(malloc(BlockReadSize));
    State.worker.input = ahead ? static_cast<unsigned char*>(malloc(BlockReadSize)) : nullptr;
    State.ahead = ahead ? static_cast<unsigned char*>(malloc(largest)) : nullptr;
    if (!State.decoded || !State.writer.input || (ahead && (!State.worker.input || !State.ahead))) {
        StopUnpacking();
        return false;
    }
    InitializeSRWLock(&State.lock);
    InitializeConditionVariable(&State.unpacked);
    InitializeConditionVariable(&State.freed);
    // The check's table is made on its first use, unguarded: here, before the worker begins.
    volatile uint32_t madeTable = lzma_crc32(nullptr, 0, 0);
    (void)madeTable;
    // The first block is the writing thread's; the worker begins with the second.
    State.failed = State.solid->blockCount > 0 && !EnterBlock(0);
    // Without the worker the writing thread decodes every block.
    if (ahead)
        State.workerThread = CreateThread(nullptr, WorkerStackSize, UnpackAhead, nullptr,
            STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    return true;
}

bool NextUnpackedSlice(int file, int slice, const unsigned char** content, size_t* length)
{
    // The slices of files not written are decoded too, and passed over.
    bool found = !State.failed;
    while (found) {
        found = !State.given || Advance();
        State.given = true;
        if (!found || State.file > file || (State.file == file && State.slice > slice)
            || State.file >= State.archive->fileCount) {
            found = false;
            break;
        }
        found = Produce(content, length);
        if (State.file == file && State.slice == slice)
            break;
    }
    State.failed = !found;
    return found;
}

void StopUnpacking()
{
    if (State.workerThread) {
        AcquireSRWLockExclusive(&State.lock);
        State.stopping = true;
        WakeConditionVariable(&State.freed);
        ReleaseSRWLockExclusive(&State.lock);
        WaitForSingleObject(State.workerThread, INFINITE);
        CloseHandle(State.workerThread);
    }
    if (State.writer.begun)
        EndBlock(State.writer, State.block); // result deliberately ignored: the run stops here
    free(State.decoded);
    free(State.writer.input);
    free(State.worker.input);
    free(State.ahead);
    State = UnpackingState{};
}

} // namespace

const PayloadUnpacker BlockUnpacker = {StartUnpacking, NextUnpackedSlice, StopUnpacking, false};
