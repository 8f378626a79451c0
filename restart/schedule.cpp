#include "schedule.h"
#include "code_page.h"
#include "file_system.h"
#include "path_limits.h"
#include "run.h"
#include "text.h"
#include <stdlib.h>
#include <string.h>

int RestartScheduleFlushes;
DWORD(WINAPI* ScheduledFileAttributes)(const WCHAR* path) = GetFileAttributesW;

namespace {

// The sources the schedule held when the run began, each a final path and its zero.
WCHAR* RememberedSources;
size_t RememberedLength;

// The operation at the position: its source, its target, and its length with
// both zeros; false at the end. The zeros after the value end a last text.
bool PairAt(const WCHAR* pending, size_t count, size_t at, const WCHAR** source, const WCHAR** target,
    size_t* length)
{
    if (at >= count || !pending[at])
        return false;
    *source = pending + at;
    size_t sourceLength = size_t(lstrlenW(*source)) + 1;
    *target = *source + sourceLength;
    *length = sourceLength + size_t(lstrlenW(*target)) + 1;
    return true;
}

// A scheduled path in the process's code page; false when it has no place there.
bool NarrowScheduledPath(const WCHAR* scheduled, char* out, size_t size)
{
    const WCHAR* path = ScheduledPath(scheduled);
    return path && NarrowText(path, out, size);
}

// Asked by the wide path as the schedule holds it: another program's file whose name has no place in
// the process's code page is there all the same, and what it waits for must not be dropped as stale.
// Asked in its \\?\ form, which knows no MAX_PATH; only a file Windows says is not there is gone, as
// one it will not show (access denied) may well be. A path through a file is not there either: NTFS
// says so with ERROR_DIRECTORY where the file is its last folder. A text of another form may name
// something that is there.
bool IsThere(const WCHAR* scheduled)
{
    const WCHAR* path = ScheduledPath(scheduled);
    if (!path)
        return true;
    const WCHAR prefix[] = L"\\\\?\\";
    size_t length = size_t(lstrlenW(path)) + 1;
    WCHAR* whole = static_cast<WCHAR*>(malloc((length + 4) * sizeof(WCHAR)));
    if (!whole)
        return true;
    memcpy(whole, prefix, 4 * sizeof(WCHAR));
    memcpy(whole + 4, path, length * sizeof(WCHAR));
    DWORD attributes = ScheduledFileAttributes(whole);
    DWORD error = GetLastError();
    free(whole);
    return attributes != INVALID_FILE_ATTRIBUTES
        || (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND && error != ERROR_DIRECTORY);
}

// The schedule names what the programs leave there by its final path at the
// time: a path within the folder's final path, as the schedule spells it.
bool LiesIn(const WCHAR* scheduled, const WCHAR* folderFinal)
{
    const WCHAR* path = ScheduledPath(scheduled);
    return path && FinalPathIsWithin(path, folderFinal + 4);
}

// For support: what a run takes out of the schedule may have been another program's.
void LogTakenOut(const WCHAR* source, const WCHAR* target)
{
    const char unshown[] = "(a path the log cannot show)";
    char from[PathBufferSize];
    char to[PathBufferSize];
    if (!NarrowScheduledPath(source, from, sizeof from))
        CopyText(from, sizeof from, unshown);
    if (!target[0]) {
        LogLine("Taken out of the restart's schedule: the deletion of %s", from);
        return;
    }
    if (!NarrowScheduledPath(target, to, sizeof to))
        CopyText(to, sizeof to, unshown);
    LogLine("Taken out of the restart's schedule: %s > %s", from, to);
}

bool StaleInFolder(const WCHAR* source, const WCHAR* target, const void* folderFinal)
{
    const WCHAR* folder = static_cast<const WCHAR*>(folderFinal);
    return (LiesIn(source, folder) || (target[0] && LiesIn(target, folder))) && !IsThere(source);
}

} // namespace

WCHAR* ReadRestartSchedule(HKEY key, size_t* count)
{
    DWORD type = 0;
    DWORD size = 0;
    WCHAR* pending = nullptr;
    if (RegQueryValueExW(key, PendingValueW, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_MULTI_SZ
        && size > 0)
        pending = static_cast<WCHAR*>(calloc(size / sizeof(WCHAR) + 3, sizeof(WCHAR)));
    if (pending
        && RegQueryValueExW(key, PendingValueW, nullptr, &type, reinterpret_cast<BYTE*>(pending), &size)
            == ERROR_SUCCESS) {
        *count = size / sizeof(WCHAR);
        return pending;
    }
    free(pending);
    return nullptr;
}

const WCHAR* ScheduledPath(const WCHAR* scheduled)
{
    const WCHAR prefix[] = L"\\??\\";
    scheduled += scheduled[0] == L'!' ? 1 : 0;
    for (size_t i = 0; prefix[i]; ++i)
        if (scheduled[i] != prefix[i])
            return nullptr;
    return scheduled + lstrlenW(prefix);
}

bool RewriteRestartSchedule(bool (*drops)(const WCHAR* source, const WCHAR* target, const void* context),
    const void* context)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManagerKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key)
        != ERROR_SUCCESS)
        return false;
    size_t count = 0;
    WCHAR* pending = ReadRestartSchedule(key, &count);
    bool written = true;
    if (pending) {
        size_t kept = 0;
        size_t length = 0;
        const WCHAR* source;
        const WCHAR* target;
        bool dropped = false;
        // The kept operations move down in place.
        for (size_t at = 0; PairAt(pending, count, at, &source, &target, &length); at += length) {
            if (drops(source, target, context)) {
                LogTakenOut(source, target);
                dropped = true;
                continue;
            }
            memmove(pending + kept, source, length * sizeof(WCHAR));
            kept += length;
        }
        pending[kept] = L'\0';
        if (dropped && kept == 0)
            written = RegDeleteValueW(key, PendingValueW) == ERROR_SUCCESS;
        else if (dropped)
            written = RegSetValueExW(key, PendingValueW, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(pending),
                          DWORD((kept + 1) * sizeof(WCHAR)))
                == ERROR_SUCCESS;
    }
    free(pending);
    RegCloseKey(key);
    return written;
}

bool ReplacementScheduledFor(const WCHAR* targetFinal)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManagerKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    size_t count = 0;
    WCHAR* pending = ReadRestartSchedule(key, &count);
    bool found = false;
    const WCHAR* wanted = targetFinal + (CompareStringOrdinal(targetFinal, 4, L"\\\\?\\", 4, FALSE) == CSTR_EQUAL ? 4 : 0);
    size_t length = 0;
    const WCHAR* source;
    const WCHAR* target;
    for (size_t at = 0; pending && !found && PairAt(pending, count, at, &source, &target, &length); at += length)
        found = target[0] == L'!' && ScheduledPath(target)
            && CompareStringOrdinal(ScheduledPath(target), -1, wanted, -1, TRUE) == CSTR_EQUAL && IsThere(source);
    free(pending);
    RegCloseKey(key);
    return found;
}

bool FlushRestartSchedule()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManagerKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    bool flushed = RegFlushKey(key) == ERROR_SUCCESS;
    RegCloseKey(key);
    RestartScheduleFlushes += flushed ? 1 : 0;
    return flushed;
}

bool DropStaleScheduledFor(const WCHAR* folderFinal)
{
    return RewriteRestartSchedule(StaleInFolder, folderFinal);
}

bool RememberScheduledSources()
{
    free(RememberedSources);
    RememberedSources = nullptr;
    RememberedLength = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManagerKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return true;
    size_t count = 0;
    WCHAR* pending = ReadRestartSchedule(key, &count);
    RegCloseKey(key);
    bool whole = true;
    size_t length = 0;
    const WCHAR* source;
    const WCHAR* target;
    for (size_t at = 0; pending && PairAt(pending, count, at, &source, &target, &length); at += length) {
        WCHAR final[FinalPathSize];
        char path[PathBufferSize];
        if (!NarrowScheduledPath(source, path, sizeof path) || !FinalPathNow(path, final, FinalPathSize))
            continue;
        size_t size = size_t(lstrlenW(final)) + 1;
        WCHAR* grown = static_cast<WCHAR*>(realloc(RememberedSources, (RememberedLength + size) * sizeof(WCHAR)));
        whole = grown != nullptr;
        if (!grown)
            break;
        RememberedSources = grown;
        CopyMemory(RememberedSources + RememberedLength, final, size * sizeof(WCHAR));
        RememberedLength += size;
    }
    free(pending);
    return whole;
}

bool WasScheduledSource(const char* path)
{
    if (RememberedLength == 0)
        return false;
    char full[PathBufferSize];
    WCHAR final[FinalPathSize];
    DWORD length = GetFullPathNameA(path, sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full || !FinalPathNow(full, final, FinalPathSize))
        return false;
    for (const WCHAR* at = RememberedSources; at < RememberedSources + RememberedLength; at += lstrlenW(at) + 1)
        if (SameFinalPath(at, final))
            return true;
    return false;
}
