// The payload's bytes, read from the files that carry them: the setup
// program's own file after its image, then its companions beside it, as the
// archive's parts name them. They are read a piece at a time at 64-bit
// offsets, never mapped whole, and each file is held open against writing
// until the process ends (one deleted or renamed meanwhile is still read
// through its handle). The extraction does not rely on that: it checks each
// span of the payload as it reads it (see BeginVerifiedReading). One payload
// per process.
#pragma once
#include "archive.h"
#include "payload.h"
#include <bcrypt.h>

// Opens the parts of the payload of a program (null: the running one),
// which follows its image and the image's trailer, and checks at once that
// each file is there with its size, and the image's SHA-256 against its
// trailer. PayloadWhole, PayloadDamaged with the file named by
// DamagedPayloadFile and the reason logged, or PayloadUncheckable (logged).
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

// The extraction's reading of the payload, shared by its threads: each span
// (see spans.h) is read whole and its SHA-256 compared with the one the
// program's tables carry before any of its bytes is given, and the bytes
// given are those checked, from memory. With readsAhead, the span after
// the one read is read and checked too when a slot is free. False without
// the memory.
bool BeginVerifiedReading(bool readsAhead);
// Reads length bytes of the payload from offset on, each of them checked;
// false when a span they lie in (or any span, once one was) differs from
// what the setup was made with or cannot be read: the part is then named
// by DamagedPayloadFile and the reason logged.
bool ReadVerified(uint64_t offset, void* buffer, size_t length);
// Reads and checks every span no read has checked yet: false as ReadVerified.
bool VerifyUnreadSpans();
// Frees what the reading took: true when no span read was found damaged.
bool EndVerifiedReading();

// For tests: how the parts are shared while they are open (to change one
// after its check), and the one call that has the system's SHA-256.
extern DWORD PayloadPartSharing;
extern NTSTATUS(WINAPI* OpenSha256Provider)(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG);
