// The setup sequence: the one place that knows the order of a run.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>
#include "run.h"

// Runs the whole installation as the switches ask (the folder /D= requests,
// empty: the one it proposes; for whom); returns the run's exit code.
int SetupSequence(HINSTANCE instance, const RunSwitches& switches);
// What a setup that finds itself damaged says, with the damaged file's path.
extern const EnglishText DamagedFormat;

// For whom the switches and the product ask the setup to install: for
// everyone on the computer, for the user alone, the user to be asked (a
// product that allows both, interactive, without /CURRENTUSER or /ALLUSERS;
// unattended, it takes the machine, its manifest's default), or refused (a
// switch for a mode the product does not allow).
enum ModeRequest { ForMachineRequested, ForUserRequested, UserAsked, ModeRefused };
ModeRequest RequestedMode(const RunSwitches& switches);

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
