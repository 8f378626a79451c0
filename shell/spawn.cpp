#include "spawn.h"
#include "commands.h"
#include "run.h"
#include "globals.h"
#include "text.h"
#include <windows.h>

namespace {

const char* const ProgramSuffixes[] = {".com", ".exe", ".bat", ".cmd"};
constexpr int CommandLineSize = 2 * PathBufferSize;

bool FileExists(const char* path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

const char* FileNamePart(const char* program)
{
    const char* part = nullptr;
    for (const char* p = program; *p; ++p)
        if (*p == '\\' || *p == '/')
            part = p + 1;
    if (part)
        return part;
    for (const char* p = program; *p; ++p)
        if (*p == ':')
            return p + 1;
    return nullptr;
}

} // namespace

bool FindProgramFile(const char* program, char* found, unsigned size)
{
    const char* name = FileNamePart(program);
    const char* folder = name ? "" : ".\\";
    bool hasDot = false;
    for (const char* p = name ? name : program; *p; ++p)
        hasDot = hasDot || *p == '.';
    if (hasDot)
        return FormatText(found, size, "%s%s", folder, program) && FileExists(found);
    for (const char* suffix : ProgramSuffixes)
        if (FormatText(found, size, "%s%s%s", folder, program, suffix) && FileExists(found))
            return true;
    return false;
}

int SpawnAndWait(const char* program, const char* const* arguments, int count)
{
    char path[PathBufferSize];
    char commandLine[CommandLineSize];
    if (!FindProgramFile(program, path, sizeof path)) {
        LogLine("Not run, not found: %s", program);
        return -1;
    }
    if (!JoinArguments(commandLine, sizeof commandLine, arguments, count)) {
        LogLine("Not run, its command line is too long: %s", program);
        return -1;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(path, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        LogLine("Could not be run (error %d): %s", int(GetLastError()), commandLine);
        return -1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = DWORD(-1);
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    LogLine("Ran %s: exit code %d", commandLine, int(exitCode));
    return int(exitCode);
}
