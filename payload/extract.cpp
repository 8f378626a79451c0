#include "archive.h"
#include "architecture.h"
#include "code_page.h"
#include "file_system.h"
#include "globals.h"
#include "journal.h"
#include "record.h"
#include "names.h"
#include "payload.h"
#include "run.h"
#include "text.h"
#include <libdeflate.h>
#include <stdlib.h>

namespace {

constexpr int64_t UnixEpochInFileTimeSeconds = 11644473600LL;
constexpr int64_t FileTimeTicksPerSecond = 10000000LL;

// The archive as the run uses it: the compiled-in tables, or a copy whose
// names are held in the process's code page.
PayloadArchiveTables HeldArchive;
const PayloadArchiveTables* Archive = &PayloadArchive;

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

// Where a stored name is written: in the system directory, or below the current one.
bool TargetOf(const char* name, char* out, size_t size)
{
    return IsSystemName(name) ? StoredNamePath("", name, out, size) : CopyText(out, size, name);
}

// The names this run made or renamed in each folder it wrote to are made
// durable, folder by folder, before the run may count as done.
bool FlushWrittenFolders(const PayloadArchiveTables& archive, const unsigned char* written)
{
    char previous[PathBufferSize] = "";
    bool any = false;
    for (int i = 0; i < archive.fileCount; ++i) {
        if (!written[i])
            continue;
        const char* name = archive.fileNames[i];
        SystemFileAccess access(IsSystemName(name));
        char target[PathBufferSize];
        char folder[PathBufferSize];
        if (!TargetOf(name, target, sizeof target) || !CopyText(folder, sizeof folder, target))
            return false;
        folder[FolderPartLength(folder, TextLength(folder))] = '\0';
        if (any && TextEquals(folder, previous))
            continue;
        any = true;
        CopyText(previous, sizeof previous, folder); // result deliberately ignored: a buffer of the same size
        if (!FlushFolderOf(target))
            return false;
    }
    return true;
}

// Inflates every slice of file i into the open file, one write per slice.
int WriteSlices(const PayloadArchiveTables& archive, int i, HANDLE file, unsigned char* buffer,
    libdeflate_decompressor* inflater)
{
    for (int j = 0; j < archive.sliceCounts[i]; ++j) {
        size_t length = WorkBufferSize;
        // A damaged slice is never written as if it had inflated.
        if (!InflateSlice(inflater, buffer, &length, archive.sliceData[i][j], archive.sliceLengths[i][j])) {
            LogLine("Failed: slice %d of %s is damaged", j, archive.fileNames[i]);
            return ExtractWriteFailed;
        }
        DWORD written = 0;
        if (!WriteFile(file, buffer, DWORD(length), &written, nullptr) || written != length)
            return ExtractWriteFailed;
    }
    return ExtractDone;
}

// Writes file i; ExtractDone when it was written or skipped.
int ExtractFile(const PayloadArchiveTables& archive, int i, unsigned char* buffer, libdeflate_decompressor* inflater,
    Journal& journal, unsigned char* wrote)
{
    const char* name = archive.fileNames[i];
    SystemFileAccess access(IsSystemName(name));
    char target[PathBufferSize];
    if (!TargetOf(name, target, sizeof target))
        return ExtractCannotCreate;
    if (IsSystemName(name) && NewerFileExists(target, archive.fileTimes[i])) {
        LogLine("Skipped: %s, the system's own copy is newer", target);
        return ExtractDone;
    }
    if (!MayWrite(journal, name, target) || !CreateParentFolders(target)) {
        LogLine("Failed: %s, its folder could not be made within the installation folder", target);
        return ExtractCannotCreate;
    }
    char aside[PathBufferSize];
    switch (MakeWay(journal, name, target, aside, sizeof aside)) {
    case Skipped:
        return ExtractDone;
    case Refused:
        LogLine("Failed: %s could not be replaced", target);
        return ExtractCannotCreate;
    default:
        break;
    }

    // Once its way is made the file must be written: the earlier one is set aside.
    HANDLE file = CreateNewFile(journal, name, target);
    if (file == INVALID_HANDLE_VALUE) {
        LogLine("Failed: %s could not be created (error %d)", target, int(GetLastError()));
        return ExtractCannotCreate;
    }
    int result = WriteSlices(archive, i, file, buffer, inflater);
    // On disk before the run is done and what it replaced is deleted.
    if (result == ExtractDone && !FlushFileBuffers(file))
        result = ExtractWriteFailed;
    if (!CloseHandle(file) && result == ExtractDone)
        result = ExtractWriteFailed;
    if (result == ExtractDone) {
        SetStoredTime(target, archive.fileTimes[i]);
        LogLine(aside[0] ? "Replaced: %s (the earlier file kept as %s until the run is done)" : "Written: %s", target,
            aside);
    } else {
        LogLine("Failed: %s could not be written in full", target);
    }
    *wrote = result == ExtractDone;
    return result;
}

int Percent(int i, int count)
{
    return int(int64_t(i) * 100 / count);
}

} // namespace

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

bool InflateSlice(libdeflate_decompressor* inflater, unsigned char* buffer, size_t* length, const unsigned char* slice,
    size_t sliceLength)
{
    size_t consumed = 0;
    return libdeflate_zlib_decompress_ex(inflater, slice, sliceLength, buffer, *length, &consumed, length)
        == LIBDEFLATE_SUCCESS
        && consumed == sliceLength;
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
    // One decompressor for every slice of the run: inflating then takes no memory.
    libdeflate_decompressor* inflater = libdeflate_alloc_decompressor();
    // Which files this run wrote, for the record.
    unsigned char* written = static_cast<unsigned char*>(calloc(size_t(archive.fileCount) + 1, 1));
    if (!buffer || !inflater || !written) {
        free(buffer);
        libdeflate_free_decompressor(inflater);
        free(written);
        LogLine("Failed: not enough memory to begin");
        return ExtractOutOfMemory;
    }
    // What a run before this one left unsettled is settled first: its journal
    // is the only record of what it replaced.
    char folder[PathBufferSize];
    DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
    Journal journal;
    if (length == 0 || length >= sizeof folder || SettleJournal(nullptr, nullptr, nullptr) != ExtractDone
        || !BeginJournal(journal, folder)) {
        free(buffer);
        libdeflate_free_decompressor(inflater);
        free(written);
        LogLine("Failed: an earlier run's journal could not be settled, or this run's could not be begun");
        return ExtractCannotCreate;
    }
    int result = ExtractDone;
    for (int i = 0; i < archive.fileCount && result == ExtractDone; ++i) {
        if (sink)
            sink(dialog, archive.fileNames[i], Percent(i, archive.fileCount));
        result = ExtractFile(archive, i, buffer, inflater, journal, written + i);
    }
    free(buffer);
    libdeflate_free_decompressor(inflater);
    if (result == ExtractDone && !FlushWrittenFolders(archive, written))
        result = ExtractWriteFailed;
    WrittenNames names = {};
    if (result == ExtractDone && !SortWrittenNames(names, archive, written)) {
        LogLine("Failed: not enough memory for the record of the written files");
        result = ExtractOutOfMemory;
    }
    free(written);
    if (result == ExtractDone) {
        result = WriteInstallRecord(journal, names);
        if (result != ExtractDone)
            LogLine("Failed: the record of the written files, %s, could not be written", InstallRecordName);
    }
    // The record's own name too, in the folder itself.
    if (result == ExtractDone && !FlushFolderOf(InstallRecordName))
        result = ExtractWriteFailed;
    if (result == ExtractDone && !RecordDone(journal)) {
        LogLine("Failed: the journal could not record that every file was written");
        result = ExtractWriteFailed;
    }
    CloseJournal(journal);
    if (result == ExtractDone) {
        // Done: what was set aside goes; a file still held goes at the next restart.
        SettleJournal(nullptr, nullptr, nullptr); // result deliberately ignored: a finished run's journal is settled by the next
        ForgetPendingDeletions(folder, names);
    }
    FreeWrittenNames(names);
    if (result != ExtractDone)
        return result;
    if (sink)
        sink(dialog, "", 100);
    return ExtractDone;
}

int ExtractPayload(HWND dialog, ProgressSink sink)
{
    return ExtractArchive(*Archive, dialog, sink);
}

bool HoldPayloadNames()
{
    if (UsesUtf8())
        return true;
    const char** names = static_cast<const char**>(malloc(sizeof(char*) * size_t(PayloadArchive.fileCount + 1)));
    if (!names || !HoldTexts(PayloadArchive.fileNames, PayloadArchive.fileCount, names)) {
        free(names);
        return false;
    }
    HeldArchive = PayloadArchive;
    HeldArchive.fileNames = names;
    Archive = &HeldArchive;
    return true;
}

int RemoveExtractedFiles(HWND dialog, ProgressSink sink)
{
    return SettleJournal(nullptr, dialog, sink);
}

bool PayloadFitsFolder(const char* folder)
{
    for (int i = 0; i < Archive->fileCount; ++i) {
        const char* name = Archive->fileNames[i];
        // The set-aside name is the longest a file of this name takes.
        char aside[PathBufferSize];
        if (!IsSystemName(name)
            && (!LongestSetAsideName(name, aside, sizeof aside) || BrokenNameLimit(folder, aside) != 0))
            return false;
    }
    return true;
}
