// The restart's schedule: the files Windows renames, replaces or deletes when
// it restarts, a list kept in the registry where only administrators write.
#pragma once
#include <windows.h>

constexpr char SessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr WCHAR PendingValueW[] = L"PendingFileRenameOperations";

// Whether the restart is to replace the file of this final path with another.
bool ReplacementScheduledFor(const WCHAR* targetFinal);
// Makes the schedule durable; false when it may not be on disk.
bool FlushRestartSchedule();
