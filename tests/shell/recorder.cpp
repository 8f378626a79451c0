// A stand-in for the product's helper programs: appends what it was started
// with to the log named by SETUP_RECORD_LOG and exits with SETUP_RECORD_EXIT.
// Started without the test's environment (by the desktop shell, as the
// signed-in user), it appends to the log beside itself, its path and ".log",
// when a test has made that file; else (as a service, say) it logs nothing,
// leaving no stray file in a folder a test removes.
// Each line: program file name | command line | current folder | backdrop 0/1
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char log[MAX_PATH], exitCode[16] = "0", program[MAX_PATH], folder[MAX_PATH];
    GetModuleFileNameA(nullptr, program, sizeof program);
    bool named = GetEnvironmentVariableA("SETUP_RECORD_LOG", log, sizeof log) != 0;
    if (!named
        && (snprintf(log, sizeof log, "%s.log", program) >= int(sizeof log)
            || GetFileAttributesA(log) == INVALID_FILE_ATTRIBUTES))
        return 99;
    GetEnvironmentVariableA("SETUP_RECORD_EXIT", exitCode, sizeof exitCode);
    GetCurrentDirectoryA(sizeof folder, folder);
    const char* name = strrchr(program, '\\') ? strrchr(program, '\\') + 1 : program;
    bool backdrop = FindWindowA("install", nullptr) != nullptr;
    if (FILE* out = fopen(log, "a")) {
        fprintf(out, "%s|%s|%s|%d\n", name, GetCommandLineA(), folder, backdrop ? 1 : 0);
        fclose(out);
    }
    return atoi(exitCode);
}
