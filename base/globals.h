// Process-global state shared by the steps of a run. The sequence fills it in
// order; each subsystem reads only what it needs.
#pragma once
#include "path_limits.h"
#include <windows.h>

extern char InstallFolder[PathBufferSize];
extern char ApplicationPath[PathBufferSize];
extern char StartupCommand[PathBufferSize];
extern char UninstallerPath[PathBufferSize];

// Whether the system is of the Windows NT platform. In a file of its own so a
// test program can link its own answer.
bool IsNtPlatform();
// Loads DLLs only from the system directory, never from the program's own
// folder (a downloads folder, or an installation folder a user may write to).
void RestrictDllSearch();
