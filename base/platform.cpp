#include "architecture.h"
#include "globals.h"

bool IsNtPlatform()
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    // A failed query leaves the platform id 0, which counts as not NT.
    GetVersionExA(&version);
    return version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

bool IsWindows64Bit()
{
    SYSTEM_INFO system;
    GetNativeSystemInfo(&system);
    return system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64
        || system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_ARM64;
}
