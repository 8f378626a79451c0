// The shape of the product's compiled-in records (see product.h).
#pragma once
#include <stdint.h>

struct ProductConfigRecord {
    const char* folderName;
    const char* displayName;
    const char* profileFile;
    int32_t offerStartupGroup;
    const char* startupPrompt;
    const char* mainExecutable;
    const char* startupArguments;
    int32_t warnOfRunningCopies;
    int32_t startupMinimized;
    int32_t useAgentService;
    const char* serviceExecutable;
    const char* servicePrompt;
    int32_t requiredMegabytes;
};

// What Programs and Features shows beside the name; an empty text is not
// written, and an earlier version's value of it is deleted.
struct ProductDetailsRecord {
    const char* publisher;
    const char* version;
    uint32_t estimatedSizeKilobytes; // of the whole payload
    // Nonzero for a 64-bit product (architecture x64): its programs are
    // 64-bit, its folder, registry keys and system files 64-bit Windows'.
    int32_t sixtyFourBit;
    // For whom the product is installed (installFor): InstallForMachine,
    // InstallForUser, or InstallForAsk, where the user chooses.
    int32_t installFor;
};

// What the setup wrote below the installation folder; written by the packer.
struct UninstallTables {
    int32_t fileCount;
    const char* const* fileNames;   // in installation order, separated by backslashes
    int32_t folderCount;
    const char* const* folderNames; // the folders those names need, innermost first
};

constexpr int32_t InstallForMachine = 0;
constexpr int32_t InstallForUser = 1;
constexpr int32_t InstallForAsk = 2;
