// Shell integration: Program Manager group and items, the uninstall entry, the
// product's services, the launch, and telling running copies to quit.
#pragma once
#include <windows.h>
#include <stddef.h>

// The Program Manager service and topic; a test program may link another name.
extern const char ProgmanServiceName[];

void OpenDdeClient();
void CreateProductGroup();
void AddStartupItem();
// The uninstaller's counterparts: the product's group, and its item in Startup.
void RemoveProductGroup();
void RemoveStartupItem();
void CloseDdeClient();

void RegisterUninstallEntry();
void InstallAgentService();
void ReplaceNtService(HWND owner);
// Runs the NT service program with -remove-service and waits for it.
void RemoveNtService();
// Destroys the backdrop and its font, then starts the installed application.
void LaunchApplication(HWND backdrop, HFONT backdropFont);

// The progress dialog's item while running copies are told to quit.
constexpr char ShuttingDownProgressText[] = "Shutting Down Running Copies";
void ShutDownRunningCopies();
