// The setup sequence: the one place that knows the order of a run.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>

// Runs the whole installation into the requested folder (empty: the one it
// proposes); returns the run's exit code.
int SetupSequence(HINSTANCE instance, const char* requestedFolder);

// Whether every text the run derives from the folder fits its buffer: the
// product's paths and commands, and each payload file's path below it.
bool FolderFitsProduct(const char* folder);

// Free space: the root whose drive is measured, and the arithmetic on the
// answer of the query. The root is empty when the drive cannot be told.
constexpr int FreeSpaceRootSize = 4;
void FreeSpaceRoot(const char* folder, char currentDrive, char* root);

struct DiskFreeSpace {
    uint32_t sectorsPerCluster;
    uint32_t bytesPerSector;
    uint32_t freeClusters;
};
// True when the drive has room for requiredMegabytes; otherwise the
// megabytes that are available.
bool FreeSpaceSufficient(const DiskFreeSpace& space, int32_t requiredMegabytes, int* availableMegabytes);
// Measures the drive of InstallFolder. A failing query passes.
bool FreeSpaceTest(char* root, int* availableMegabytes);
