// Shell integration: Program Manager group and items, the uninstall entry, the
// product's services, the launch, and telling running copies to quit.
#pragma once
#include <windows.h>
#include <stddef.h>

// The Program Manager service and topic; a test program may link another name.
extern const char ProgmanServiceName[];

void OpenDdeClient();
// The product's group over Program Manager; where it does not make the group
// (or unattended, where it would open its window), as links for every user,
// and an item it does not make as a link beside the others. False when an
// item was made neither way.
bool CreateProductGroup();
// The Startup item, over Program Manager or as a link, in the installing
// user's Startup folder; the link's path goes to linkPath, for the install
// record. False when it could not be made.
bool AddStartupItem(char* linkPath, size_t size);
// The uninstaller's counterparts: the product's group, over Program Manager
// and wherever its links are; the Startup item, over Program Manager, in this
// user's Startup folder and, for the machine's installation, at the paths the
// install record keeps. Only a
// link that leads to the product is deleted; stays is told of each such link
// that could not be. RemoveProductGroup is false when the group stays in the
// folder Program Manager keeps its groups in (Program Manager did not delete
// it, and it holds what the product did not put there).
bool RemoveProductGroup(void (*stays)(const char* path));
void RemoveStartupItem(const char* const* recordedLinks, int count, void (*stays)(const char* path));
void CloseDdeClient();

// False when the entry, or its name or commands, could not be written: below
// the root of the run's mode, the machine's or the user's.
bool RegisterUninstallEntry();

// The service programs' runs, each waited for: true when it ran and ended with 0.
bool InstallAgentService();
bool RemoveAgentService();
// Its notice, the removal run, the pause and the installation run, whose
// failure it also shows.
bool ReplaceNtService(HWND owner);
bool RemoveNtService();
// Destroys the backdrop and its font, then starts the installed application.
void LaunchApplication(HWND backdrop, HFONT backdropFont);

// Tells the windows of running copies to quit: those whose title begins with
// the product's name (its displayName, or its name in the run's language) and
// whose program runs from the folder or below it.
void ShutDownRunningCopies(const char* folder);
// Whether a window is one of a running copy: its title begins with the name
// and its program's image path lies within the folder. Both paths are compared
// as given; an empty image path (one that could not be read) is never within.
bool IsRunningCopyWindow(const char* title, const char* displayName, const char* imagePath, const char* folder);
