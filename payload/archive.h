// The compiled-in archive: parallel constant tables, one entry per file, in
// installation order. Each slice is one complete zlib stream of at most
// SliceSize bytes of content. The packer generates PayloadArchive.
#pragma once
#include <stdint.h>
#include <windows.h>
#include "progress.h"

struct libdeflate_decompressor;

constexpr int SliceSize = 30000;
constexpr int WorkBufferSize = 32000;

struct PayloadArchiveTables {
    int32_t fileCount;
    const char* const* fileNames;
    const int32_t* sliceCounts;
    const unsigned char* const* const* sliceData;
    const uint32_t* const* sliceLengths;
    const int32_t* fileTimes;
};

extern const PayloadArchiveTables PayloadArchive;

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
