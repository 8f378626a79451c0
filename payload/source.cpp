#include "source.h"
#include "language.h"
#include "image_trailer.h"
#include "run.h"
#include "text.h"
#include <bcrypt.h>
#include <stdlib.h>
#include <string.h>

DWORD PayloadPartSharing = FILE_SHARE_READ | FILE_SHARE_DELETE;
NTSTATUS(WINAPI* OpenSha256Provider)(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG) = BCryptOpenAlgorithmProvider;

namespace {

constexpr DWORD DigestSize = 32;
// Opened with the payload, and shared by the threads that read it: each hash is their own.
BCRYPT_ALG_HANDLE Sha256Provider;
// The check reads the payload this much at a time.
constexpr DWORD CheckReadSize = 256 * 1024;
// The checking thread keeps its buffer on the heap: a small stack is enough.
constexpr SIZE_T CheckerStackSize = 64 * 1024;
constexpr int PathCharacters = 1024;
const char CompanionFormat[] = "%s-%d.bin";
// Stands for the damaged file's name where the name does not fit its buffer.
constexpr EnglishText NameTooLongText = N_("(a name too long to show)");
// A program's headers, its sections' table among them, lie in this much of its start.
constexpr DWORD HeadersReadSize = 4096;
const char DigestDiffers[] = "is not what this setup program was made with: its SHA-256 differs";
// The extraction holds this many spans at a time: one for each of its two
// readers, and one more, which the reader ahead reads the next span into
// while the other finishes the one before.
constexpr int SpanSlots = 3;

struct OpenPart {
    HANDLE file;
    uint64_t start; // where the part begins in its file
    uint64_t size;
    uint64_t end;   // where the part ends in the payload
    int64_t firstSpan; // its spans follow those of the parts before it
    WCHAR path[PathCharacters];
};

struct PayloadState {
    const PayloadArchiveTables* archive;
    OpenPart* parts;
    int count;
    uint64_t total;
    int64_t spans; // every part's
    HANDLE checker;
    volatile LONG result;
    volatile LONG percent;
    int damagedPart;
    char damaged[PathBufferSize]; // empty when the name does not fit
};

PayloadState State;

// A span of the payload as the extraction holds it, read and checked.
struct SpanSlot {
    unsigned char* bytes; // PayloadSpanSize
    int64_t span;         // -1: none
    int pins;             // readers copying from it
    bool loading;         // being read and checked, by the reader that claimed it
    uint64_t used;        // when a reader last took it: the oldest free one is read over
};

// The extraction's reading, shared by its threads: under the lock.
struct VerifyingState {
    SRWLOCK lock;
    CONDITION_VARIABLE loaded; // readers wait here for a span being read, or for a free slot
    SpanSlot slots[SpanSlots];
    unsigned char* verified; // per span: 1 once its bytes were checked
    bool readsAhead;
    bool failed;
    uint64_t clock;
};

VerifyingState Verifying;

// Names the part as the damaged one, in the process's code page, and logs why
// (in English, as the whole log).
int Damaged(int part, const char* reason)
{
    State.damagedPart = part;
    if (!WideCharToMultiByte(CP_ACP, 0, State.parts[part].path, -1, State.damaged, sizeof State.damaged, nullptr,
            nullptr))
        State.damaged[0] = '\0';
    LogLine("Failed: %s %s", State.damaged[0] ? State.damaged : NameTooLongText.text, reason);
    return PayloadDamaged;
}

// Companion n's path: the first part's folder and the companion's name,
// after the name the product gives its companions (UTF-8, whatever the
// process's code page).
bool CompanionPath(const WCHAR* first, const char* base, int n, WCHAR* path)
{
    char name[PathBufferSize];
    int folder = 0;
    for (int k = 0; first[k]; ++k)
        if (first[k] == L'\\' || first[k] == L'/')
            folder = k + 1;
    if (!FormatText(name, sizeof name, CompanionFormat, base, n))
        return false;
    for (int k = 0; k < folder; ++k)
        path[k] = first[k];
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, path + folder, PathCharacters - folder) > 0;
}

bool ReadAt(HANDLE file, uint64_t at, void* buffer, DWORD length)
{
    OVERLAPPED place = {};
    place.Offset = DWORD(at);
    place.OffsetHigh = DWORD(at >> 32);
    DWORD read = 0;
    return ReadFile(file, buffer, length, &read, &place) && read == length;
}

// Bytes that a digest takes as zeros, wherever they lie in the file.
struct Blank {
    uint64_t at;
    DWORD length;
};

// A SHA-256 to add bytes to; null when the provider made none.
BCRYPT_HASH_HANDLE NewHash()
{
    BCRYPT_HASH_HANDLE hash = nullptr;
    return BCRYPT_SUCCESS(BCryptCreateHash(Sha256Provider, &hash, nullptr, 0, nullptr, 0, 0)) ? hash : nullptr;
}

// Whether every byte meant for the hash was added to it (whole) and their
// SHA-256 is the digest; the hash is gone.
bool FinishedAs(BCRYPT_HASH_HANDLE hash, bool whole, const unsigned char* digest)
{
    unsigned char computed[DigestSize];
    bool same = whole && BCRYPT_SUCCESS(BCryptFinishHash(hash, computed, sizeof computed, 0))
        && memcmp(computed, digest, DigestSize) == 0;
    BCryptDestroyHash(hash); // result deliberately ignored: the hash is not used again
    return same;
}

// Whether size bytes of the file from start on, the blanks taken as zeros,
// have the SHA-256 digest, read room bytes at a time into buffer. With
// checked, adds what it reads to it and to the percentage of the whole.
bool HasDigest(HANDLE file, uint64_t start, uint64_t size, const unsigned char* digest, const Blank* blanks,
    int blankCount, unsigned char* buffer, DWORD room, uint64_t* checked)
{
    BCRYPT_HASH_HANDLE hash = NewHash();
    if (!hash)
        return false;
    bool read = true;
    for (uint64_t done = 0; read && done < size;) {
        DWORD piece = size - done < room ? DWORD(size - done) : room;
        uint64_t at = start + done;
        read = ReadAt(file, at, buffer, piece);
        for (int k = 0; k < blankCount; ++k)
            for (uint64_t b = blanks[k].at; b < blanks[k].at + blanks[k].length; ++b)
                if (b >= at && b < at + piece)
                    buffer[b - at] = 0;
        read = read && BCRYPT_SUCCESS(BCryptHashData(hash, buffer, piece, 0));
        done += piece;
        if (checked) {
            *checked += piece;
            InterlockedExchange(&State.percent, LONG(*checked * 100 / (State.total ? State.total : 1)));
        }
    }
    return FinishedAs(hash, read, digest);
}

DWORD WINAPI CheckParts(void*)
{
    unsigned char* buffer = static_cast<unsigned char*>(malloc(CheckReadSize));
    LONG result = buffer ? PayloadWhole : PayloadDamaged;
    if (!buffer)
        LogLine("Failed: the setup program could not be checked: not enough memory");
    uint64_t checked = 0;
    for (int part = 0; buffer && part < State.count; ++part)
        if (!HasDigest(State.parts[part].file, State.parts[part].start, State.parts[part].size,
                State.archive->parts.digests[part], nullptr, 0, buffer, CheckReadSize, &checked)) {
            result = Damaged(part, DigestDiffers);
            break;
        }
    free(buffer);
    InterlockedExchange(&State.result, result);
    return 0;
}

// Lets go of an earlier payload's files.
void ClosePayload()
{
    for (int part = 0; part < State.count; ++part)
        if (State.parts[part].file != INVALID_HANDLE_VALUE)
            CloseHandle(State.parts[part].file);
    free(State.parts);
    State = PayloadState{};
    if (Sha256Provider)
        BCryptCloseAlgorithmProvider(Sha256Provider, 0); // result deliberately ignored: it is not used again
    Sha256Provider = nullptr;
}

} // namespace

int OpenPayload(const PayloadArchiveTables& archive, const wchar_t* first, uint64_t offset, uint64_t firstFileSize)
{
    ClosePayload();
    State.archive = &archive;
    State.result = PayloadChecking;
    NTSTATUS opened = OpenSha256Provider(&Sha256Provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (!BCRYPT_SUCCESS(opened)) {
        Sha256Provider = nullptr;
        char status[11] = "0x";
        for (int k = 0; k < 8; ++k)
            status[2 + k] = "0123456789ABCDEF"[(unsigned(opened) >> (28 - 4 * k)) & 0xF];
        status[10] = '\0';
        LogLine("Failed: the setup program cannot be checked: the system's SHA-256 provider could not be had (status %s)",
            status);
        return PayloadUncheckable;
    }
    State.parts = static_cast<OpenPart*>(calloc(size_t(archive.parts.count), sizeof(OpenPart)));
    if (!State.parts)
        return PayloadDamaged;
    State.count = archive.parts.count;
    for (int part = 0; part < State.count; ++part)
        State.parts[part].file = INVALID_HANDLE_VALUE;
    for (int part = 0; part < State.count; ++part) {
        OpenPart& open = State.parts[part];
        open.start = part == 0 ? offset : 0;
        open.size = archive.parts.sizes[part];
        State.total += open.size;
        open.end = State.total;
        open.firstSpan = State.spans;
        State.spans += int64_t((open.size + PayloadSpanSize - 1) / PayloadSpanSize);
        uint64_t expected = part == 0 ? firstFileSize : open.size;
        if (part == 0) {
            int k = 0;
            for (; first[k] && k + 1 < PathCharacters; ++k)
                open.path[k] = first[k];
            open.path[k] = L'\0';
        } else if (!CompanionPath(first, archive.parts.companionName, part, open.path)) {
            return Damaged(part, "has a path too long to be opened");
        }
        // No one may change it until the process ends; reading it, as the system's loader does, is fine.
        open.file = CreateFileW(open.path, GENERIC_READ, PayloadPartSharing, nullptr, OPEN_EXISTING,
            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        LARGE_INTEGER size = {};
        if (open.file == INVALID_HANDLE_VALUE)
            return Damaged(part, "is missing, or cannot be read");
        if (!GetFileSizeEx(open.file, &size) || uint64_t(size.QuadPart) != expected)
            return Damaged(part, "is not as large as this setup program was made with: it is incomplete");
    }
    return PayloadWhole;
}

int OpenProgramPayload(const PayloadArchiveTables& archive, const wchar_t* program)
{
    WCHAR own[PathCharacters];
    DWORD length = program ? 1 : GetModuleFileNameW(nullptr, own, PathCharacters);
    if (length == 0 || length >= PathCharacters)
        return PayloadDamaged;
    const wchar_t* path = program ? program : own;
    // The payload follows the last section of the image, as the program's
    // headers in its file place them; a signature, when there is one,
    // follows the payload, after at most 7 bytes that align it.
    union {
        IMAGE_DOS_HEADER dos;
        unsigned char bytes[HeadersReadSize];
    } headers = {};
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD read = 0;
    bool readable = file != INVALID_HANDLE_VALUE && ReadFile(file, headers.bytes, sizeof headers.bytes, &read, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    uint64_t imageEnd = 0;
    uint64_t fileSize = 0;
    Blank signingWrites[2] = {};
    LONG at = headers.dos.e_lfanew;
    if (readable && headers.dos.e_magic == IMAGE_DOS_SIGNATURE && at > 0
        && DWORD(at) + sizeof(IMAGE_NT_HEADERS) <= read) {
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(headers.bytes + at);
        const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
        bool whole = nt->Signature == IMAGE_NT_SIGNATURE && nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR_MAGIC
            && reinterpret_cast<const unsigned char*>(section + nt->FileHeader.NumberOfSections) <= headers.bytes + read;
        for (int k = 0; whole && k < nt->FileHeader.NumberOfSections; ++k)
            if (section[k].SizeOfRawData && uint64_t(section[k].PointerToRawData) + section[k].SizeOfRawData > imageEnd)
                imageEnd = uint64_t(section[k].PointerToRawData) + section[k].SizeOfRawData;
        uint64_t payloadEnd = imageEnd + ImageTrailerSize + archive.parts.sizes[0];
        const IMAGE_DATA_DIRECTORY& signature = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY];
        fileSize = payloadEnd;
        if (signature.Size)
            fileSize = signature.VirtualAddress >= payloadEnd && signature.VirtualAddress - payloadEnd < 8
                ? uint64_t(signature.VirtualAddress) + signature.Size
                : 0;
        fileSize = whole ? fileSize : 0;
        signingWrites[0] = {uint64_t(at) + offsetof(IMAGE_NT_HEADERS, OptionalHeader.CheckSum), sizeof(DWORD)};
        signingWrites[1] = {uint64_t(at)
                + offsetof(IMAGE_NT_HEADERS, OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY]),
            sizeof(IMAGE_DATA_DIRECTORY)};
    }
    // A file that is no program of this kind is as damaged as one of another size.
    int opened = OpenPayload(archive, path, imageEnd + ImageTrailerSize, fileSize);
    if (opened != PayloadWhole)
        return opened;
    // The image (code, tables, resources), read through the handle held
    // since, against the digest its trailer carries; a trailer that is not
    // there or not whole is as damaged as the image.
    HANDLE self = State.parts[0].file;
    unsigned char trailer[ImageTrailerSize];
    bool tagged = ReadAt(self, imageEnd, trailer, sizeof trailer);
    for (unsigned k = 0; tagged && k < ImageTagSize; ++k)
        tagged = trailer[k] == static_cast<unsigned char>(ImageTrailerTag[k]);
    bool same = tagged
        && HasDigest(self, 0, imageEnd, trailer + ImageTagSize, signingWrites, 2, headers.bytes, sizeof headers.bytes,
            nullptr);
    return same ? PayloadWhole : Damaged(0, DigestDiffers);
}

const char* DamagedPayloadFile()
{
    return State.damaged[0] ? State.damaged : Translate(NameTooLongText);
}

bool ReadPayload(uint64_t offset, void* buffer, size_t length)
{
    auto* at = static_cast<unsigned char*>(buffer);
    for (int part = 0; length > 0 && part < State.count; ++part) {
        const OpenPart& open = State.parts[part];
        if (offset >= open.end)
            continue;
        uint64_t inPart = offset - (open.end - open.size);
        DWORD piece = DWORD(open.end - offset < length ? open.end - offset : length);
        if (!ReadAt(open.file, open.start + inPart, at, piece))
            return false;
        at += piece;
        offset += piece;
        length -= piece;
    }
    return length == 0;
}

void StartPayloadCheck()
{
    State.checker = CreateThread(nullptr, CheckerStackSize, CheckParts, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION,
        nullptr);
    // Without a thread of its own the check is made at once.
    if (!State.checker)
        CheckParts(nullptr);
}

int AwaitPayloadCheck(DWORD milliseconds)
{
    if (State.checker && WaitForSingleObject(State.checker, milliseconds) == WAIT_OBJECT_0) {
        CloseHandle(State.checker);
        State.checker = nullptr;
    }
    return State.checker ? PayloadChecking : int(State.result);
}

int PayloadCheckPercent()
{
    return int(State.percent);
}

namespace {

// The part that holds the payload's byte at offset.
int PartAt(uint64_t offset)
{
    int part = 0;
    while (part + 1 < State.count && offset >= State.parts[part].end)
        ++part;
    return part;
}

// The part a span lies in: each part's spans begin at its first byte.
int PartOfSpan(int64_t span)
{
    int part = 0;
    while (part + 1 < State.count && span >= State.parts[part + 1].firstSpan)
        ++part;
    return part;
}

uint64_t SpanStart(int64_t span)
{
    const OpenPart& open = State.parts[PartOfSpan(span)];
    return open.end - open.size + uint64_t(span - open.firstSpan) * PayloadSpanSize;
}

size_t SpanLength(int64_t span)
{
    uint64_t left = State.parts[PartOfSpan(span)].end - SpanStart(span);
    return left < PayloadSpanSize ? size_t(left) : PayloadSpanSize;
}

// The span that holds the payload's byte at offset.
int64_t SpanAt(uint64_t offset)
{
    const OpenPart& open = State.parts[PartAt(offset)];
    return open.firstSpan + int64_t((offset - (open.end - open.size)) / PayloadSpanSize);
}

// Reads the span into a slot that no reader holds or reads, and checks it
// against its digest; when it differs or cannot be read, every reader fails
// from then on, the part named and the reason logged. Called with the lock
// held, which is let go meanwhile: the slot is the caller's.
void LoadSpan(SpanSlot& slot, int64_t span)
{
    slot.span = span;
    slot.loading = true;
    slot.used = ++Verifying.clock;
    ReleaseSRWLockExclusive(&Verifying.lock);
    size_t length = SpanLength(span);
    bool read = ReadPayload(SpanStart(span), slot.bytes, length);
    BCRYPT_HASH_HANDLE hash = read && span < State.archive->spans.count ? NewHash() : nullptr;
    bool sound = hash
        && FinishedAs(hash, BCRYPT_SUCCESS(BCryptHashData(hash, slot.bytes, ULONG(length), 0)),
            State.archive->spans.digests[span]);
    AcquireSRWLockExclusive(&Verifying.lock);
    slot.loading = false;
    if (sound) {
        Verifying.verified[span] = 1;
    } else {
        // The first reader to find it names it; the others stop.
        if (!Verifying.failed) {
            char reason[160];
            FormatText(reason, sizeof reason,
                read ? "is not what this setup program was made with: the SHA-256 of the payload's span %d differs"
                     : "cannot be read: the payload's span %d",
                int(span)); // result deliberately ignored: the reason fits its buffer
            Damaged(PartOfSpan(span), reason);
        }
        Verifying.failed = true;
        slot.span = -1;
    }
    WakeAllConditionVariable(&Verifying.loaded);
}

// The slot that no reader holds or reads, taken longest ago; null when every one is.
SpanSlot* OldestFreeSlot()
{
    SpanSlot* oldest = nullptr;
    for (SpanSlot& slot : Verifying.slots)
        if (slot.pins == 0 && !slot.loading && (!oldest || slot.used < oldest->used))
            oldest = &slot;
    return oldest;
}

// The slot of the span, held against reading over until UnpinSpan, read
// and checked first when no slot holds it; null once a span was found
// damaged. With the lock held.
SpanSlot* PinSpan(int64_t span)
{
    for (;;) {
        if (Verifying.failed)
            return nullptr;
        SpanSlot* found = nullptr;
        for (SpanSlot& slot : Verifying.slots)
            if (slot.span == span)
                found = &slot;
        if (found && !found->loading) {
            ++found->pins;
            found->used = ++Verifying.clock;
            return found;
        }
        SpanSlot* oldest = found ? nullptr : OldestFreeSlot();
        if (!oldest) {
            SleepConditionVariableSRW(&Verifying.loaded, &Verifying.lock, INFINITE, 0);
            continue;
        }
        LoadSpan(*oldest, span);
    }
}

// Reads and checks the span, unless a slot holds it or is reading it, or
// none is free. With the lock held.
void ReadSpanAhead(int64_t span)
{
    for (SpanSlot& slot : Verifying.slots)
        if (slot.span == span)
            return;
    SpanSlot* oldest = OldestFreeSlot();
    if (!oldest || Verifying.failed)
        return;
    LoadSpan(*oldest, span);
}

} // namespace

bool BeginVerifiedReading(bool readsAhead)
{
    EndVerifiedReading(); // result deliberately ignored: an earlier reading's end
    InitializeSRWLock(&Verifying.lock);
    InitializeConditionVariable(&Verifying.loaded);
    Verifying.readsAhead = readsAhead;
    Verifying.verified = static_cast<unsigned char*>(calloc(size_t(State.spans) + 1, 1));
    bool made = Verifying.verified != nullptr;
    for (SpanSlot& slot : Verifying.slots) {
        slot.span = -1;
        slot.bytes = made ? static_cast<unsigned char*>(malloc(PayloadSpanSize)) : nullptr;
        made = made && slot.bytes;
    }
    if (!made)
        EndVerifiedReading();
    return made;
}

bool ReadVerified(uint64_t offset, void* buffer, size_t length)
{
    auto* at = static_cast<unsigned char*>(buffer);
    if (offset > State.total || length > State.total - offset)
        return false;
    AcquireSRWLockExclusive(&Verifying.lock);
    while (length > 0) {
        int64_t span = SpanAt(offset);
        size_t within = size_t(offset - SpanStart(span));
        SpanSlot* slot = PinSpan(span);
        if (!slot)
            break;
        if (Verifying.readsAhead && span + 1 < State.spans)
            ReadSpanAhead(span + 1);
        ReleaseSRWLockExclusive(&Verifying.lock);
        size_t piece = SpanLength(span) - within < length ? SpanLength(span) - within : length;
        memcpy(at, slot->bytes + within, piece);
        at += piece;
        offset += piece;
        length -= piece;
        AcquireSRWLockExclusive(&Verifying.lock);
        --slot->pins;
        WakeAllConditionVariable(&Verifying.loaded);
    }
    ReleaseSRWLockExclusive(&Verifying.lock);
    return length == 0;
}

bool VerifyUnreadSpans()
{
    AcquireSRWLockExclusive(&Verifying.lock);
    for (int64_t span = 0; !Verifying.failed && span < State.spans; ++span)
        if (!Verifying.verified[span])
            LoadSpan(Verifying.slots[0], span);
    bool sound = !Verifying.failed;
    ReleaseSRWLockExclusive(&Verifying.lock);
    return sound;
}

bool EndVerifiedReading()
{
    bool sound = !Verifying.failed;
    for (SpanSlot& slot : Verifying.slots)
        free(slot.bytes);
    free(Verifying.verified);
    Verifying = VerifyingState{};
    return sound;
}
