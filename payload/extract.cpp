#include "archive.h"
#include "globals.h"
#include "names.h"
#include "payload.h"
#include "text.h"
#include <stdlib.h>
#include <zlib.h>

namespace {

constexpr int64_t UnixEpochInFileTimeSeconds = 11644473600LL;
constexpr int64_t FileTimeTicksPerSecond = 10000000LL;

// The path in the system directory that a SYSTEM\ name denotes.
bool BuildSystemPath(const char* name, char* target, size_t size)
{
    UINT length = GetSystemDirectoryA(target, UINT(size));
    if (length == 0 || length >= size)
        return false;
    if (!IsSeparator(target[length - 1]) && !AppendText(target, size, "\\"))
        return false;
    return AppendText(target, size, name + SystemPrefixLength);
}

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

// Writes file i; ExtractDone when it was written or skipped.
int ExtractFile(const PayloadArchiveTables& archive, int i, unsigned char* buffer)
{
    const char* name = archive.fileNames[i];
    char target[PathBufferSize];
    if (IsSystemName(name)) {
        if (!BuildSystemPath(name, target, sizeof target))
            return ExtractCannotCreate;
        if (NewerFileExists(target, archive.fileTimes[i]))
            return ExtractDone;
    } else if (!CopyText(target, sizeof target, name)) {
        return ExtractCannotCreate;
    }
    if (!CreateParentFolders(target))
        return ExtractCannotCreate;

    HANDLE file = CreateFileA(target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
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
    for (int i = 0; i < archive.fileCount; ++i) {
        if (sink)
            sink(dialog, archive.fileNames[i], Percent(i, archive.fileCount));
        int result = ExtractFile(archive, i, buffer);
        if (result != ExtractDone) {
            free(buffer);
            return result;
        }
    }
    free(buffer);
    if (sink)
        sink(dialog, "", 100);
    return ExtractDone;
}

int RemoveArchiveFiles(const PayloadArchiveTables& archive, HWND dialog, ProgressSink sink)
{
    for (int i = 0; i < archive.fileCount; ++i) {
        const char* name = archive.fileNames[i];
        if (sink)
            sink(dialog, name, Percent(i, archive.fileCount));
        HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            continue;
        CloseHandle(file);
        if (!DeleteFileA(name))
            return 0;
    }
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
    return RemoveArchiveFiles(PayloadArchive, dialog, sink);
}

bool PayloadFitsFolder(const char* folder)
{
    for (int i = 0; i < PayloadArchive.fileCount; ++i) {
        const char* name = PayloadArchive.fileNames[i];
        if (!IsSystemName(name) && BrokenNameLimit(folder, name) != 0)
            return false;
    }
    return true;
}
