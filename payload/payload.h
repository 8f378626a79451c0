// The product's files compiled into the program, and their extraction.
#pragma once
#include <stdint.h>
#include <windows.h>
#include "progress.h"

enum ExtractResult {
    ExtractCannotCreate = 1,
    ExtractWriteFailed = 2,
    ExtractOutOfMemory = 3,
    ExtractDone = 4,
};

// Writes every payload file below the current directory (or into the system
// directory) and reports each file to the sink, which may be null.
int ExtractPayload(HWND dialog, ProgressSink sink);
// Deletes every payload name found below the current directory: 4 when all
// were handled, 0 when a deletion failed.
int RemoveExtractedFiles(HWND dialog, ProgressSink sink);
// Whether every payload file's path below the folder, and every folder made
// for one, fits what the file functions take.
bool PayloadFitsFolder(const char* folder);
