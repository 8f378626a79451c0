// The payload's bytes, read from the files that carry them: the setup
// program's own file after its image, then its companions beside it, as the
// archive's parts name them. They are read a piece at a time at 64-bit
// offsets, never mapped whole, and each file is held open against writing
// until the process ends (one deleted or renamed meanwhile is still read
// through its handle), so that what was checked is what is extracted. One
// payload per process.
#pragma once
#include "archive.h"
#include "payload.h"

// Opens the parts of the payload of a program (null: the running one),
// which follows its image and the image's trailer, and checks at once that
// each file is there with its size, and the image's SHA-256 against its
// trailer. PayloadWhole, or PayloadDamaged with the file named by
// DamagedPayloadFile and the reason logged.
int OpenProgramPayload(const PayloadArchiveTables& archive, const wchar_t* program = nullptr);
// The same for a payload whose first part begins at offset in the file
// first, which must hold firstFileSize bytes; its companions lie beside it.
int OpenPayload(const PayloadArchiveTables& archive, const wchar_t* first, uint64_t offset, uint64_t firstFileSize);

// Reads length bytes of the opened payload from offset on; false when they
// cannot be read whole.
bool ReadPayload(uint64_t offset, void* buffer, size_t length);

// Checks every opened part's SHA-256 on a thread of its own, reading at the
// disk's speed (here and now when no thread can be had); AwaitPayloadCheck
// waits for it.
void StartPayloadCheck();
