#include "archive.h"
#include "architecture.h"
#include "code_page.h"
#include "file_system.h"
#include "flushing.h"
#include "globals.h"
#include "journal.h"
#include "record.h"
#include "names.h"
#include "payload.h"
#include "run.h"
#include "schedule.h"
#include "source.h"
#include "text.h"
#include "waiting.h"
#include <libdeflate.h>
#include <stdlib.h>

namespace {

constexpr int64_t UnixEpochInFileTimeSeconds = 11644473600LL;
constexpr int64_t FileTimeTicksPerSecond = 10000000LL;

// The archive as the run uses it: the compiled-in tables, or a copy whose
// names are held in the process's code page.
PayloadArchiveTables HeldArchive;
const PayloadArchiveTables* Archive = &PayloadArchive;
// The file a program holds open where the restart may not replace it.
char HeldTarget[PathBufferSize];

// A system file already there with a later time than ours is left alone.
bool NewerFileExists(const char* path, int32_t storedTime)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return false;
    return UnixFromFileTime(data.ftLastWriteTime) > storedTime;
}

// The run's files: the archive's, then the setup's own record of them.
const char* NameOf(const PayloadArchiveTables& archive, int i)
{
    return i < archive.fileCount ? archive.fileNames[i] : InstallRecordName;
}

// Each of the run's files has a step: staging it, then committing it; a file
// skipped has no staged name.
bool IsStaged(const JournalStep& step)
{
    return step.staged != NoSuffix;
}

// Decides whether file i is staged or skipped, and makes its folders.
int PlanFile(const PayloadArchiveTables& archive, int i, Journal& journal, JournalStep& step)
{
    const char* name = NameOf(archive, i);
    step = {JournalStaged, NoSuffix, NoSuffix, 0, name, false};
    SystemFileAccess access(IsSystemName(name));
    char target[PathBufferSize];
    if (!TargetOf(name, target, sizeof target))
        return ExtractCannotCreate;
    if (i < archive.fileCount && IsSystemName(name) && NewerFileExists(target, archive.fileTimes[i])) {
        LogLine("Skipped: %s, the system's own copy is newer", target);
        return ExtractDone;
    }
    if (!MayWrite(journal, name, target) || !CreateParentFolders(target)) {
        LogLine("Failed: %s, its folder could not be made within the installation folder", target);
        return ExtractCannotCreate;
    }
    int staged = NoSuffix;
    Preparation preparation = PrepareStep(journal, name, target, &staged);
    // Never the record: the earlier one would not name what this run writes.
    if (i == archive.fileCount && preparation != Prepared)
        preparation = Refused;
    switch (preparation) {
    case Prepared:
    case Deferred:
        step.staged = staged;
        step.held = preparation == Deferred;
        return ExtractDone;
    case Skipped:
        return ExtractDone;
    case Held: {
        DWORD length = GetFullPathNameA(target, sizeof HeldTarget, HeldTarget, nullptr);
        if (length == 0 || length >= sizeof HeldTarget)
            CopyText(HeldTarget, sizeof HeldTarget, target); // result deliberately ignored: a buffer of the same size
        return ExtractFileHeld;
    }
    default:
        LogLine("Failed: %s could not be replaced", target);
        return ExtractCannotCreate;
    }
}

// The names this run committed in each folder it wrote to are made durable,
// folder by folder, before the run may count as done.
bool FlushWrittenFolders(const PayloadArchiveTables& archive, const JournalStep* steps)
{
    char previous[PathBufferSize] = "";
    bool any = false;
    for (int i = 0; i <= archive.fileCount; ++i) {
        if (!IsStaged(steps[i]))
            continue;
        const char* name = NameOf(archive, i);
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

// Writes every inflated slice of file i into the open file, one write per slice.
int WriteSlices(const PayloadArchiveTables& archive, int i, HANDLE file)
{
    for (int j = 0; j < archive.sliceCounts[i]; ++j) {
        const unsigned char* content = nullptr;
        size_t length = 0;
        // A damaged slice is never written as if it had inflated.
        if (!archive.unpacker->next(i, j, &content, &length)) {
            LogLine("Failed: slice %d of %s is damaged", j, archive.fileNames[i]);
            return ExtractWriteFailed;
        }
        DWORD written = 0;
        if (!WriteFile(file, content, DWORD(length), &written, nullptr) || written != length)
            return ExtractWriteFailed;
    }
    return ExtractDone;
}

// Writes file i (or the record) under its staged name, with its stored time,
// and hands it over to be made durable.
int WriteStaged(const PayloadArchiveTables& archive, int i, Journal& journal, JournalStep& step,
    const WrittenNames& names)
{
    HANDLE file;
    if (!TakeStep(journal, step, &file)) {
        LogLine("Failed: %s could not be created (error %d)", step.name, int(GetLastError()));
        return ExtractCannotCreate;
    }
    bool record = i == archive.fileCount;
    int result = record ? WriteInstallRecord(file, journal.folderFinal, names)
                        : WriteSlices(archive, i, file);
    if (result == ExtractDone && !record) {
        FILETIME time = FileTimeFromUnix(archive.fileTimes[i]);
        SetFileTime(file, nullptr, &time, &time); // result deliberately ignored: the file keeps the time of writing
    }
    if (result == ExtractDone) {
        FlushAndClose(file);
        return ExtractDone;
    }
    CloseHandle(file); // result deliberately ignored: the run has failed, and its undo deletes the staged file
    LogLine("Failed: %s could not be written in full", step.name);
    return result;
}

// Which of the archive's files the run stages, one byte each; null without memory.
unsigned char* MarkStaged(const PayloadArchiveTables& archive, const JournalStep* steps)
{
    unsigned char* staged = static_cast<unsigned char*>(calloc(size_t(archive.fileCount) + 1, 1));
    for (int i = 0; staged && i < archive.fileCount; ++i)
        staged[i] = IsStaged(steps[i]);
    return staged;
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

namespace {

// Plans every file and records the group of their stagings.
int RecordStagings(const PayloadArchiveTables& archive, Journal& journal, JournalStep* steps, WrittenNames& names)
{
    int count = archive.fileCount + 1;
    int result = ExtractDone;
    for (int i = 0; i < count && result == ExtractDone; ++i) {
        result = PlanFile(archive, i, journal, steps[i]);
        if (result == ExtractDone && IsStaged(steps[i]) && !RecordStep(journal, steps[i]))
            result = ExtractWriteFailed;
    }
    if (result != ExtractDone)
        return result;
    if (!FlushSteps(journal))
        return ExtractWriteFailed;
    unsigned char* written = MarkStaged(archive, steps);
    bool sorted = written && SortWrittenNames(names, archive, written);
    free(written);
    if (!sorted) {
        LogLine("Failed: not enough memory for the record of the written files");
        return ExtractOutOfMemory;
    }
    return ExtractDone;
}

// Writes every staged file, each made durable while the next are written.
int WriteStagedFiles(const PayloadArchiveTables& archive, Journal& journal, JournalStep* steps,
    const WrittenNames& names, HWND dialog, ProgressSink sink)
{
    int count = archive.fileCount + 1;
    unsigned char* staged = MarkStaged(archive, steps);
    if (!staged) {
        LogLine("Failed: not enough memory to begin");
        return ExtractOutOfMemory;
    }
    StartFlushing();
    // The slices of the staged files are unpacked ahead of their writing,
    // from bytes checked as they are read.
    bool reading = BeginVerifiedReading(archive.unpacker->readsAhead);
    bool unpacking = reading && archive.unpacker->start(archive, staged);
    int result = unpacking ? ExtractDone : ExtractOutOfMemory;
    for (int i = 0; i < count && result == ExtractDone; ++i) {
        if (sink && i < archive.fileCount)
            sink(dialog, archive.fileNames[i], Percent(i, archive.fileCount));
        if (IsStaged(steps[i]))
            result = WriteStaged(archive, i, journal, steps[i], names);
    }
    if (unpacking)
        archive.unpacker->stop();
    // Nothing is put in place before every byte of the payload was checked,
    // those of the files this run passed over too.
    if (result == ExtractDone)
        VerifyUnreadSpans(); // result deliberately ignored: the reading's end says it
    if (reading && !EndVerifiedReading())
        result = ExtractPayloadDamaged;
    free(staged);
    if (!FinishFlushing() && result == ExtractDone) {
        LogLine("Failed: the written files could not be made durable");
        result = ExtractWriteFailed;
    }
    return result;
}

// Records the group of every staged file's commit, takes them, and makes the
// names they put in each folder durable.
int CommitStagedFiles(const PayloadArchiveTables& archive, Journal& journal, JournalStep* steps)
{
    int count = archive.fileCount + 1;
    for (int i = 0; i < count; ++i)
        if (IsStaged(steps[i]) && (!PrepareCommit(journal, steps[i]) || !RecordStep(journal, steps[i])))
            return ExtractWriteFailed;
    if (!FlushSteps(journal))
        return ExtractWriteFailed;
    for (int i = 0; i < count; ++i)
        if (IsStaged(steps[i]) && !TakeStep(journal, steps[i])) {
            LogLine("Failed: %s could not be put in place", steps[i].name);
            return ExtractCannotCreate;
        }
    return FlushWrittenFolders(archive, steps) ? ExtractDone : ExtractWriteFailed;
}

// The run's steps, each group recorded and made durable before any of its
// steps is taken: every file's staging; then, every staged file written and
// durable, every file's commit; then the done record.
int RunSteps(const PayloadArchiveTables& archive, Journal& journal, JournalStep* steps, WrittenNames& names,
    HWND dialog, ProgressSink sink)
{
    int result = RecordStagings(archive, journal, steps, names);
    if (result == ExtractDone)
        result = WriteStagedFiles(archive, journal, steps, names, dialog, sink);
    if (result == ExtractDone)
        result = CommitStagedFiles(archive, journal, steps);
    if (result == ExtractDone && !RecordDone(journal)) {
        LogLine("Failed: the journal could not record that every file was written");
        result = ExtractWriteFailed;
    }
    return result;
}

} // namespace

namespace {

// The run's stored names, and its record's, sorted as the file system compares them; null without memory.
const char** SortRunNames(const PayloadArchiveTables& archive)
{
    const char** names = static_cast<const char**>(malloc(sizeof(char*) * (size_t(archive.fileCount) + 1)));
    for (int i = 0; names && i <= archive.fileCount; ++i)
        names[i] = NameOf(archive, i);
    if (names)
        SortPaths(names, archive.fileCount + 1);
    return names;
}

// Begins the journal of a run into the folder (the current directory) once
// what a run before it left unsettled is settled: its journal is the only
// record of what it replaced. What an earlier run or removal left in the
// restart's schedule for files of the folder that are gone goes.
int BeginExtraction(Journal& journal, const char* folder, const char* const* names, int count)
{
    if (SettleJournal(nullptr, nullptr, nullptr) != ExtractDone || !BeginJournal(journal, folder)) {
        LogLine("Failed: an earlier run's journal could not be settled, or this run's could not be begun");
        return ExtractCannotCreate;
    }
    journal.names = names;
    journal.nameCount = count;
    if (!RememberScheduledSources()) {
        CloseJournal(journal);
        LogLine("Failed: not enough memory to begin");
        return ExtractOutOfMemory;
    }
    if (!DropStaleScheduledFor(journal.folderFinal))
        LogLine("The restart's schedule could not be cleared of what no longer waits in the folder");
    return ExtractDone;
}

} // namespace

int ExtractArchive(const PayloadArchiveTables& archive, HWND dialog, ProgressSink sink)
{
    JournalStep* steps = static_cast<JournalStep*>(calloc(size_t(archive.fileCount) + 1, sizeof(JournalStep)));
    const char** names = SortRunNames(archive);
    char folder[PathBufferSize];
    DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
    Journal journal;
    int result = !steps || !names ? ExtractOutOfMemory
        : length == 0 || length >= sizeof folder ? ExtractCannotCreate
                                                 : BeginExtraction(journal, folder, names, archive.fileCount + 1);
    if (!steps || !names)
        LogLine("Failed: not enough memory to begin");
    // What a run that does not finish noted as kept, it kept no more: it is undone.
    int kept = KeptFilesNoted();
    WrittenNames written = {};
    if (result == ExtractDone) {
        result = RunSteps(archive, journal, steps, written, dialog, sink);
        CloseJournal(journal);
    }
    free(steps);
    if (result == ExtractDone) {
        // Done: what was set aside goes; a file still held goes at the next restart.
        SettleJournal(nullptr, nullptr, nullptr); // result deliberately ignored: a finished run's journal is settled by the next
        ForgetPendingDeletions(folder, written);
    } else {
        ForgetKeptFilesAfter(kept);
    }
    FreeWrittenNames(written);
    free(names);
    if (result != ExtractDone)
        return result;
    if (sink)
        sink(dialog, "", 100);
    return ExtractDone;
}

const char* FileHeldOpen()
{
    return HeldTarget;
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

int BeginPayloadCheck(bool wholeParts)
{
    int check = OpenProgramPayload(*Archive);
    if (check == PayloadWhole && wholeParts)
        StartPayloadCheck();
    return check;
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
