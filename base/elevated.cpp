#include <windows.h>
#include <shellapi.h>
#include "language.h"
#include "run.h"
#include "text.h"

BOOL(WINAPI* ElevatedStart)(SHELLEXECUTEINFOA* start) = ShellExecuteExA;

unsigned long StartElevated(const char* answers, int* exitCode)
{
    char program[PathBufferSize];
    char parameters[PathBufferSize * 4];
    DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
    *exitCode = ExitFailed;
    // The run's language goes along: the new process may belong to another
    // account, whose own interface language would otherwise choose.
    if (length == 0 || length >= sizeof program
        || !FormatText(parameters, sizeof parameters, "%s /LANG=%s %s", answers, RunLanguage().name,
            SkipProgramName(GetCommandLineA())))
        return ERROR_INSUFFICIENT_BUFFER;
    // In this process's current folder (no folder given), where a relative /LOG= leads.
    SHELLEXECUTEINFOA start = {};
    start.cbSize = sizeof start;
    start.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    start.lpVerb = "runas";
    start.lpFile = program;
    start.lpParameters = parameters;
    start.nShow = SW_SHOWNORMAL;
    if (!ElevatedStart(&start) || !start.hProcess) {
        DWORD error = GetLastError();
        *exitCode = error == ERROR_CANCELLED ? ExitDeclined : ExitFailed;
        return error ? error : ERROR_INVALID_HANDLE;
    }
    WaitForSingleObject(start.hProcess, INFINITE);
    DWORD code = ExitFailed;
    if (GetExitCodeProcess(start.hProcess, &code))
        *exitCode = int(code);
    CloseHandle(start.hProcess);
    return ERROR_SUCCESS;
}
