#include "sequence.h"
#include "globals.h"
#include "product.h"
#include "run.h"

namespace {
constexpr uint64_t BytesPerMegabyte = 1048576;
}

void FreeSpaceRoot(const char* folder, char currentDrive, char* root)
{
    if (folder[0] && folder[1] == ':') {
        // The drive letter, the colon and whatever comes third (normally a backslash).
        root[0] = folder[0];
        root[1] = ':';
        root[2] = folder[2];
        root[3] = '\0';
    } else if (currentDrive) {
        root[0] = currentDrive;
        root[1] = ':';
        root[2] = '/';
        root[3] = '\0';
    } else {
        root[0] = '\0';
    }
}

bool FreeSpaceSufficient(const DiskFreeSpace& space, int32_t requiredMegabytes, int* availableMegabytes)
{
    // 64-bit, so that neither a large requirement nor a large drive wraps around.
    uint64_t bytesPerCluster = uint64_t(space.sectorsPerCluster) * space.bytesPerSector;
    if (bytesPerCluster == 0)
        return true;
    uint64_t requiredClusters = uint64_t(uint32_t(requiredMegabytes)) * BytesPerMegabyte / bytesPerCluster;
    if (space.freeClusters >= requiredClusters)
        return true;
    // Less than the requirement, so it fits what the message can show.
    *availableMegabytes = int(uint64_t(space.freeClusters) * bytesPerCluster / BytesPerMegabyte);
    return false;
}

bool FreeSpaceTest(char* root, int* availableMegabytes)
{
    char current[PathBufferSize];
    DWORD length = GetCurrentDirectoryA(sizeof current, current);
    char drive = (length >= 2 && length < sizeof current && current[1] == ':') ? current[0] : '\0';
    FreeSpaceRoot(InstallFolder, drive, root);

    DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
    if (!root[0] || !GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters)) {
        LogLine("Free space: the drive of the folder does not tell it");
        return true;
    }
    DiskFreeSpace space = {sectorsPerCluster, bytesPerSector, freeClusters};
    uint64_t freeMegabytes = uint64_t(freeClusters) * sectorsPerCluster * bytesPerSector / BytesPerMegabyte;
    LogLine("Free space on %s: %d megabytes, %d required", root,
        int(freeMegabytes > 0x7FFFFFFF ? 0x7FFFFFFF : freeMegabytes), int(ProductConfig.requiredMegabytes));
    return FreeSpaceSufficient(space, ProductConfig.requiredMegabytes, availableMegabytes);
}
