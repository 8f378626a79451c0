// The archive: parallel constant tables, one entry per file, in
// installation order. Each slice is one complete zlib stream of at most
// SliceSize bytes of content, or, in a solid archive, SliceSize bytes of the
// content of its blocks. The packer writes them into the program, which reads
// PayloadArchive from them in place as it starts (product_data.h). The slices'
// (or blocks') bytes are the payload, which lies outside the program's image,
// in the parts the tables name (see source.h).
#pragma once
#include <stdint.h>
#include <windows.h>
#include "progress.h"
#include "spans.h"

struct libdeflate_decompressor;

constexpr int SliceSize = 30000;
constexpr int WorkBufferSize = 32000;

struct PayloadArchiveTables;

// How a run has the content of the files it writes: slice after slice, in
// archive order, unpacked ahead of their writing. An archive names its own,
// so that a setup links only the decoder its payload needs.
struct PayloadUnpacker {
    // Begins unpacking every slice of each file i whose toWrite[i] is not 0.
    // The archive and toWrite stay unchanged until stop. False when the
    // memory or the threads could not be had (nothing to stop then).
    bool (*start)(const PayloadArchiveTables& archive, const unsigned char* toWrite);
    // Slice `slice` of file `file`, which must be the next of those: its
    // bytes, valid until the next call or stop. False when that slice is
    // damaged, or its block is, and when it is not the next one: nothing of
    // it is given, and every later call is false too.
    bool (*next)(int file, int slice, const unsigned char** content, size_t* length);
    // Ends the unpacking and frees all it took.
    void (*stop)();
    // Its threads read the same spans of the payload one after another: each
    // span is read and checked ahead of the first that needs it.
    bool readsAhead;
};
// Each slice a zlib stream of its own (inflating.cpp).
extern const PayloadUnpacker SliceInflater;
// The slices' content in the blocks of one xz stream (unpacking.cpp).
extern const PayloadUnpacker BlockUnpacker;

// A solid payload: every file's content, one after another in archive order,
// in the blocks of one xz stream (LZMA2 behind the x86 branch filter, each
// block with its CRC32), each block a whole number of slices.
struct SolidBlocks {
    int32_t blockCount;
    const uint64_t* blockOffsets; // where each block begins in the payload: its header, then its data and check
    const uint32_t* blockLengths;
    const uint32_t* blockSizes;     // the content each holds
    const uint32_t* lastSliceSizes; // per file: the content of its last slice
};

// The files the payload's bytes lie in, one after another: the part after the
// program's image in its own file, then each companion's (beside it, named
// after the product: Pelmora-1.bin, Pelmora-2.bin ...), each with its size
// and SHA-256.
struct PayloadParts {
    int32_t count;
    const uint64_t* sizes;
    const unsigned char (*digests)[32];
    const char* companionName; // UTF-8: companion n is companionName-n.bin
};

// The SHA-256 of each span of the payload (see spans.h), which the
// extraction checks before it uses a byte of the span.
struct PayloadSpans {
    int32_t count;
    const unsigned char (*digests)[32];
};

struct PayloadArchiveTables {
    int32_t fileCount;
    const char* const* fileNames;
    const int32_t* sliceCounts;
    // Where each file's first slice begins in the payload, the others
    // following it; null for a solid archive.
    const uint64_t* fileOffsets;
    const uint32_t* const* sliceLengths;
    const int32_t* fileTimes;
    const PayloadUnpacker* unpacker;
    const SolidBlocks* solid; // null but for BlockUnpacker
    PayloadParts parts;
    PayloadSpans spans;
};

// Read-only once read.
extern const PayloadArchiveTables& PayloadArchive;

// ExtractPayload on any archive.
int ExtractArchive(const PayloadArchiveTables& archive, HWND dialog, ProgressSink sink);

// Creates every missing folder on a file's path, outermost first.
bool CreateParentFolders(const char* path);
// One zlib stream of exactly sliceLength bytes into the buffer, with
// libdeflate's decompressor; length holds the capacity on entry and the
// inflated size on return. False when the stream is damaged, does not fit
// the buffer, or ends before sliceLength.
bool InflateSlice(libdeflate_decompressor* inflater, unsigned char* buffer, size_t* length, const unsigned char* slice,
    size_t sliceLength);
// Seconds since 1970 UTC to the system's file time, and back.
FILETIME FileTimeFromUnix(int64_t seconds);
int64_t UnixFromFileTime(const FILETIME& time);
