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
    // On Arm64 Windows an x86 program is told of an x86 machine; Windows 10
    // version 1511 and later name the real one.
    typedef BOOL(WINAPI * MachineQuery)(HANDLE, USHORT*, USHORT*);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    MachineQuery query = kernel
        ? reinterpret_cast<MachineQuery>(reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process2")))
        : nullptr;
    USHORT process = 0;
    USHORT native = 0;
    if (query && query(GetCurrentProcess(), &process, &native))
        return native == IMAGE_FILE_MACHINE_AMD64 || native == IMAGE_FILE_MACHINE_ARM64;
    SYSTEM_INFO system;
    GetNativeSystemInfo(&system);
    return system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64
        || system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_ARM64;
}
