#include "archive.h"
#include "file_system.h"
#include "globals.h"
#include "journal.h"
#include "names.h"
#include "payload.h"
#include "text.h"
#include <stdlib.h>
#include <zlib.h>

namespace {

constexpr int64_t UnixEpochInFileTimeSeconds = 11644473600LL;
constexpr int64_t FileTimeTicksPerSecond = 10000000LL;

// A system file already there with a later time than ours is left alone.
bool NewerFileExists(const char* path, int32_t storedTime)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return false;
    return UnixFromFileTime(data.ftLastWriteTime) > storedTime;
}

void SetStoredTime(const char* path, int32_t storedTime)
{
    HANDLE file = CreateFileA(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return; // a file whose times cannot be set keeps those of writing
    FILETIME time = FileTimeFromUnix(storedTime);
    SetFileTime(file, nullptr, &time, &time);
    CloseHandle(file);
}

// Inflates every slice of file i into the open file, one write per slice.
int WriteSlices(const PayloadArchiveTables& archive, int i, HANDLE file, unsigned char* buffer)
{
    for (int j = 0; j < archive.sliceCounts[i]; ++j) {
        unsigned long length = WorkBufferSize;
        int status = InflateSlice(buffer, &length, archive.sliceData[i][j], archive.sliceLengths[i][j]);
        if (status == Z_MEM_ERROR)
            return ExtractOutOfMemory;
        // A damaged slice is never written as if it had inflated.
        if (status != Z_OK)
            return ExtractWriteFailed;
        DWORD written = 0;
        if (!WriteFile(file, buffer, DWORD(length), &written, nullptr) || written != length)
            return ExtractWriteFailed;
    }
    return ExtractDone;
}

// Where the file of a stored name is going to be written: nothing below the
// folder is written through a link or junction that leads out of it.
bool MayWrite(const Journal& journal, const char* name, const char* target)
{
    return IsSystemName(name) || ResolvesWithin(target, journal.folderFinal);
}

enum Preparation { Prepared, Skipped, Refused };

// Makes way for file i: an existing file is renamed aside so that a rollback
// can put it back as it was; a file that cannot be written (held open,
// read-only) is skipped and never touched. Each step is journaled first.
Preparation MakeWay(Journal& journal, const char* name, const char* target)
{
    DWORD attributes = GetFileAttributesA(target);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return RecordStep(journal, JournalCreated, name) ? Prepared : Refused;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        return Skipped;
    // Opened for writing as the file would be rewritten, without cutting it: a
    // file some program holds is passed over.
    HANDLE probe = CreateFileA(target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE)
        return IsAccessDeniedError(GetLastError()) ? Skipped : Refused;
    CloseHandle(probe);
    char aside[PathBufferSize];
    // A file already under the set-aside name is not ours to put in place.
    if (!SetAsidePath(target, aside, sizeof aside) || GetFileAttributesA(aside) != INVALID_FILE_ATTRIBUTES
        || !RecordStep(journal, JournalSetAside, name))
        return Refused;
    if (MoveFileExA(target, aside, 0))
        return Prepared;
    return IsAccessDeniedError(GetLastError()) ? Skipped : Refused;
}

// Writes file i; ExtractDone when it was written or skipped.
int ExtractFile(const PayloadArchiveTables& archive, int i, unsigned char* buffer, Journal& journal)
{
    const char* name = archive.fileNames[i];
    char target[PathBufferSize];
    if (IsSystemName(name)) {
        if (!StoredNamePath("", name, target, sizeof target))
            return ExtractCannotCreate;
        if (NewerFileExists(target, archive.fileTimes[i]))
            return ExtractDone;
    } else if (!CopyText(target, sizeof target, name)) {
        return ExtractCannotCreate;
    }
    if (!MayWrite(journal, name, target) || !CreateParentFolders(target))
        return ExtractCannotCreate;
    switch (MakeWay(journal, name, target)) {
    case Skipped:
        return ExtractDone;
    case Refused:
        return ExtractCannotCreate;
    default:
        break;
    }

    HANDLE file = CreateFileA(target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return IsAccessDeniedError(GetLastError()) ? ExtractDone : ExtractCannotCreate;
    int result = WriteSlices(archive, i, file, buffer);
    if (!CloseHandle(file) && result == ExtractDone)
        result = ExtractWriteFailed;
    if (result == ExtractDone)
        SetStoredTime(target, archive.fileTimes[i]);
    return result;
}

int Percent(int i, int count)
{
    return int(int64_t(i) * 100 / count);
}

} // namespace

bool IsAccessDeniedError(DWORD error)
{
    switch (error) {
    case 5: case 16: case 65: case 82: case 83: case 108: case 132: case 158: case 167:
        return true;
    default:
        return error >= 19 && error <= 36;
    }
}

FILETIME FileTimeFromUnix(int64_t seconds)
{
    uint64_t ticks = uint64_t((seconds + UnixEpochInFileTimeSeconds) * FileTimeTicksPerSecond);
    FILETIME time = {DWORD(ticks), DWORD(ticks >> 32)};
    return time;
}

int64_t UnixFromFileTime(const FILETIME& time)
{
    uint64_t ticks = (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return int64_t(ticks / FileTimeTicksPerSecond) - UnixEpochInFileTimeSeconds;
}

int InflateSlice(unsigned char* buffer, unsigned long* length, const unsigned char* slice, unsigned long sliceLength)
{
    uLongf inflated = *length;
    int status = uncompress(buffer, &inflated, slice, sliceLength);
    *length = inflated;
    return status;
}

bool CreateParentFolders(const char* path)
{
    char prefix[PathBufferSize];
    for (size_t end = 0; path[end]; ++end) {
        if (!IsSeparator(path[end]))
            continue;
        if (end >= sizeof prefix)
            return false;
        for (size_t k = 0; k < end; ++k)
            prefix[k] = path[k];
        prefix[end] = '\0';
        // A bare drive, or the empty text before a leading separator, is no folder to make.
        if (end == 0 || (end == 2 && prefix[1] == ':'))
            continue;
        if (GetFileAttributesA(prefix) != INVALID_FILE_ATTRIBUTES)
            continue;
        if (!CreateDirectoryA(prefix, nullptr))
            return false;
    }
    return true;
}

int ExtractArchive(const PayloadArchiveTables& archive, HWND dialog, ProgressSink sink)
{
    unsigned char* buffer = static_cast<unsigned char*>(malloc(WorkBufferSize));
    if (!buffer)
        return ExtractOutOfMemory;
    // What a run before this one left unsettled is settled first: its journal
    // is the only record of what it replaced.
    char folder[PathBufferSize];
    DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
    Journal journal;
    if (length == 0 || length >= sizeof folder || SettleJournal(nullptr, nullptr, nullptr) != ExtractDone
        || !BeginJournal(journal, folder)) {
        free(buffer);
        return ExtractCannotCreate;
    }
    int result = ExtractDone;
    for (int i = 0; i < archive.fileCount && result == ExtractDone; ++i) {
        if (sink)
            sink(dialog, archive.fileNames[i], Percent(i, archive.fileCount));
        result = ExtractFile(archive, i, buffer, journal);
    }
    free(buffer);
    if (result == ExtractDone && !RecordStep(journal, JournalDone, ""))
        result = ExtractWriteFailed;
    CloseJournal(journal);
    if (result != ExtractDone)
        return result;
    // Done: what was set aside goes; a file still held goes at the next restart.
    SettleJournal(nullptr, nullptr, nullptr); // result deliberately ignored: a finished run's journal is settled by the next
    if (sink)
        sink(dialog, "", 100);
    return ExtractDone;
}

int ExtractPayload(HWND dialog, ProgressSink sink)
{
    return ExtractArchive(PayloadArchive, dialog, sink);
}

int RemoveExtractedFiles(HWND dialog, ProgressSink sink)
{
    return SettleJournal(nullptr, dialog, sink);
}

bool PayloadFitsFolder(const char* folder)
{
    for (int i = 0; i < PayloadArchive.fileCount; ++i) {
        const char* name = PayloadArchive.fileNames[i];
        // The set-aside name is the longest a file of this name takes.
        char aside[PathBufferSize];
        if (!IsSystemName(name) && (!SetAsidePath(name, aside, sizeof aside) || BrokenNameLimit(folder, aside) != 0))
            return false;
    }
    return true;
}
