// The restart's schedule: the files Windows renames, replaces or deletes when
// it restarts, a list kept in the registry where only administrators write.
#pragma once
#include <windows.h>

constexpr char SessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr WCHAR PendingValueW[] = L"PendingFileRenameOperations";

// The schedule read from the open Session Manager key, wide so that other
// programs' paths come back exactly as they were, with zeros after it that end
// its last text and the list however it was stored; count is its length in
// characters. Null when there is none (free it with free).
WCHAR* ReadRestartSchedule(HKEY key, size_t* count);
// The schedule's operations are pairs of texts: a source, then a target, ""
// for a deletion. Each path begins with the object manager's name of the DOS
// drives, "\??\", and a target that replaces a file with "!" before that.
// The DOS path of such a text; null for a text of another form.
const WCHAR* ScheduledPath(const WCHAR* scheduled);
// Writes the schedule again without the operations drops chooses (given
// each one's source and target and the context); false when it had to be
// written and could not be.
bool RewriteRestartSchedule(bool (*drops)(const WCHAR* source, const WCHAR* target, const void* context),
    const void* context);
// Whether the restart is to replace the file of this final path with another
// that is there to replace it.
bool ReplacementScheduledFor(const WCHAR* targetFinal);
// Makes the schedule durable; false when it may not be on disk.
bool FlushRestartSchedule();
// For the tests: how many times the schedule was made durable.
extern int RestartScheduleFlushes;
// For the tests: how a scheduled file is asked about (GetFileAttributesW), so
// that a test may answer as NTFS does where Wine answers otherwise.
extern DWORD(WINAPI* ScheduledFileAttributes)(const WCHAR* path);

// Takes out of the schedule every operation whose source or target lies in
// the folder (given by its final path, as the programs schedule theirs) and
// whose source is no longer there: a removal deleted it, or a run that was
// undone. The restart would find it missing, or would find a file made there
// since and move it. False when the schedule could not be written.
bool DropStaleScheduledFor(const WCHAR* folderFinal);
// Remembers where the source of every operation in the schedule leads now,
// for the run that begins: no name of those is used for a new file, which a
// restart before the run is done would move. False when memory ran out.
bool RememberScheduledSources();
// Whether the path (full or relative, of a file there or not) leads where a
// source remembered so did.
bool WasScheduledSource(const char* path);
