#include "waiting.h"
#include "architecture.h"
#include "code_page.h"
#include "file_system.h"
#include "names.h"
#include "path_limits.h"
#include "places.h"
#include "restart.h"
#include "run.h"
#include "schedule.h"
#include "text.h"
#include <shlobj.h>

namespace {

// The files this run could only leave for Windows to delete when it restarts.
int ScheduledFiles;
int ReplacedAtRestart;
bool ScheduledReplacements; // by this settling, not yet made durable
// The read-only files the run kept, for the user to be told of.
char KeptList[KeptListSize];
int KeptCount;

} // namespace

// Not in the Windows folder: every user may make folders in some of its own
// (its Temp, its Tasks). Never for one user's installation: the restart acts
// with the system's rights, which a user's run may not ask for.
bool RestartMayActWithin(const WCHAR* folderFinal)
{
    if (RunMode == UserMode)
        return false;
    const int places[] = {CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86, -1};
    char folder[PathBufferSize];
    WCHAR final[FinalPathSize];
    for (int place : places) {
        // The 64-bit programs' folder, which a 32-bit program is not told: where Windows keeps it.
        bool found = place < 0 ? ReadSixtyFourBitProgramsFolder(folder, sizeof folder)
                               : SystemFolderPath(place, folder, sizeof folder);
        if (found && FinalFolderPath(folder, final, FinalPathSize) && FinalPathIsWithin(folderFinal, final))
            return true;
    }
    return false;
}

bool ReplacementWaits(const WCHAR* folderFinal, const char* name)
{
    WCHAR target[FinalPathSize];
    size_t folder = size_t(lstrlenW(folderFinal));
    if (folder + 1 >= FinalPathSize)
        return false;
    CopyMemory(target, folderFinal, folder * sizeof(WCHAR));
    target[folder] = L'\\';
    if (!MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, -1, target + folder + 1, int(FinalPathSize - folder - 1)))
        return false;
    for (WCHAR* at = target; *at; ++at)
        *at = *at == L'/' ? L'\\' : *at;
    return ReplacementScheduledFor(target);
}

// A name that does not fit is counted: the list says how many more there are.
void NoteKept(const char* target)
{
    size_t used = TextLength(KeptList);
    if (!FormatText(KeptList + used, sizeof KeptList - used, "%s\r\n", target))
        KeptList[used] = '\0';
    ++KeptCount;
}

int KeptFilesNoted()
{
    return KeptCount;
}

void ForgetKeptFilesAfter(int count)
{
    if (count >= KeptCount)
        return;
    // The list ends after the line of the count-th name, or where it ends.
    char* end = KeptList;
    for (int line = 0; line < count && *end; ++end)
        line += *end == '\n' ? 1 : 0;
    *end = '\0';
    KeptCount = count;
}

// No drive letter of a session's own, no link as it leads now.
bool ScheduleReplacement(HANDLE file, int number, const char* path, const char* staged)
{
    // The target is the staged file's final path without its staged suffix.
    WCHAR source[FinalPathSize];
    WCHAR target[FinalPathSize];
    size_t suffix = TextLength(StagedSuffix) + (number > 0 ? 2 : 0);
    bool named = FinalPathOf(file, source, FinalPathSize) && size_t(lstrlenW(source)) > suffix;
    CloseHandle(file);
    if (named) {
        CopyMemory(target, source, sizeof source);
        target[lstrlenW(source) - suffix] = L'\0';
    }
    bool scheduled = named && MoveFileExW(source, target, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING);
    ScheduledFiles += scheduled ? 1 : 0;
    ReplacedAtRestart += scheduled ? 1 : 0;
    ScheduledReplacements = ScheduledReplacements || scheduled;
    LogLine(scheduled ? "In use: %s, replaced by %s when Windows restarts" : "In use: %s, and %s could not be left for the restart",
        path, staged);
    return scheduled;
}

bool MakeReplacementsDurable()
{
    bool durable = !ScheduledReplacements || FlushRestartSchedule();
    ScheduledReplacements = false;
    return durable;
}

namespace {

bool IsThisProgram(const char* path)
{
    char module[PathBufferSize];
    DWORD length = GetModuleFileNameA(nullptr, module, sizeof module);
    return length > 0 && length < sizeof module && SamePath(path, module);
}

} // namespace

bool LeaveRunsFileForRestart(HANDLE file, const char* path)
{
    char moved[PathBufferSize];
    bool own = IsThisProgram(path);
    bool left = LeaveForRestart(file, path, moved, sizeof moved);
    // One user's run leaves it in the temporary folder: nothing waits for a restart.
    bool waits = left && RunMode == MachineMode;
    ScheduledFiles += waits && !own ? 1 : 0;
    if (left)
        LogLine(waits ? "In use: %s, moved to %s and deleted when Windows restarts" : "In use: %s, moved to %s", path, moved);
    return left;
}

int ReadOnlyFilesKept(char* list, size_t size)
{
    int listed = 0;
    for (const char* at = KeptList; *at; ++at)
        listed += *at == '\n' ? 1 : 0;
    bool whole = listed == KeptCount ? CopyText(list, size, KeptList)
                                     : FormatText(list, size, "%s... and %d more.", KeptList, KeptCount - listed);
    if (!whole)
        list[0] = '\0';
    return KeptCount;
}

int FilesReplacedAtRestart()
{
    return ReplacedAtRestart;
}

int FilesAwaitingRestart()
{
    return ScheduledFiles;
}
