#include "schedule.h"
#include <stdlib.h>

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

bool ReplacementScheduledFor(const WCHAR* targetFinal)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManagerKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    size_t count = 0;
    WCHAR* pending = ReadRestartSchedule(key, &count);
    bool found = false;
    if (pending) {
        // Pairs of source and target; a replacing target is "!" and its NT path.
        const WCHAR* wanted = targetFinal + (CompareStringOrdinal(targetFinal, 4, L"\\\\?\\", 4, FALSE) == CSTR_EQUAL ? 4 : 0);
        for (size_t at = 0; at < count && pending[at] && !found;) {
            const WCHAR* target = pending + at + lstrlenW(pending + at) + 1;
            at = size_t(target - pending) + size_t(lstrlenW(target)) + 1;
            found = CompareStringOrdinal(target, 5, L"!\\??\\", 5, FALSE) == CSTR_EQUAL
                && CompareStringOrdinal(target + 5, -1, wanted, -1, TRUE) == CSTR_EQUAL;
        }
    }
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
    return flushed;
}
