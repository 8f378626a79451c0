// Shell integration: Program Manager group and items, the uninstall entry, the
// product's services, the launch, and telling running copies to quit.
#pragma once
#include <windows.h>
#include <stddef.h>

void OpenDdeClient();
void CreateProductGroup();
void AddStartupItem();
void CloseDdeClient();

void RegisterUninstallEntry();
void InstallAgentService();
void ReplaceNtService(HWND owner);
// Destroys the backdrop and its font, then starts the installed application.
void LaunchApplication(HWND backdrop, HFONT backdropFont);

void ShutDownRunningCopies();
