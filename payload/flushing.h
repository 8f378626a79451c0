// The staged files' data made durable while later files are written: each
// file handed over is flushed and closed on a thread of the process's pool,
// where the disk's writing overlaps the inflating and writing of the next
// files instead of following them. One run at a time.
#pragma once
#include <windows.h>

// False when the run's flushing could not begin (nothing to finish then).
bool StartFlushing();
// Hands over a file written in full: it is flushed and closed, here when no
// thread could be asked to.
void FlushAndClose(HANDLE file);
// Waits for every file handed over: true when each was flushed and closed.
bool FinishFlushing();
