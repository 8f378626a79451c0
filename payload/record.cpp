#include "record.h"
#include "file_system.h"
#include "lines.h"
#include "names.h"
#include "payload.h"
#include "text.h"
#include <stdlib.h>
#include <string.h>

namespace {

constexpr size_t WriteBufferSize = 32768;
const char SessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char PendingValue[] = "PendingFileRenameOperations";
// How a scheduled path begins: the object manager's name of the DOS drives.
const char PendingPrefix[] = "\\??\\";

const PayloadArchiveTables* SortingArchive;

int CompareWrittenNames(const void* a, const void* b)
{
    const char* const* names = SortingArchive->fileNames;
    return ComparePathText(names[*static_cast<const int*>(a)], names[*static_cast<const int*>(b)]);
}

// Lines go out through a fixed buffer, written whole when it fills.
struct RecordWriter {
    HANDLE file;
    char buffer[WriteBufferSize];
    size_t used;
    bool failed;
};

void Flush(RecordWriter& writer)
{
    DWORD written = 0;
    if (writer.used && (!WriteFile(writer.file, writer.buffer, DWORD(writer.used), &written, nullptr)
                           || written != writer.used))
        writer.failed = true;
    writer.used = 0;
}

void WriteName(RecordWriter& writer, const char* name)
{
    size_t length = TextLength(name);
    if (writer.used + length + 2 > sizeof writer.buffer)
        Flush(writer);
    for (size_t i = 0; i < length; ++i)
        writer.buffer[writer.used++] = name[i];
    writer.buffer[writer.used++] = '\r';
    writer.buffer[writer.used++] = '\n';
}

// What the earlier record named and this run did not write again.
void CopyEarlierNames(RecordWriter& writer, const char* earlier, const WrittenNames& names)
{
    LineReader reader;
    if (!OpenLines(reader, earlier))
        return;
    char name[PathBufferSize];
    while (ReadLine(reader, name, sizeof name))
        if (!StoredNameProblem(name) && !IsWrittenName(names, name))
            WriteName(writer, name);
    CloseLines(reader);
}

// The path of a scheduled deletion, or null for a renaming or a path of
// another form.
const char* ScheduledDeletion(const char* source, const char* target)
{
    if (target[0])
        return nullptr;
    size_t prefix = TextLength(PendingPrefix);
    for (size_t i = 0; i < prefix; ++i)
        if (source[i] != PendingPrefix[i])
            return nullptr;
    return source + prefix;
}

bool ForgetsDeletion(const char* path, const char* folder, const WrittenNames& names)
{
    if (!PathIsWithin(path, folder))
        return false;
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return true;
    const char* relative = path + TextLength(folder);
    relative += IsSeparator(*relative) ? 1 : 0;
    return IsWrittenName(names, relative);
}

} // namespace

bool SortWrittenNames(WrittenNames& names, const PayloadArchiveTables& archive, const unsigned char* written)
{
    names.archive = &archive;
    names.count = 0;
    names.order = static_cast<int*>(malloc(sizeof(int) * size_t(archive.fileCount ? archive.fileCount : 1)));
    if (!names.order)
        return false;
    for (int i = 0; i < archive.fileCount; ++i)
        if (written[i])
            names.order[names.count++] = i;
    SortingArchive = &archive;
    qsort(names.order, size_t(names.count), sizeof(int), CompareWrittenNames);
    return true;
}

bool IsWrittenName(const WrittenNames& names, const char* name)
{
    int low = 0;
    int high = names.count;
    while (low < high) {
        int middle = low + (high - low) / 2;
        int order = ComparePathText(names.archive->fileNames[names.order[middle]], name);
        if (order == 0)
            return true;
        if (order < 0)
            low = middle + 1;
        else
            high = middle;
    }
    return false;
}

void FreeWrittenNames(WrittenNames& names)
{
    free(names.order);
    names.order = nullptr;
}

int WriteInstallRecord(Journal& journal, const WrittenNames& names)
{
    char aside[PathBufferSize];
    if (!MayWrite(journal, InstallRecordName, InstallRecordName)
        || MakeWay(journal, InstallRecordName, InstallRecordName, aside, sizeof aside) != Prepared)
        return ExtractCannotCreate;
    RecordWriter* writer = static_cast<RecordWriter*>(malloc(sizeof(RecordWriter)));
    if (!writer)
        return ExtractOutOfMemory;
    writer->file = CreateNewFile(journal, InstallRecordName, InstallRecordName);
    if (writer->file == INVALID_HANDLE_VALUE) {
        free(writer);
        return ExtractCannotCreate;
    }
    writer->used = 0;
    writer->failed = false;
    if (aside[0])
        CopyEarlierNames(*writer, aside, names);
    for (int i = 0; i < names.archive->fileCount; ++i)
        if (IsWrittenName(names, names.archive->fileNames[i]))
            WriteName(*writer, names.archive->fileNames[i]);
    Flush(*writer);
    bool whole = !writer->failed && FlushFileBuffers(writer->file);
    whole = CloseHandle(writer->file) && whole;
    free(writer);
    return whole ? ExtractDone : ExtractWriteFailed;
}

void ForgetPendingDeletions(const char* folder, const WrittenNames& names)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManagerKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key)
        != ERROR_SUCCESS)
        return;
    DWORD type = 0;
    DWORD size = 0;
    char* pending = nullptr;
    if (RegQueryValueExA(key, PendingValue, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_MULTI_SZ
        && size > 0)
        pending = static_cast<char*>(malloc(size_t(size) + 2));
    if (pending && RegQueryValueExA(key, PendingValue, nullptr, &type, reinterpret_cast<BYTE*>(pending), &size)
            == ERROR_SUCCESS) {
        // Two zeros end the list however the value was stored.
        pending[size] = '\0';
        pending[size + 1] = '\0';
        // Pairs of source and target; the kept pairs move down in place.
        size_t kept = 0;
        bool forgot = false;
        for (size_t at = 0; at < size && pending[at];) {
            const char* source = pending + at;
            size_t sourceLength = TextLength(source) + 1;
            const char* target = source + sourceLength;
            size_t pairLength = sourceLength + TextLength(target) + 1;
            const char* deletion = ScheduledDeletion(source, target);
            if (deletion && ForgetsDeletion(deletion, folder, names)) {
                forgot = true;
            } else {
                memmove(pending + kept, source, pairLength);
                kept += pairLength;
            }
            at += pairLength;
        }
        pending[kept] = '\0';
        if (forgot && kept == 0)
            RegDeleteValueA(key, PendingValue); // result deliberately ignored: a deletion left scheduled only repeats the old fault
        else if (forgot)
            RegSetValueExA(key, PendingValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(pending),
                DWORD(kept + 1)); // result deliberately ignored: as above
    }
    free(pending);
    RegCloseKey(key);
}
