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
// Whether the restart is to replace the file of this final path with another.
bool ReplacementScheduledFor(const WCHAR* targetFinal);
// Makes the schedule durable; false when it may not be on disk.
bool FlushRestartSchedule();
