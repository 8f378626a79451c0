// The slices a run writes, inflated ahead of their writing. Where the process
// may run on more than one processor, a second thread inflates the next
// slices while the calling thread writes; when the slice the calling thread
// needs is not ready, it inflates the next one itself instead of waiting. On
// one processor the calling thread inflates each slice as it is asked for.
// One run at a time.
#pragma once
#include <stddef.h>
#include "archive.h"

// How many inflated slices may wait for their writing. The memory inflating
// takes is this many work buffers (512,000 bytes), whatever the payload; on
// one processor, one.
constexpr int InflatedSliceRing = 16;

// Begins inflating, in archive order, every slice of each file i whose
// toWrite[i] is not 0. The archive and toWrite stay unchanged until
// StopInflating. False when the memory could not be had (nothing to stop then).
bool StartInflating(const PayloadArchiveTables& archive, const unsigned char* toWrite);
// Slice `slice` of file `file`, which must be the next in that order: its
// inflated bytes, valid until the next call or StopInflating. False when that
// slice is damaged or does not fit a work buffer, and when it is not the next
// one: nothing of it is given, and every later call is false too.
bool NextSlice(int file, int slice, const unsigned char** content, size_t* length);
// Ends the inflating, once the worker has finished the slice it is at, and
// frees all it took.
void StopInflating();
