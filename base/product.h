// The compiled-in product: the one record that makes this program the setup of
// one product, and its licence text. Both are generated from the product's
// manifest; a test program may link other values.
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

extern const ProductConfigRecord ProductConfig;
extern const char AgreementText[];

// Fixed file names of the product's uninstaller and agent service.
constexpr const char UninstallerFileName[] = "pmuninst.exe";
constexpr const char AgentServiceFileName[] = "pmagent.exe";
