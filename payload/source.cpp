#include "source.h"
#include "language.h"
#include "image_trailer.h"
#include "run.h"
#include "text.h"
#include <stdlib.h>
#include <wincrypt.h>

namespace {

constexpr DWORD DigestSize = 32;
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

struct OpenPart {
    HANDLE file;
    uint64_t start; // where the part begins in its file
    uint64_t size;
    uint64_t end;   // where the part ends in the payload
    WCHAR path[PathCharacters];
};

struct PayloadState {
    const PayloadArchiveTables* archive;
    OpenPart* parts;
    int count;
    uint64_t total;
    HANDLE checker;
    volatile LONG result;
    volatile LONG percent;
    int damagedPart;
    char damaged[PathBufferSize]; // empty when the name does not fit
};

PayloadState State;

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

// Whether size bytes of the file from start on, the blanks taken as zeros,
// have the SHA-256 digest, read room bytes at a time into buffer. With
// checked, adds what it reads to it and to the percentage of the whole.
bool HasDigest(HANDLE file, uint64_t start, uint64_t size, const unsigned char* digest, const Blank* blanks,
    int blankCount, HCRYPTPROV provider, unsigned char* buffer, DWORD room, uint64_t* checked)
{
    HCRYPTHASH hash = 0;
    if (!CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash))
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
        read = read && CryptHashData(hash, buffer, piece, 0);
        done += piece;
        if (checked) {
            *checked += piece;
            InterlockedExchange(&State.percent, LONG(*checked * 100 / (State.total ? State.total : 1)));
        }
    }
    BYTE computed[DigestSize];
    DWORD length = sizeof computed;
    bool same = read && CryptGetHashParam(hash, HP_HASHVAL, computed, &length, 0) && length == DigestSize;
    CryptDestroyHash(hash);
    for (DWORD b = 0; same && b < DigestSize; ++b)
        same = computed[b] == digest[b];
    return same;
}

DWORD WINAPI CheckParts(void*)
{
    HCRYPTPROV provider = 0;
    unsigned char* buffer = static_cast<unsigned char*>(malloc(CheckReadSize));
    bool ready = buffer && CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT);
    LONG result = ready ? PayloadWhole : PayloadDamaged;
    if (!ready)
        LogLine("Failed: the setup program could not be checked (error %d)", int(GetLastError()));
    uint64_t checked = 0;
    for (int part = 0; ready && part < State.count; ++part)
        if (!HasDigest(State.parts[part].file, State.parts[part].start, State.parts[part].size,
                State.archive->parts.digests[part], nullptr, 0, provider, buffer, CheckReadSize, &checked)) {
            result = Damaged(part, DigestDiffers);
            break;
        }
    if (provider)
        CryptReleaseContext(provider, 0);
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
}

} // namespace

int OpenPayload(const PayloadArchiveTables& archive, const wchar_t* first, uint64_t offset, uint64_t firstFileSize)
{
    ClosePayload();
    State.archive = &archive;
    State.result = PayloadChecking;
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
        open.file = CreateFileW(open.path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
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
    HCRYPTPROV provider = 0;
    bool same = tagged && CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)
        && HasDigest(self, 0, imageEnd, trailer + ImageTagSize, signingWrites, 2, provider, headers.bytes,
            sizeof headers.bytes, nullptr);
    if (provider)
        CryptReleaseContext(provider, 0);
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
