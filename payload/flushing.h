// The staged files' data made durable while later files are written: each
// file handed over is flushed and closed on a thread of its own, in order,
// where the disk's writing overlaps the inflating and writing of the next
// files instead of following them. One run at a time.
#pragma once
#include <windows.h>

// Begins the run's flushing; without its thread each file is flushed as it
// is handed over.
void StartFlushing();
// Hands over a file written in full, to be flushed and closed.
void FlushAndClose(HANDLE file);
// Waits for every file handed over: true when each was flushed and closed.
bool FinishFlushing();
