// SliceInflater: the slices a run writes, inflated ahead of their writing. Where the process
// may run on more than one processor, a second thread inflates the next
// slices while the calling thread writes; when the slice the calling thread
// needs is not ready, it inflates the next one itself instead of waiting. On
// one processor the calling thread inflates each slice as it is asked for.
// One run at a time.
#pragma once
#include <stddef.h>
#include "archive.h"

// How many inflated slices may wait for their writing. The memory inflating
// takes is this many work buffers (512,000 bytes) and each thread's buffer
// for a slice's compressed bytes, whatever the payload; on one processor, one
// work buffer and one input buffer.
constexpr int InflatedSliceRing = 16;

// How many processors the process may run on: 1 at least.
int UsableProcessors();
